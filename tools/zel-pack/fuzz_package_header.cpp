// libFuzzer entry: arbitrary bytes as a package file for ReadPackageHeader.
// Besides memory errors it checks that a header is accepted exactly when
// the offset at 32 leaves room for it, and that the bytes come from there.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "profile/package_header.h"
#include "system/file_util.h"

namespace {

// One scratch file per process, removed at exit.
struct Scratch {
  Scratch() : path(zel::ToWide("/tmp/zel-fuzz-" + std::to_string(::getpid()) + ".pkg")) {}
  ~Scratch() { std::remove(zel::ToNarrow(path).c_str()); }
  std::wstring path;
};

const std::wstring& ScratchPath() {
  static const Scratch scratch;
  return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring& path = ScratchPath();
  std::FILE* file = std::fopen(zel::ToNarrow(path).c_str(), "wb");
  if (file == nullptr)
    return 0;
  if (size > 0)
    std::fwrite(data, 1, size, file);
  std::fclose(file);

  zel::PackageHeader header = zel::NewPackageHeader();
  zel::HResult hr = zel::ReadPackageHeader(path.c_str(), &header);

  bool expect = false;
  std::int32_t offset = -1;
  if (size >= 36) {
    std::memcpy(&offset, data + 32, sizeof(offset));
    expect = offset >= 0 && static_cast<std::uint64_t>(offset) + zel::kPackageHeaderSize <= size;
  }
  if ((hr == zel::kOk) != expect)
    std::abort();
  if (hr == zel::kOk) {
    if (std::memcmp(&header, data + offset, zel::kPackageHeaderSize) != 0)
      std::abort();
    // Every text reader must stay inside its field, terminated or not.
    std::string texts = zel::HeaderText(header.product_name) + zel::HeaderText(header.publisher) +
                        zel::HeaderText(header.web_address) + zel::HeaderText(header.release_date);
    if (texts.size() > 64 + 67 + 128 + 16)
      std::abort();
    (void)zel::UnterminatedHeaderText(header);
  }
  return 0;
}
