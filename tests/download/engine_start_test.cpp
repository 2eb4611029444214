// Starting a run: from text, file or URL; configuration errors; the
// already-complete target; targets that cannot be used; Stop.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "download/downloader_curl.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"
#include "tests/download/engine_fixture.h"

namespace zel {
namespace {

using test::EngineRun;
using test::TestMirrors;

const std::size_t kSize = 2 * kChunkSize + 999;

bool Exists(const std::string& path) {
  return std::filesystem::exists(path);
}

struct BadStart {
  const char* name;
  std::string xml;
  const char* error;
};

TEST(EngineStartTest, ConfigurationErrorsEndTheRunBeforeAnyTransfer) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  test::ConfigRecipe version2;
  version2.version = 2;
  test::ConfigRecipe lower;
  lower.lower_case = true;
  const BadStart cases[] = {
      {"not xml", "<download version=", "ConfigLoadError"},
      {"version 2", test::MakeConfigXml(data, mirrors.Urls(), version2), "NeedUpdateDownload"},
      {"no version", "<download size=\"5\"/>", "ConfigLoadVersionError"},
      {"lower-case digests", test::MakeConfigXml(data, mirrors.Urls(), lower),
       "ConfigLoadHashError"},
      {"no url", test::MakeConfigXml(data, {}), "DownloadCheckUrlError"},
  };
  for (const BadStart& c : cases) {
    test::LogCapture log;
    auto run = std::make_unique<EngineRun>();
    std::string target = test::SandboxPath(std::string("t/") + c.name);
    ASSERT_TRUE(run->RunText(c.xml, target, 10)) << c.name;
    EXPECT_EQ(run->engine().GetStatus(), kDownloadFailed) << c.name;
    EXPECT_EQ(run->engine().GetErrorName(), c.error) << c.name;
    EXPECT_FALSE(run->engine().IsRunning()) << c.name;
    test::Notice last = run->Last();
    EXPECT_EQ(last.code, kNotifyFailed) << c.name;
    EXPECT_EQ(last.a, 0u) << c.name;
    EXPECT_EQ(last.b, 0) << c.name;
    EXPECT_EQ(run->EndCount(), 1) << c.name;
    run.reset();  // joins the configuration thread, which logs last
    EXPECT_FALSE(Exists(target)) << c.name << ": nothing may be written";
    EXPECT_TRUE(log.Contains("Download_Thread_Download_Cfg : failed.")) << c.name;
  }
  EXPECT_EQ(mirrors.Count(-1, ""), 0);
}

TEST(EngineStartTest, NoTextFailsAndLongTargetIsRefused) {
  EngineRun run;
  EXPECT_EQ(run.engine().BeginDownloadFromText(nullptr, 0, test::SandboxPath("t.exe")), kOk);
  ASSERT_TRUE(run.WaitEnd(10));
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFailed);

  EngineRun long_target;
  std::string target = test::SandboxPath(std::string(300, 'x'));
  EXPECT_EQ(long_target.engine().BeginDownloadFromText("<download/>", 11, target), kInvalidArg);
  EXPECT_EQ(long_target.engine().GetErrorName(), "ConfigLoadError");
  EXPECT_EQ(long_target.Last().code, kNotifyFailed);
}

TEST(EngineStartTest, CompleteTargetFinishesWithoutAnyConnection) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"", ""})) << mirrors.error();
  std::string target = test::SandboxPath("Downloads/pkg.exe");
  test::WriteFile(target, data);
  EngineRun run;
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, mirrors.Urls()), target));
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_EQ(run.engine().GetErrorName(), "NoNeedDownload");
  test::Notice last = run.Last();
  EXPECT_EQ(last.code, kNotifyFinished);
  EXPECT_EQ(last.a, 0u);
  EXPECT_EQ(last.b, 1);
  EXPECT_EQ(mirrors.Count(-1, ""), 0) << "no request may reach a mirror";
}

TEST(EngineStartTest, StaleTargetIsDownloadedAgain) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  std::string target = test::SandboxPath("pkg.exe");
  test::WriteFile(target, data.substr(0, 1000) + "stale");
  EngineRun run;
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, mirrors.Urls()), target));
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_TRUE(test::ReadFile(target) == data);
}

TEST(EngineStartTest, TargetThatCannotBeOpenedRefusesToStart) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  test::WriteFile(test::SandboxPath("blocker"), "a file where a folder should be");
  test::LogCapture log;
  EngineRun run;
  ASSERT_TRUE(run.RunText(test::MakeConfigXml(data, mirrors.Urls()),
                          test::SandboxPath("blocker/pkg.exe"), 10));
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFailed);
  EXPECT_EQ(run.engine().GetErrorName(), "DownloadExeError");
  EXPECT_TRUE(log.Contains("cannot open"));
  EXPECT_EQ(mirrors.RangeRequests(0), 0);
}

TEST(EngineStartTest, StoppedEngineWritesNothingMore) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {"rate=100K", "rate=100K"})) << mirrors.error();
  std::string target = test::SandboxPath("pkg.exe");
  std::string xml = test::MakeConfigXml(data, mirrors.Urls());
  {
    EngineRun run;
    ASSERT_EQ(run.engine().BeginDownloadFromText(xml.c_str(), static_cast<int>(xml.size()), target),
              kOk);
    while (run.Count(kNotifyProgress) < 20)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(run.engine().Stop(), kOk);
    EXPECT_FALSE(run.engine().IsRunning());
    EXPECT_EQ(run.engine().GetStatus(), kDownloadIdle);
    std::string after_stop = test::ReadFile(target);
    int progress = run.Count(kNotifyProgress);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_TRUE(test::ReadFile(target) == after_stop);
    EXPECT_EQ(run.Count(kNotifyProgress), progress);
    EXPECT_EQ(run.EndCount(), 0);
  }  // destruction joins every thread
}

TEST(EngineStartTest, SecondStartIsRefused) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  EngineRun run;
  std::string xml = test::MakeConfigXml(data, mirrors.Urls());
  ASSERT_TRUE(run.RunText(xml, test::SandboxPath("a.exe")));
  EXPECT_EQ(run.engine().BeginDownloadFromText(xml.c_str(), 0, test::SandboxPath("b.exe")), kFail);
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
}

TEST(EngineStartTest, FromADocumentFile) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  std::string document = test::SandboxPath("download.xml");
  test::WriteFile(document, test::MakeConfigXml(data, mirrors.Urls()));
  EngineRun run;
  std::string target = test::SandboxPath("pkg.exe");
  EXPECT_EQ(run.engine().BeginDownloadFromFile(ToWide(document), target), kOk);
  ASSERT_TRUE(run.WaitEnd());
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_TRUE(test::ReadFile(target) == data);

  EngineRun missing;
  EXPECT_EQ(missing.engine().BeginDownloadFromFile(ToWide(test::SandboxPath("none.xml")), target),
            kInvalidArg);
  EXPECT_EQ(missing.engine().GetErrorName(), "ConfigLoadError");
  EXPECT_EQ(missing.Last().code, kNotifyFailed);
}

TEST(EngineStartTest, FromAUrlKeepsTheDocumentBesideTheTarget) {
  std::string data = test::PackageBytes(kSize);
  TestMirrors mirrors;
  ASSERT_TRUE(mirrors.Start(data, {""})) << mirrors.error();
  std::string xml = test::MakeConfigXml(data, mirrors.Urls());
  TestMirrors config_server;
  ASSERT_TRUE(config_server.Start(xml, {""})) << config_server.error();
  EngineRun run;
  std::string target = test::SandboxPath("pkg.exe");
  EXPECT_EQ(run.engine().BeginDownloadFromUrl(config_server.Url(0), target), kOk);
  ASSERT_TRUE(run.WaitEnd());
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFinished);
  EXPECT_TRUE(test::ReadFile(target) == data);
  EXPECT_EQ(test::ReadFile(target + ".cfg"), xml);
  EXPECT_EQ(config_server.Count(0, "HEAD"), 1);  // the size probe
}

TEST(EngineStartTest, FailingConfigurationFetchIsTriedThreeTimes) {
  TestMirrors config_server;
  ASSERT_TRUE(config_server.Start("<download/>", {"reset_after=3"})) << config_server.error();
  test::LogCapture log;
  EngineRun run;
  std::string target = test::SandboxPath("pkg.exe");
  EXPECT_EQ(run.engine().BeginDownloadFromUrl(config_server.Url(0), target), kOk);
  ASSERT_TRUE(run.WaitEnd());
  EXPECT_EQ(run.engine().GetStatus(), kDownloadFailed);
  EXPECT_EQ(run.engine().GetErrorName(), "ConfigDownloadError");
  EXPECT_EQ(config_server.Count(0, "GET"), 3);
  EXPECT_TRUE(log.Contains("attempt 3 failed"));
  EXPECT_EQ(run.EndCount(), 1);
  EXPECT_FALSE(Exists(target));
}

}  // namespace
}  // namespace zel
