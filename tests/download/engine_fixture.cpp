#include "tests/download/engine_fixture.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>

#include "download/md5.h"
#include "shell/log.h"
#include "tests/common/sandbox.h"

namespace zel::test {
namespace {

std::mutex g_log_lock;
std::vector<std::string> g_log;

int Sink(const char* message) {
  std::lock_guard<std::mutex> hold(g_log_lock);
  g_log.emplace_back(message);
  return 0;
}

}  // namespace

std::string PackageBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::string data(size, '\0');
  for (char& c : data)
    c = static_cast<char>(random() & 0xFF);
  return data;
}

std::string MakeConfigXml(const std::string& data, const std::vector<std::string>& urls,
                          const ConfigRecipe& recipe) {
  std::vector<std::string> digests;
  digests.push_back(recipe.file_md5.empty() ? Md5Hex(data.data(), data.size()) : recipe.file_md5);
  if (recipe.with_chunks) {
    for (std::size_t offset = 0; offset < data.size(); offset += kChunkSize) {
      std::size_t n = std::min<std::size_t>(kChunkSize, data.size() - offset);
      std::string digest = Md5Hex(data.data() + offset, n);
      if (recipe.wrong_chunks)
        digest = Md5Hex(digest.data(), digest.size());
      digests.push_back(digest);
    }
  }
  if (recipe.lower_case) {
    for (std::string& digest : digests) {
      std::transform(digest.begin(), digest.end(), digest.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
  }
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  xml += "<download version=\"" + std::to_string(recipe.version) + "\" size=\"" +
         std::to_string(data.size()) + "\" name=\"pkg.bin\">\n";
  xml += "  <url size=\"" + std::to_string(urls.size()) + "\">\n";
  for (std::size_t i = 0; i < urls.size(); ++i) {
    xml += "    <item_" + std::to_string(i) + " value=\"" + urls[i] + "\"/>\n";
  }
  xml += "  </url>\n  <hash size=\"" + std::to_string(digests.size()) + "\">\n";
  for (std::size_t i = 0; i < digests.size(); ++i) {
    xml += "    <item_" + std::to_string(i) + " value=\"" + digests[i] + "\"/>\n";
  }
  xml += "  </hash>\n</download>\n";
  return xml;
}

LogCapture::LogCapture() {
  {
    std::lock_guard<std::mutex> hold(g_log_lock);
    g_log.clear();
  }
  ILog::Instance().SetSink(&Sink);
}

LogCapture::~LogCapture() {
  ILog::Instance().SetSink(nullptr);
}

std::vector<std::string> LogCapture::Lines() const {
  std::lock_guard<std::mutex> hold(g_log_lock);
  return g_log;
}

bool LogCapture::Contains(const std::string& text) const {
  return Count(text) > 0;
}

int LogCapture::Count(const std::string& text) const {
  int count = 0;
  for (const std::string& line : Lines()) {
    if (line.find(text) != std::string::npos)
      ++count;
  }
  return count;
}

EngineTiming FastTiming() {
  EngineTiming timing;
  timing.dispatch_interval_ms = 150;
  timing.stall_ms = 1200;
  return timing;
}

bool TestMirrors::Start(const std::string& data, const std::vector<std::string>& scripts) {
  static int serial = 0;
  std::string folder = SandboxPath("mirror" + std::to_string(++serial));
  std::string file = folder + "/pkg.bin";
  WriteFile(file, data);
  mirror_count_ = scripts.size();
  return process_.Start(ZEL_MIRROR_SERVER_PATH, file, "pkg.bin", scripts, folder + "/requests.log");
}

int TestMirrors::RangeRequests(int mirror) const {
  int count = 0;
  for (const mirror::LoggedRequest& request : process_.Requests()) {
    if ((mirror < 0 || request.mirror == mirror) && request.method == "GET" &&
        request.range != "-") {
      ++count;
    }
  }
  return count;
}

std::vector<std::string> TestMirrors::Urls() const {
  std::vector<std::string> urls;
  for (std::size_t i = 0; i < mirror_count_; ++i)
    urls.push_back(Url(static_cast<int>(i)));
  return urls;
}

EngineRun::EngineRun(const EngineTiming& timing) : engine_(std::make_unique<DownloaderCurl>()) {
  engine_->SetTiming(timing);
  engine_->SetNotify([this](int code, unsigned a, long b) {
    std::lock_guard<std::mutex> hold(lock_);
    notices_.push_back(Notice{code, a, b});
    if (code == kNotifyFailed || code == kNotifyFinished)
      ended_.notify_all();
    return 1;
  });
}

bool EngineRun::WaitEnd(int seconds) {
  std::unique_lock<std::mutex> hold(lock_);
  return ended_.wait_for(hold, std::chrono::seconds(seconds), [this] {
    for (const Notice& notice : notices_) {
      if (notice.code == kNotifyFailed || notice.code == kNotifyFinished)
        return true;
    }
    return false;
  });
}

int EngineRun::EndCount() const {
  return Count(kNotifyFailed) + Count(kNotifyFinished);
}

int EngineRun::Count(int code) const {
  std::lock_guard<std::mutex> hold(lock_);
  return static_cast<int>(std::count_if(notices_.begin(), notices_.end(),
                                        [code](const Notice& n) { return n.code == code; }));
}

Notice EngineRun::Last() const {
  std::lock_guard<std::mutex> hold(lock_);
  for (auto it = notices_.rbegin(); it != notices_.rend(); ++it) {
    if (it->code == kNotifyFailed || it->code == kNotifyFinished)
      return *it;
  }
  return Notice{0, 0, 0};
}

bool EngineRun::RunText(const std::string& xml, const std::string& target, int seconds) {
  if (engine_->BeginDownloadFromText(xml.c_str(), static_cast<int>(xml.size()), target) != kOk) {
    return WaitEnd(1);
  }
  return WaitEnd(seconds);
}

}  // namespace zel::test
