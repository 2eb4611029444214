// Collects every install-log message of a test, in order.
#ifndef ZEL_TESTS_SYSTEM_LOG_CAPTURE_H_
#define ZEL_TESTS_SYSTEM_LOG_CAPTURE_H_

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "shell/log.h"

namespace zel::test {

class LogCapture {
 public:
  LogCapture() {
    Clear();
    ILog::Instance().SetSink(&LogCapture::Sink);
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;
  ~LogCapture() { ILog::Instance().SetSink(nullptr); }

  static std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> hold(Lock());
    return Store();
  }
  static void Clear() {
    std::lock_guard<std::mutex> hold(Lock());
    Store().clear();
  }
  static bool Contains(const std::string& line) {
    std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

 private:
  static int Sink(const char* message) {
    std::lock_guard<std::mutex> hold(Lock());
    Store().emplace_back(message);
    return 0;
  }
  static std::mutex& Lock() {
    static std::mutex lock;
    return lock;
  }
  static std::vector<std::string>& Store() {
    static std::vector<std::string> lines;
    return lines;
  }
};

}  // namespace zel::test

#endif  // ZEL_TESTS_SYSTEM_LOG_CAPTURE_H_
