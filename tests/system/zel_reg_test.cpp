#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/wait.h>

#include <string>

#include "platform/registry.h"
#include "system/file_util.h"
#include "system/registry.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

struct ToolRun {
  int status;
  std::string out;
};

// Runs zel-reg with |args| (already quoted for the shell); standard error
// joins the output.
ToolRun ZelReg(const std::string& args) {
  std::string command = std::string(ZEL_REG_TOOL) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ToolRun run{-1, ""};
  if (pipe == nullptr)
    return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0)
    run.out.append(buffer, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

const char kKey[] =
    "'HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Telviska(x64)'";

class ZelRegTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UninstallEntry entry;
    entry.product_name = "Telviska";
    entry.display_name = "Telviska";
    entry.version = "1.0.0.0";
    entry.release_date = "2020-08-17";
    entry.web_address = "https://www.zel-installer.invalid/";
    entry.publisher = "Brondel";
    entry.is64bit = true;
    WriteUninstallEntry(entry, L"/opt/Telviska", "Brondex.exe", 3);
  }
};

TEST_F(ZelRegTest, QueryShowsTheValuesTheInstallerWrote) {
  ToolRun run = ZelReg(std::string("query ") + kKey);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.rfind("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                          "Uninstall\\Telviska(x64)\n",
                          0),
            0u)
      << run.out;
  for (const char* line : {"    DisplayName    REG_SZ    Telviska (x64) (2020-08-17)\n",
                           "    EstimatedSize    REG_DWORD    0x376c8 (227016)\n",
                           "    UninstallString    REG_SZ    \"/opt/Telviska/uninstall.exe\"\n",
                           "    cfg_flag    REG_DWORD    0x3 (3)\n"}) {
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  }
}

TEST_F(ZelRegTest, QueryOfOneValuePrintsItsDataAlone) {
  struct Case {
    std::string value;
    int status;
    std::string out;
  } cases[] = {
      {"InstallLocation", 0, "/opt/Telviska\n"},
      {"cfg_flag", 0, "3\n"},
      {"CFG_FLAG", 0, "3\n"},
      {"NoSuchValue", 1,
       "zel-reg: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
       "Telviska(x64) NoSuchValue: not found (2)\n"},
  };
  for (const Case& c : cases) {
    ToolRun run = ZelReg(std::string("query ") + kKey + " " + c.value);
    EXPECT_EQ(run.status, c.status) << c.value;
    EXPECT_EQ(run.out, c.out) << c.value;
  }
}

TEST_F(ZelRegTest, ListShowsEveryKeyOfBothRoots) {
  CMyRegKey user;
  ASSERT_EQ(user.Create(kHkeyCurrentUser, "Control Panel\\Desktop\\WindowMetrics"), 0);
  ASSERT_EQ(user.SetString("Shell Icon Size", "32"), 0);
  ASSERT_EQ(user.Create(kHkeyCurrentUser, "Empty\\Leaf"), 0);
  ToolRun run = ZelReg("list");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\"
                         "Uninstall\\Telviska(x64)\n    DisplayIcon    REG_SZ    "
                         "/opt/Telviska/Brondex.exe\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics\n    Shell "
                         "Icon Size    REG_SZ    32\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("HKEY_CURRENT_USER\\Empty\\Leaf\n"), std::string::npos) << run.out;
  // Keys that only hold other keys are not listed on their own.
  EXPECT_EQ(run.out.find("HKEY_LOCAL_MACHINE\\SOFTWARE\n"), std::string::npos) << run.out;

  ToolRun one = ZelReg("list 'HKCU\\Control Panel'");
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.out,
            "HKEY_CURRENT_USER\\Control Panel\n\n"
            "HKEY_CURRENT_USER\\Control Panel\\Desktop\\WindowMetrics\n"
            "    Shell Icon Size    REG_SZ    32\n\n");
}

TEST_F(ZelRegTest, BadCommandsAndMissingKeysSayWhy) {
  struct Case {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"", 2, "usage: zel-reg"},
      {"frobnicate", 2, "usage: zel-reg"},
      {"query", 2, "usage: zel-reg"},
      {"query 'HKXX\\Software'", 2, "usage: zel-reg"},
      {"query 'HKLM\\No\\Such\\Key'", 1, "zel-reg: HKLM\\No\\Such\\Key: not found (2)"},
      {"list 'HKLM\\No'", 1, "not found"},
      {"query 'HKLM\\\\Bad'", 1, "not a valid key path"},
  };
  for (const Case& c : cases) {
    ToolRun run = ZelReg(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << c.args << ": " << run.out;
  }
}

TEST_F(ZelRegTest, ADamagedStoreIsReportedNotRead) {
  test::WriteFile(ToNarrow(platform::RegistryStorePath(kHkeyLocalMachine)), "garbage\n");
  ToolRun run = ZelReg("list");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("HKEY_LOCAL_MACHINE: the registry store is damaged (1009)"),
            std::string::npos)
      << run.out;
}

TEST_F(ZelRegTest, WhereNamesTheStoreFiles) {
  ToolRun run = ZelReg("where");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "HKEY_LOCAL_MACHINE    " + test::SandboxPath("machine/registry/HKLM.reg") +
                         "\nHKEY_CURRENT_USER    " +
                         test::SandboxPath("home/.config/zel-registry/HKCU.reg") + "\n");
}

}  // namespace
}  // namespace zel
