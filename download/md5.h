// MD5 digests as the download configuration writes them: 32 upper-case hex
// digits, two per byte in digest order.
#ifndef ZEL_DOWNLOAD_MD5_H_
#define ZEL_DOWNLOAD_MD5_H_

#include <cstddef>
#include <string>

namespace zel {

std::string Md5Hex(const void* data, std::size_t length);
// Digest of the whole file; false when it does not exist or cannot be read.
bool Md5HexOfFile(const std::wstring& path, std::string* out);
// True for 32 characters of 0-9 and A-F.
bool IsUpperMd5Hex(const std::string& text);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_MD5_H_
