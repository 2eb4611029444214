#include "download/url_util.h"

namespace zel {

CdnMarkers DefaultCdnMarkers() {
  return CdnMarkers{ZEL_CDN_MARKER_1, ZEL_CDN_MARKER_2};
}

bool IsCdnUrl(const std::string& url, const CdnMarkers& markers) {
  // An empty marker would match every URL.
  return (!markers.first.empty() && url.find(markers.first) != std::string::npos) ||
         (!markers.second.empty() && url.find(markers.second) != std::string::npos);
}

std::string UrlHost(const std::string& url) {
  static const std::string kScheme = "http://";
  static const std::string kPath = "/download/";
  std::size_t scheme = url.find(kScheme);
  if (scheme == std::string::npos)
    return "";
  std::size_t host = scheme + kScheme.size();
  std::size_t path = url.find(kPath, host);
  if (path == std::string::npos)
    return "";
  return url.substr(host, path - host);
}

}  // namespace zel
