#include "shell/log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

std::atomic<std::uint32_t> g_now{1000};
std::uint32_t FakeTick() {
  return g_now.load();
}

std::vector<std::string> g_sunk;
int RecordSink(const char* message) {
  g_sunk.emplace_back(message);
  return 0;
}

constexpr char kHeader[] =
    "\n\n----------------------------------------\n00:00:00 : Init Log OK.\n";

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetTickSourceForTesting(&FakeTick);
    g_now = 1000;
    g_sunk.clear();
    path_ = test::SandboxPath("home/Documents/Telviska/Log/install.log");
  }
  void TearDown() override {
    platform::SetTickSourceForTesting(nullptr);
    ILog::Instance().SetSink(nullptr);
    ILog::Instance().Init(L"");
  }
  std::string path_;
};

TEST_F(LogTest, FirstRunCreatesFoldersAndHeader) {
  ASSERT_TRUE(ILog::Instance().Init(ToWide(path_)));
  WriteLog("Setup Init. Version %s", "1.0.6.0");
  EXPECT_EQ(test::ReadFile(path_),
            std::string(kHeader) + "00:00:00 : Setup Init. Version 1.0.6.0\n");
}

TEST_F(LogTest, SecondRunAppendsAnotherHeader) {
  ILog::Instance().Init(ToWide(path_));
  WriteLog("one");
  ILog::Instance().Init(ToWide(path_));
  WriteLog("two");
  EXPECT_EQ(test::ReadFile(path_),
            std::string(kHeader) + "00:00:00 : one\n" + kHeader + "00:00:00 : two\n");
}

TEST_F(LogTest, PrefixIsTimeSinceInit) {
  struct Case {
    std::uint32_t elapsed_ms;
    const char* prefix;
  } cases[] = {
      {999, "00:00:00 : "},
      {(3 * 3600 + 25 * 60 + 9) * 1000u, "03:25:09 : "},
      {100u * 3600 * 1000, "100:00:00 : "},
  };
  for (const Case& c : cases) {
    g_now = 5000;
    ILog::Instance().Init(ToWide(path_));
    g_now = 5000 + c.elapsed_ms;
    WriteLog("x");
    std::string text = test::ReadFile(path_);
    EXPECT_EQ(text.substr(text.size() - std::string(c.prefix).size() - 2),
              std::string(c.prefix) + "x\n");
  }
}

TEST_F(LogTest, TickWrapStillCountsForward) {
  g_now = 0xFFFFFC18u;  // 1 s before the 32-bit wrap
  ILog::Instance().Init(ToWide(path_));
  g_now = 2000;  // 3 s later, after the wrap
  WriteLog("after wrap");
  EXPECT_NE(test::ReadFile(path_).find("00:00:03 : after wrap\n"), std::string::npos);
}

TEST_F(LogTest, MessageEndingInNewlineLeavesEmptyLine) {
  ILog::Instance().Init(ToWide(path_));
  WriteLog("Test Mode : true\n");
  EXPECT_EQ(test::ReadFile(path_), std::string(kHeader) + "00:00:00 : Test Mode : true\n\n");
}

TEST_F(LogTest, SinkSeesMessageWithoutPrefixEvenBeforeInit) {
  ILog::Instance().Init(L"");
  ILog::Instance().SetSink(&RecordSink);
  WriteLog("early %d", 1);
  ILog::Instance().Init(ToWide(path_));
  WriteLog("late");
  EXPECT_EQ(g_sunk, (std::vector<std::string>{"early 1", "late"}));
  EXPECT_EQ(test::ReadFile(path_), std::string(kHeader) + "00:00:00 : late\n");
}

TEST_F(LogTest, UnwritableFileLosesLineButSinkStillHearsIt) {
  // A folder where the file should be: the open fails, nothing is raised.
  test::WriteFile(path_ + "/blocker", "");
  EXPECT_TRUE(ILog::Instance().Init(ToWide(path_)));
  ILog::Instance().SetSink(&RecordSink);
  WriteLog("lost");
  EXPECT_EQ(g_sunk, std::vector<std::string>{"lost"});
}

TEST_F(LogTest, OverlongMessageIsCut) {
  ILog::Instance().Init(ToWide(path_));
  std::string big(20000, 'a');
  WriteLog("%s", big.c_str());
  std::string text = test::ReadFile(path_);
  std::string line = text.substr(std::string(kHeader).size());
  EXPECT_EQ(line.size(), 11 + (kLogBufferSize - 1) + 1);
}

TEST_F(LogTest, ConcurrentWritersKeepWholeLines) {
  ILog::Instance().Init(ToWide(path_));
  constexpr int kThreads = 4, kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i)
        WriteLog("thread %d line %03d ----------------", t, i);
    });
  }
  for (std::thread& th : threads)
    th.join();
  std::string text = test::ReadFile(path_).substr(std::string(kHeader).size());
  int lines = 0;
  for (std::size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1) {
    std::string line = text.substr(pos, end - pos);
    EXPECT_EQ(line.size(), 11u + 34u) << line;
    ++lines;
  }
  EXPECT_EQ(lines, kThreads * kLines);
}

}  // namespace
}  // namespace zel
