// How CheckDownload measures mirrors. The round-trip function is a seam:
// the product pings, tests feed fixed times.
#ifndef ZEL_DOWNLOAD_MIRROR_PROBE_H_
#define ZEL_DOWNLOAD_MIRROR_PROBE_H_

#include <cstdint>
#include <functional>
#include <string>

#include "download/icmp_pinger.h"

namespace zel {

struct MirrorProbe {
  // Stores the round trip of |url|'s host in |ping_time| on success only.
  std::function<bool(const std::string& url, std::int32_t* ping_time)> ping = &PingUrl;
  // Probe every URL at once (one thread each) rather than one after the
  // other; the log, the lists and the ranking come out the same.
  bool concurrent = true;
};

}  // namespace zel

#endif  // ZEL_DOWNLOAD_MIRROR_PROBE_H_
