// MD5 digests as the download configuration writes them: 32 upper-case hex
// digits, two per byte in digest order.
#ifndef ZEL_DOWNLOAD_MD5_H_
#define ZEL_DOWNLOAD_MD5_H_

#include <cstddef>
#include <memory>
#include <string>

struct evp_md_ctx_st;

namespace zel {

// MD5 of data that arrives in pieces.
class Md5Stream {
 public:
  Md5Stream();
  ~Md5Stream();
  Md5Stream(const Md5Stream&) = delete;
  Md5Stream& operator=(const Md5Stream&) = delete;

  void Reset();
  void Update(const void* data, std::size_t length);
  // The digest of everything so far, as Md5Hex writes it; the stream goes on.
  std::string PeekHex() const;

 private:
  struct CtxDeleter {
    void operator()(evp_md_ctx_st* ctx) const;
  };
  std::unique_ptr<evp_md_ctx_st, CtxDeleter> ctx_;
};

std::string Md5Hex(const void* data, std::size_t length);
// Digest of the whole file; false when it does not exist or cannot be read.
bool Md5HexOfFile(const std::wstring& path, std::string* out);
// True for 32 characters of 0-9 and A-F.
bool IsUpperMd5Hex(const std::string& text);

}  // namespace zel

#endif  // ZEL_DOWNLOAD_MD5_H_
