// The demo product end to end: packed with zel-pack, installed with
// InstallFromPackage, registered and linked, then removed by its own
// uninstaller.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <boost/process.hpp>
#include <filesystem>
#include <sstream>

#include "platform/paths.h"
#include "profile/package_header.h"
#include "system/file_util.h"
#include "system/package_extract.h"
#include "system/registry.h"
#include "system/shortcuts.h"
#include "tests/common/sandbox.h"
#include "tests/system/package_fixture.h"

namespace zel {
namespace {

namespace bp = boost::process;
namespace fs = std::filesystem;
using test::ReadFile;
using test::SandboxPath;
using test::SandboxRoot;

struct Ran {
  int exit_code = -1;
  std::string out;
};

Ran RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::string& input = "") {
  bp::opstream in;
  bp::ipstream out;
  bp::child child(boost::filesystem::path(program), bp::args(args), (bp::std_in < in),
                  ((bp::std_out & bp::std_err) > out));
  in << input;
  in.flush();
  in.pipe().close();
  std::ostringstream text;
  text << out.rdbuf();
  child.wait();
  return {child.exit_code(), text.str()};
}

// Copies of the demo programs in the sandbox: they write beside themselves.
std::string Copy(const char* program, const std::string& to) {
  fs::create_directories(fs::path(to).parent_path());
  fs::copy_file(program, to, fs::copy_options::overwrite_existing);
  return to;
}

TEST(DemoProductTest, MainProgramLogsWhatItReceived) {
  std::string exe = Copy(ZEL_DEMO_MAIN, SandboxPath("App/Brondex.exe"));
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* logged;
  } cases[] = {
      {{"/install /add_plan /ID:0123abcd /new  /time:5 "},
       0,
       "install add_plan=1 id=0123abcd new=1 time=5"},
      {{"/install"}, 0, "install add_plan=0 id=- new=0 time=-"},
      {{"/install", "/time:7"}, 0, "install add_plan=0 id=- new=0 time=7"},
      {{" --installmode"}, 0, "installmode"},
      {{"/bogus"}, 2, "unknown(/bogus)"},
  };
  for (const Case& c : cases) {
    Ran ran = RunProgram(exe, c.args);
    EXPECT_EQ(ran.exit_code, c.exit_code) << ran.out;
    EXPECT_NE(ran.out.find(c.logged), std::string::npos) << ran.out;
  }
  std::string log = ReadFile(SandboxPath("App/Brondex.log"));
  EXPECT_NE(log.find("received \"/install /add_plan /ID:0123abcd /new  /time:5 \""),
            std::string::npos)
      << log;
}

// Keeps the engine's temporary archive in the sandbox for one test.
class TempInSandbox {
 public:
  TempInSandbox() { ::setenv("TMPDIR", SandboxRoot().c_str(), 1); }
  ~TempInSandbox() { ::unsetenv("TMPDIR"); }
};

TEST(DemoProductTest, InstallThenUninstallLeavesNothing) {
  TempInSandbox temp;
  test::WriteTree(SandboxPath("files"), {{"readme.txt", "demo"}});
  Copy(ZEL_DEMO_MAIN, SandboxPath("files/Brondex.exe"));
  std::string package = SandboxPath("setup.exe");
  Ran packed = RunProgram(test::ZelPackTool(), {"build", "--files", SandboxPath("files"),
                                                "--uninstaller", ZEL_DEMO_UNINSTALLER, "--out",
                                                package, "--x64", "--date", "2024-05-17"});
  ASSERT_EQ(packed.exit_code, 0) << packed.out;

  ProgressSink sink = [](int, int, int) { return 1; };
  ASSERT_EQ(InstallFromPackage(ToWide(package).c_str(), sink, nullptr, true, true), kOk);
  const std::wstring folder = GetInstallPath();
  PackageHeader header = NewPackageHeader();
  ASSERT_EQ(ReadPackageHeader(ToWide(package).c_str(), &header), kOk);
  WriteUninstallEntry(header, 3);
  CreateProductShortcuts(header, true);

  const std::string key = UninstallKeyName("Telviska", true);
  std::string location;
  ASSERT_TRUE(ReadInstallLocation(key, &location));
  EXPECT_EQ(location, ToNarrow(folder));
  std::wstring desktop;
  ASSERT_TRUE(GetShortcutFolder(kShortcutDesktop, &desktop));
  const std::string desktop_link = ToNarrow(desktop) + "/Telviska (x64).desktop";
  EXPECT_TRUE(fs::exists(desktop_link));
  const std::string uninstaller = ToNarrow(folder) + "/uninstall.exe";

  // Without /SILENT it asks, and "n" keeps everything.
  Ran kept = RunProgram(uninstaller, {}, "n\n");
  EXPECT_NE(kept.exit_code, 0);
  EXPECT_TRUE(fs::exists(ToNarrow(folder) + "/Brondex.exe"));
  EXPECT_TRUE(fs::exists(desktop_link));

  Ran removed = RunProgram(uninstaller, {"/SILENT"});
  EXPECT_EQ(removed.exit_code, 0) << removed.out;
  EXPECT_EQ(removed.out, "");
  EXPECT_FALSE(fs::exists(ToNarrow(folder)));
  EXPECT_FALSE(fs::exists(desktop_link));
  for (int kind : {kShortcutPrograms, kShortcutCommonPrograms}) {
    std::wstring menu;
    ASSERT_TRUE(GetShortcutFolder(kind, &menu));
    EXPECT_FALSE(fs::exists(ToNarrow(menu) + "/Telviska (x64)"));
  }
  CMyRegKey probe;
  EXPECT_NE(probe.Open(kHkeyLocalMachine, std::string(kUninstallBranch) + key, 0x20019), 0);
}

TEST(DemoProductTest, UninstallerRefusesAFolderThatIsNoInstallation) {
  std::string exe = Copy(ZEL_DEMO_UNINSTALLER, SandboxPath("home/uninstall.exe"));
  test::WriteFile(SandboxPath("home/letter.txt"), "keep me");
  Ran ran = RunProgram(exe, {"/SILENT"});
  EXPECT_NE(ran.exit_code, 0);
  EXPECT_NE(ran.out.find("holds no installation"), std::string::npos) << ran.out;
  EXPECT_EQ(ReadFile(SandboxPath("home/letter.txt")), "keep me");
}

}  // namespace
}  // namespace zel
