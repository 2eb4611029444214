#include "platform/shell_link.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/text.h"
#include "tests/common/sandbox.h"

namespace zel::platform {
namespace {

using zel::test::ReadFile;
using zel::test::SandboxPath;
using zel::test::WriteFile;

// desktop-file-validate's verdict; empty when the file is valid.
std::string Validate(const std::string& path) {
  const std::string out = SandboxPath("validate.out");
  std::string command = "desktop-file-validate '" + path + "' > '" + out + "' 2>&1";
  int status = std::system(command.c_str());
  std::string text = ReadFile(out);
  return status == 0 ? text : "exit " + std::to_string(status) + ": " + text;
}

class ShellLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = SandboxPath("links");
    std::filesystem::create_directories(folder_);
  }
  std::string folder_;
};

TEST_F(ShellLinkTest, ProgramsBecomeApplicationLaunchers) {
  ShellLink link;
  link.target = L"/opt/Program Files/Telviska (x64)/Brondex.exe";
  link.work_folder = L"/opt/Program Files/Telviska (x64)";
  link.description = L"Telviska (x64) Start";
  link.arguments = L"--mode \"a b\" 100% $HOME";
  ASSERT_TRUE(SaveShellLink(link, Utf8ToWide(folder_), L"Telviska (x64)"));

  const std::string path = folder_ + "/Telviska (x64).desktop";
  EXPECT_EQ(WideToUtf8(ShellLinkPath(Utf8ToWide(folder_), L"Telviska (x64)")), path);
  EXPECT_EQ(ReadFile(path),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Version=1.0\n"
            "Name=Telviska (x64)\n"
            "Comment=Telviska (x64) Start\n"
            "Exec=\"/opt/Program Files/Telviska (x64)/Brondex.exe\" --mode \"a b\" 100%% "
            "\"\\\\$HOME\"\n"
            "Path=/opt/Program Files/Telviska (x64)\n"
            "Icon=/opt/Program Files/Telviska (x64)/Brondex.exe\n"
            "Terminal=false\n");
  EXPECT_EQ(Validate(path), "");
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(ShellLinkTest, WebAddressesBecomeLinkEntries) {
  ShellLink link;
  link.target = L"https://www.zel-installer.invalid/?version=1.0.0.0";
  link.description = L" Telviska web site";
  ASSERT_TRUE(SaveShellLink(link, Utf8ToWide(folder_), L"Telviska Online"));
  const std::string path = folder_ + "/Telviska Online.desktop";
  EXPECT_EQ(ReadFile(path),
            "[Desktop Entry]\n"
            "Type=Link\n"
            "Version=1.0\n"
            "Name=Telviska Online\n"
            "Comment=\\sTelviska web site\n"
            "URL=https://www.zel-installer.invalid/?version=1.0.0.0\n");
  EXPECT_EQ(Validate(path), "");
}

TEST_F(ShellLinkTest, ReplacesAnEarlierLinkAndLeavesNoTemporaryFile) {
  ShellLink link;
  link.target = L"/opt/a";
  ASSERT_TRUE(SaveShellLink(link, Utf8ToWide(folder_), L"App"));
  link.target = L"/opt/b";
  ASSERT_TRUE(SaveShellLink(link, Utf8ToWide(folder_), L"App"));
  EXPECT_NE(ReadFile(folder_ + "/App.desktop").find("Exec=/opt/b\n"), std::string::npos);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(ShellLinkTest, RefusesNamesThatAreNotPlainFileNames) {
  ShellLink link;
  link.target = L"/opt/a";
  for (const std::wstring& name :
       {std::wstring(L""), std::wstring(L"a/b"), std::wstring(L"../escape"), std::wstring(L".."),
        std::wstring(L"."), std::wstring(L"two\nlines")}) {
    EXPECT_FALSE(SaveShellLink(link, Utf8ToWide(folder_), name)) << WideToUtf8(name);
  }
  EXPECT_FALSE(SaveShellLink(ShellLink{}, Utf8ToWide(folder_), L"NoTarget"));
  EXPECT_FALSE(SaveShellLink(link, Utf8ToWide(SandboxPath("missing")), L"App"));
  EXPECT_TRUE(std::filesystem::is_empty(folder_));
  EXPECT_FALSE(std::filesystem::exists(SandboxPath("escape.desktop")));
}

TEST_F(ShellLinkTest, DesktopLaunchersAreExecutable) {
  const std::wstring desktop = GetSpecialFolder(SpecialFolder::kDesktop);
  std::filesystem::create_directories(WideToUtf8(desktop));
  ShellLink link;
  link.target = L"/opt/a";
  ASSERT_TRUE(SaveShellLink(link, desktop, L"App"));
  struct stat st;
  ASSERT_EQ(::stat(WideToUtf8(ShellLinkPath(desktop, L"App")).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
}

TEST_F(ShellLinkTest, MenuReloadUsesTheToolThatExists) {
  const std::string bin = SandboxPath("bin");
  const std::string calls = SandboxPath("calls.txt");
  const char* old_path = std::getenv("PATH");
  const std::string saved = old_path != nullptr ? old_path : "/usr/bin:/bin";
  std::filesystem::create_directories(bin);
  const std::string user_menu = WideToUtf8(GetSpecialFolder(SpecialFolder::kPrograms));
  std::filesystem::create_directories(user_menu);

  // Only our stand-ins are on the PATH. Neither tool: nothing happens.
  ::setenv("PATH", bin.c_str(), 1);
  ReloadDesktopMenus();

  WriteFile(bin + "/xdg-desktop-menu", "#!/bin/sh\necho \"menu $*\" >> '" + calls + "'\n");
  ::chmod((bin + "/xdg-desktop-menu").c_str(), 0755);
  ReloadDesktopMenus();
  EXPECT_EQ(ReadFile(calls), "menu forceupdate\n");

  WriteFile(calls, "");
  WriteFile(bin + "/update-desktop-database", "#!/bin/sh\necho \"db $*\" >> '" + calls + "'\n");
  ::chmod((bin + "/update-desktop-database").c_str(), 0755);
  ReloadDesktopMenus();
  EXPECT_EQ(ReadFile(calls), "db " + user_menu + "\n");  // the machine menu does not exist
  ::setenv("PATH", saved.c_str(), 1);
}

}  // namespace
}  // namespace zel::platform
