// Shared pieces of the engine tests: package bytes and their configuration
// document, a captured log, a test mirror and an engine run that records its
// notifications.
#ifndef ZEL_TESTS_DOWNLOAD_ENGINE_FIXTURE_H_
#define ZEL_TESTS_DOWNLOAD_ENGINE_FIXTURE_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "download/downloader_curl.h"
#include "tools/mirror-server/mirror_process.h"

namespace zel::test {

// Deterministic pseudo-random bytes.
std::string PackageBytes(std::size_t size, std::uint32_t seed = 1);

struct ConfigRecipe {
  int version = 1;
  bool with_chunks = true;  // false: only the whole-file digest
  bool lower_case = false;
  std::string file_md5;       // overrides hash item 0 when set
  bool wrong_chunks = false;  // every chunk digest is wrong
};

// The configuration document for |data| served at |urls|.
std::string MakeConfigXml(const std::string& data, const std::vector<std::string>& urls,
                          const ConfigRecipe& recipe = ConfigRecipe());

// Every WriteLog line from the start of the test (the log is process-wide).
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  bool Contains(const std::string& text) const;
  int Count(const std::string& text) const;
  std::vector<std::string> Lines() const;
};

// Times short enough for tests; the logic is the product's.
EngineTiming FastTiming();

// A mirror-server with one mirror per fault script serving |data| as "pkg.bin".
class TestMirrors {
 public:
  bool Start(const std::string& data, const std::vector<std::string>& scripts);
  std::string Url(int mirror) const { return process_.Url(mirror); }
  std::vector<std::string> Urls() const;
  std::string HostPort(int mirror) const { return process_.HostPort(mirror); }
  int Count(int mirror, const std::string& method = "GET") const {
    return process_.CountRequests(mirror, method);
  }
  // Ranged GETs of the package (probes and capacity checks left out).
  int RangeRequests(int mirror) const;
  std::vector<mirror::LoggedRequest> Requests() const { return process_.Requests(); }
  const std::string& error() const { return process_.error(); }

 private:
  std::size_t mirror_count_ = 0;
  mirror::MirrorProcess process_;
};

struct Notice {
  int code;
  unsigned a;
  long b;
};

// One engine and what it told its owner.
class EngineRun {
 public:
  explicit EngineRun(const EngineTiming& timing = FastTiming());
  DownloaderCurl& engine() { return *engine_; }
  // Waits for notification 4 or 5; false on timeout.
  bool WaitEnd(int seconds = 60);
  int EndCount() const;
  Notice Last() const;
  int Count(int code) const;
  // The whole run from text: start, wait, and the target's content.
  bool RunText(const std::string& xml, const std::string& target, int seconds = 60);

 private:
  std::unique_ptr<DownloaderCurl> engine_;
  mutable std::mutex lock_;
  std::condition_variable ended_;
  std::vector<Notice> notices_;
};

}  // namespace zel::test

#endif  // ZEL_TESTS_DOWNLOAD_ENGINE_FIXTURE_H_
