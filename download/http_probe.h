// Body-less size probe of a package URL, the short fetch and the mirrors'
// capacity check.
#ifndef ZEL_DOWNLOAD_HTTP_PROBE_H_
#define ZEL_DOWNLOAD_HTTP_PROBE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "download/url_util.h"

namespace zel {

// Where a probe's log line goes: straight to the log when null, otherwise
// appended here, so probes running side by side can be logged in order.
using ProbeLog = std::vector<std::string>;

// The Content-Length a HEAD-style request reports for |url| (redirects
// followed, through |proxy| when it is not empty). 0xFFFFFFFF when the
// request fails, takes longer than kSizeProbeTimeoutS or reports no length,
// which never equals a configured size.
inline constexpr long kSizeProbeTimeoutS = 20;
std::uint32_t GetDownloadFileLength(const char* url, const std::string& proxy,
                                    ProbeLog* lines = nullptr);

// The body of |url| fetched within kFetchTextTimeoutS (at most
// kFetchTextLimit bytes of it are kept), or "error" when the fetch failed.
inline constexpr long kFetchTextTimeoutS = 2;
inline constexpr std::size_t kFetchTextLimit = 4096;
std::string FetchText(const std::string& url);

// Whether the mirror of |url| has spare capacity: its "/flag.php" body is
// at least two characters long and starts with "1". CDN URLs always have
// capacity; a URL without a host never has.
bool GetNetworkNotFull(const std::string& url, const CdnMarkers& markers,
                       ProbeLog* lines = nullptr);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_HTTP_PROBE_H_
