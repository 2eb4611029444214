#include "download/md5.h"

#include <openssl/evp.h>

#include <memory>
#include <vector>

#include "system/file_util.h"

namespace zel {
namespace {

struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxDeleter>;

std::string ToUpperHex(const unsigned char* digest, unsigned length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(length * 2);
  for (unsigned i = 0; i < length; ++i) {
    out.push_back(kDigits[digest[i] >> 4]);
    out.push_back(kDigits[digest[i] & 0x0F]);
  }
  return out;
}

}  // namespace

void Md5Stream::CtxDeleter::operator()(evp_md_ctx_st* ctx) const {
  EVP_MD_CTX_free(ctx);
}

Md5Stream::Md5Stream() : ctx_(EVP_MD_CTX_new()) {
  Reset();
}

Md5Stream::~Md5Stream() = default;

void Md5Stream::Reset() {
  if (ctx_)
    EVP_DigestInit_ex(ctx_.get(), EVP_md5(), nullptr);
}

void Md5Stream::Update(const void* data, std::size_t length) {
  if (ctx_)
    EVP_DigestUpdate(ctx_.get(), data, length);
}

std::string Md5Stream::PeekHex() const {
  // Finishing a copy leaves this stream open for more.
  MdCtx copy(EVP_MD_CTX_new());
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned digest_length = 0;
  if (!ctx_ || !copy || EVP_MD_CTX_copy_ex(copy.get(), ctx_.get()) != 1 ||
      EVP_DigestFinal_ex(copy.get(), digest, &digest_length) != 1) {
    return "";
  }
  return ToUpperHex(digest, digest_length);
}

std::string Md5Hex(const void* data, std::size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned digest_length = 0;
  if (EVP_Digest(data, length, digest, &digest_length, EVP_md5(), nullptr) != 1)
    return "";
  return ToUpperHex(digest, digest_length);
}

bool Md5HexOfFile(const std::wstring& path, std::string* out) {
  JFile file;
  if (!file.Open(path, JFile::kRead | JFile::kBinary))
    return false;
  MdCtx ctx(EVP_MD_CTX_new());
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1)
    return false;
  // Streamed in pieces: the file may be as large as the package.
  std::vector<unsigned char> piece(1 << 20);
  for (;;) {
    long n = file.Read(piece.data(), piece.size());
    if (n < 0)
      return false;
    if (n == 0)
      break;
    if (EVP_DigestUpdate(ctx.get(), piece.data(), static_cast<std::size_t>(n)) != 1)
      return false;
    if (static_cast<std::size_t>(n) < piece.size())
      break;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned digest_length = 0;
  if (EVP_DigestFinal_ex(ctx.get(), digest, &digest_length) != 1)
    return false;
  *out = ToUpperHex(digest, digest_length);
  return true;
}

bool IsUpperMd5Hex(const std::string& text) {
  if (text.size() != 32)
    return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
      return false;
  }
  return true;
}

}  // namespace zel
