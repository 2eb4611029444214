// The product stand-ins built by this folder's CMakeLists.txt: two programs
// named "Brondex.exe", one that ends at once and one that never ends. Both
// write a report of how they were started to $ZEL_TEST_REPORT.
#ifndef ZEL_TESTS_PLATFORM_FAKE_PRODUCT_H_
#define ZEL_TESTS_PLATFORM_FAKE_PRODUCT_H_

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/common/sandbox.h"

namespace zel::test {

inline std::string QuickProductPath() {
  return ZEL_FAKE_PRODUCT_QUICK;
}
inline std::string SleepingProductPath() {
  return ZEL_FAKE_PRODUCT_SLEEPER;
}

// Waits up to |timeout_ms| for the report at |path|; its text, or empty.
inline std::string WaitForReport(const std::string& path, int timeout_ms = 10000) {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (std::filesystem::exists(path))
      return ReadFile(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::string();
}

// The "arg=" lines of a report, in order.
inline std::vector<std::string> ReportArguments(const std::string& report) {
  std::vector<std::string> args;
  std::size_t pos = 0;
  while ((pos = report.find("\narg=", pos)) != std::string::npos) {
    std::size_t start = pos + 5;
    std::size_t end = report.find('\n', start);
    args.push_back(report.substr(start, end - start));
    pos = end;
  }
  return args;
}

// Polls |done| for up to |timeout_ms|.
template <typename Done>
bool Eventually(Done done, int timeout_ms = 5000) {
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    if (done())
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

}  // namespace zel::test

#endif  // ZEL_TESTS_PLATFORM_FAKE_PRODUCT_H_
