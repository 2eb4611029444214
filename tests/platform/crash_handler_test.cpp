// Installing and removing the handler in this process; the handler at work
// is shown by the crash tests of the reporting suite, in a process of its own.
#include "platform/crash_handler.h"

#include <signal.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/common/sandbox.h"

namespace zel::platform {
namespace {

void EarlierHandler(int) {}

TEST(CrashHandlerTest, InstallTakesTheSignalsAndRemoveGivesThemBack) {
  struct sigaction earlier;
  std::memset(&earlier, 0, sizeof(earlier));
  earlier.sa_handler = EarlierHandler;
  ASSERT_EQ(::sigaction(SIGFPE, &earlier, nullptr), 0);

  CrashHandlerOptions options;
  options.image_path = test::SandboxPath("install.dmp");
  options.reporter_argv = {"/bin/true", "--image-written", "0"};
  options.image_written_arg = 2;
  ASSERT_TRUE(InstallCrashHandler(options));
  EXPECT_TRUE(CrashHandlerInstalled());
  for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    struct sigaction now;
    ::sigaction(sig, nullptr, &now);
    EXPECT_TRUE(now.sa_flags & SA_SIGINFO) << sig;
    EXPECT_TRUE(now.sa_flags & SA_ONSTACK) << sig;
  }
  stack_t alt;
  ASSERT_EQ(::sigaltstack(nullptr, &alt), 0);
  EXPECT_FALSE(alt.ss_flags & SS_DISABLE);

  // Installing again (the window does it on every message) changes nothing.
  EXPECT_TRUE(InstallCrashHandler(options));
  RemoveCrashHandler();
  EXPECT_FALSE(CrashHandlerInstalled());
  struct sigaction now;
  ::sigaction(SIGFPE, nullptr, &now);
  EXPECT_EQ(now.sa_handler, EarlierHandler);
}

TEST(CrashHandlerTest, RefusesUnusableOptions) {
  CrashHandlerOptions no_path;
  EXPECT_FALSE(InstallCrashHandler(no_path));

  CrashHandlerOptions bad_flag;
  bad_flag.image_path = test::SandboxPath("install.dmp");
  bad_flag.reporter_argv = {"/bin/true", "1"};
  bad_flag.image_written_arg = 1;  // must read "0"
  EXPECT_FALSE(InstallCrashHandler(bad_flag));
  bad_flag.image_written_arg = 5;  // past the end
  EXPECT_FALSE(InstallCrashHandler(bad_flag));
  EXPECT_FALSE(CrashHandlerInstalled());
}

}  // namespace
}  // namespace zel::platform
