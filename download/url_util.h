// URL pieces the engine relies on: the mirror host and the CDN markers.
#ifndef ZEL_DOWNLOAD_URL_UTIL_H_
#define ZEL_DOWNLOAD_URL_UTIL_H_

#include <string>

namespace zel {

// A URL is a CDN URL when it contains either marker anywhere. The values
// are deployment values, set with the build (ZEL_CDN_MARKER_1/2).
struct CdnMarkers {
  std::string first;
  std::string second;
};
CdnMarkers DefaultCdnMarkers();
bool IsCdnUrl(const std::string& url, const CdnMarkers& markers);

// The text between the first "http://" and the first "/download/" after
// it; empty when the URL lacks either.
std::string UrlHost(const std::string& url);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_URL_UTIL_H_
