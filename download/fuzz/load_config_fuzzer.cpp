// libFuzzer target: LoadConfigFromText with arbitrary documents. A document
// that loads is never downloaded: the transfer start is replaced, so the
// fuzzer opens no connection whatever URLs it invents.
#include <cstddef>
#include <cstdint>
#include <string>

#include "download/downloader_curl.h"

namespace {

class LoadOnlyDownloader : public zel::DownloaderCurl {
 public:
  zel::HResult BeginDownload(zel::DownloadConfig& config) override {
    loaded_size = config.size;
    return zel::kOk;
  }
  int loaded_size = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  LoadOnlyDownloader engine;
  zel::HResult hr = engine.LoadConfigFromText(text.c_str(), static_cast<int>(text.size()));
  // A loaded document always has a usable size; a refused one leaves a code.
  if (hr == zel::kOk && engine.loaded_size <= 0)
    __builtin_trap();
  if (hr < 0 && engine.GetErrorCode() == 0)
    __builtin_trap();
  return 0;
}
