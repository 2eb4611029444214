// Body-less size probe of a package URL.
#ifndef ZEL_DOWNLOAD_HTTP_PROBE_H_
#define ZEL_DOWNLOAD_HTTP_PROBE_H_

#include <cstdint>
#include <string>

namespace zel {

// The Content-Length a HEAD-style request reports for |url| (redirects
// followed, through |proxy| when it is not empty). 0xFFFFFFFF when the
// request fails, takes longer than kSizeProbeTimeoutS or reports no length,
// which never equals a configured size.
inline constexpr long kSizeProbeTimeoutS = 20;
std::uint32_t GetDownloadFileLength(const char* url, const std::string& proxy);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_HTTP_PROBE_H_
