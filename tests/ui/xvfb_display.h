// A private X server for the window tests: Xvfb on a free display number,
// started once per test process and stopped at exit. Tests that need it call
// RequireXvfb() and skip when Xvfb is not installed.
#ifndef ZEL_TESTS_UI_XVFB_DISPLAY_H_
#define ZEL_TESTS_UI_XVFB_DISPLAY_H_

#include <string>

namespace zel::test {

inline constexpr int kScreenWidth = 1024;
inline constexpr int kScreenHeight = 768;

// Starts the server (first call) and points DISPLAY at it; empty on success,
// else why it cannot run.
std::string StartXvfb();

// Runs xdotool with |args| on the private display; false when it fails or is
// missing.
bool Xdotool(const std::string& args);
bool HaveXdotool();

}  // namespace zel::test

#define ZEL_REQUIRE_XVFB()                      \
  do {                                          \
    std::string why = ::zel::test::StartXvfb(); \
    if (!why.empty())                           \
      GTEST_SKIP() << "no X server: " << why;   \
  } while (0)

#endif  // ZEL_TESTS_UI_XVFB_DISPLAY_H_
