#include "system/shortcuts.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"
#include "profile/product_info.h"
#include "shell/language.h"
#include "system/file_util.h"
#include "system/registry.h"
#include "tests/common/sandbox.h"
#include "tests/system/log_capture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::LogCapture;
using test::ReadFile;
using test::SandboxPath;

std::string Folder(platform::SpecialFolder kind) {
  return ToNarrow(platform::GetSpecialFolder(kind));
}

// desktop-file-validate's complaints; empty when the file is valid.
std::string Validate(const std::string& path) {
  const std::string out = SandboxPath("validate.out");
  // The tests narrow PATH to their stand-ins; the validator lives elsewhere.
  int status = std::system(
      ("PATH=/usr/bin:/bin desktop-file-validate '" + path + "' > '" + out + "' 2>&1").c_str());
  return status == 0 ? ReadFile(out) : "exit " + std::to_string(status) + ": " + ReadFile(out);
}

// "Key=value" of a launcher; empty when missing.
std::string Entry(const std::string& path, const std::string& key) {
  const std::string text = "\n" + ReadFile(path);
  std::size_t pos = text.find("\n" + key + "=");
  if (pos == std::string::npos)
    return std::string();
  pos += key.size() + 2;
  return text.substr(pos, text.find('\n', pos) - pos);
}

class ShortcutsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetLanguageStateForTesting();
    SelectLanguage(L"Telviska", 0x0409);
    // Only a recording stand-in for the menu tools is on the PATH.
    bin_ = SandboxPath("bin");
    fs::create_directories(bin_);
    test::WriteFile(bin_ + "/update-desktop-database",
                    "#!/bin/sh\necho \"$*\" >> '" + SandboxPath("reloads.txt") + "'\n");
    ::chmod((bin_ + "/update-desktop-database").c_str(), 0755);
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "/usr/bin:/bin";
    ::setenv("PATH", bin_.c_str(), 1);
    LogCapture::Clear();
  }
  void TearDown() override {
    ::setenv("PATH", saved_path_.c_str(), 1);
    ResetLanguageStateForTesting();
  }

  LogCapture log_;
  std::string bin_;
  std::string saved_path_;
  const std::wstring install_ = L"/opt/Program Files/Telviska";
};

TEST_F(ShortcutsTest, MakesTheSevenShortcutsOfA64BitInstallation) {
  CreateProductShortcuts(install_, true, "1.0.0.0", true);

  const std::string f = "Telviska (x64)";
  const std::string desktop = Folder(platform::SpecialFolder::kDesktop);
  const std::string user = Folder(platform::SpecialFolder::kPrograms) + "/" + f;
  const std::string common = Folder(platform::SpecialFolder::kCommonPrograms) + "/" + f;
  const std::string main_exe = "\"/opt/Program Files/Telviska/Brondex.exe\"";
  const std::string uninstaller = "\"/opt/Program Files/Telviska/uninstall.exe\"";
  const std::string web = WebSiteUrl() + "1.0.0.0";
  struct Expected {
    std::string path;
    std::string exec_or_url;
    std::string work_folder;
    std::string comment;
  } expected[] = {
      {desktop + "/" + f + ".desktop", main_exe, "/opt/Program Files/Telviska", f + "Application"},
      {user + "/" + f + ".desktop", main_exe, "/opt/Program Files/Telviska", f + "Application"},
      {user + "/Uninstall Telviska.desktop", uninstaller, "/opt/Program Files/Telviska",
       f + "Uninstall Application"},
      {user + "/Telviska Online.desktop", web, "", f + "Homepage"},
      {common + "/" + f + ".desktop", main_exe, "/opt/Program Files/Telviska", f + "Application"},
      {common + "/Uninstall Telviska.desktop", uninstaller, "/opt/Program Files/Telviska",
       f + "Uninstall Application"},
      {common + "/Telviska Online.desktop", web, "", f + "Homepage"},
  };
  for (const Expected& e : expected) {
    ASSERT_TRUE(fs::exists(e.path)) << e.path;
    const bool is_link = e.work_folder.empty();
    EXPECT_EQ(Entry(e.path, is_link ? "URL" : "Exec"), e.exec_or_url) << e.path;
    EXPECT_EQ(Entry(e.path, "Path"), e.work_folder) << e.path;
    EXPECT_EQ(Entry(e.path, "Comment"), e.comment) << e.path;
    EXPECT_EQ(Entry(e.path, "Type"), is_link ? "Link" : "Application") << e.path;
    EXPECT_EQ(Validate(e.path), "") << e.path;
  }
  EXPECT_EQ(Entry(expected[2].path, "Name"), "Uninstall Telviska");

  std::vector<std::string> lines = LogCapture::Lines();
  EXPECT_EQ(lines, (std::vector<std::string>{"Create Icons for x64", "Create DESKTOP Icons Finish.",
                                             "Create START_MENU Icons Finish.",
                                             "Create COMMON_MENU Icons Finish.",
                                             "Refresh Icons Finish."}));
  // Three refreshes, each reloading both menus.
  const std::string menus = Folder(platform::SpecialFolder::kPrograms) + "\n" +
                            Folder(platform::SpecialFolder::kCommonPrograms) + "\n";
  EXPECT_EQ(ReadFile(SandboxPath("reloads.txt")), menus + menus + menus);
}

TEST_F(ShortcutsTest, WithoutTheDesktopBoxOnlyTheMenusGetShortcuts) {
  CreateProductShortcuts(install_, false, "1.0.0.0", false);
  EXPECT_FALSE(fs::exists(Folder(platform::SpecialFolder::kDesktop) + "/Telviska.desktop"));
  for (auto kind : {platform::SpecialFolder::kPrograms, platform::SpecialFolder::kCommonPrograms}) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(Folder(kind) + "/Telviska")) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"Telviska.desktop", "Uninstall Telviska.desktop",
                                            "Telviska Online.desktop"}));
  }
  EXPECT_EQ(LogCapture::Lines().front(), "Create Icons for x86");
  EXPECT_FALSE(LogCapture::Contains("Create DESKTOP Icons Finish."));
}

TEST_F(ShortcutsTest, CreateShortcutChecksItsArgumentsAndFolders) {
  const std::string given = SandboxPath("given");
  fs::create_directories(given);
  const std::wstring wgiven = ToWide(given);
  struct Case {
    const wchar_t* target;
    const wchar_t* folder;
    const wchar_t* name;
    int kind;
    const wchar_t* sub;
    HResult result;
    std::string made;
  } cases[] = {
      {nullptr, L"/opt", L"A", 4, nullptr, kPointer, ""},
      {L"/opt/a", L"/opt", nullptr, 4, nullptr, kPointer, ""},
      {L"/opt/a", nullptr, L"A", 5, nullptr, kFail, ""},
      {L"/opt/a", L"/no/such/folder", L"A", 5, L"Sub", kFail, ""},
      {L"/opt/a", wgiven.c_str(), L"A", 5, nullptr, kOk, given + "/A.desktop"},
      {L"/opt/a", wgiven.c_str(), L"B", 5, L"Sub/Deeper", kOk, given + "/Sub/Deeper/B.desktop"},
      {L"/opt/a", nullptr, L"Q", 0, nullptr, kFail, ""},  // no Quick Launch here
      {L"/opt/a", nullptr, L"D", 9, nullptr, kOk,
       Folder(platform::SpecialFolder::kDesktop) + "/D.desktop"},
      {L"/opt/a", wgiven.c_str(), L"../Escape", 5, nullptr, kFail, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CreateShortcut(c.target, c.folder, c.name, c.kind, c.sub, nullptr, nullptr, nullptr),
              c.result)
        << (c.name ? ToNarrow(c.name) : "null");
    if (!c.made.empty()) {
      EXPECT_TRUE(fs::exists(c.made)) << c.made;
    }
  }
  EXPECT_FALSE(fs::exists("/no/such/folder"));
  EXPECT_FALSE(fs::exists(SandboxPath("Escape.desktop")));
  EXPECT_TRUE(
      LogCapture::Contains("Create shortcut failed: name(../Escape), folder(" + given + ")."));
}

TEST_F(ShortcutsTest, ShortcutFoldersOfEachKind) {
  std::wstring folder;
  EXPECT_FALSE(GetShortcutFolder(kShortcutGivenFolder, &folder));
  ASSERT_TRUE(GetShortcutFolder(kShortcutQuickLaunch, &folder));
  EXPECT_EQ(ToNarrow(folder), Folder(platform::SpecialFolder::kRoamingAppData) +
                                  "/Microsoft/Internet Explorer/Quick Launch");
  ASSERT_TRUE(GetShortcutFolder(kShortcutPinnedTaskBar, &folder));
  EXPECT_EQ(ToNarrow(folder), Folder(platform::SpecialFolder::kRoamingAppData) +
                                  "/Microsoft/Internet Explorer/Quick Launch/User Pinned/TaskBar");
  EXPECT_FALSE(fs::exists(ToNarrow(folder)));
  ASSERT_TRUE(GetShortcutFolder(kShortcutCommonPrograms, &folder));
  EXPECT_EQ(ToNarrow(folder), Folder(platform::SpecialFolder::kCommonPrograms));
  EXPECT_FALSE(fs::exists(ToNarrow(folder)));  // looking makes nothing
  EXPECT_EQ(CreateShortcut(L"/opt/a", nullptr, L"A", kShortcutCommonPrograms, nullptr, nullptr,
                           nullptr, nullptr),
            kOk);
  EXPECT_TRUE(fs::is_directory(ToNarrow(folder)));  // made for the first shortcut
}

// The refresh's intermediate value lives for 200 ms; a reader polling the
// store sees it.
std::set<std::string> IconSizesSeenDuring(void (*run)()) {
  std::atomic<bool> done{false};
  std::set<std::string> seen;
  std::thread watcher([&] {
    while (!done.load()) {
      CMyRegKey key;
      std::string text;
      if (key.Open(kHkeyCurrentUser, "Control Panel\\Desktop\\WindowMetrics", platform::kKeyRead) ==
              0 &&
          key.QueryString("Shell Icon Size", &text) == 0) {
        seen.insert(text);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  run();
  done.store(true);
  watcher.join();
  return seen;
}

TEST_F(ShortcutsTest, IconRefreshGoesOneUpAndBack) {
  struct Case {
    const char* before;  // null: no value
    std::string during;
    std::string after;
  } cases[] = {
      {nullptr, "33", "32"}, {"", "33", "32"},
      {"0", "33", "32"},     {"abc", "33", "32"},
      {"-5", "33", "32"},    {"48", "49", "48"},
      {"16px", "17", "16"},  {"99999999999", "2147483647", "2147483646"},
  };
  for (const Case& c : cases) {
    platform::DeleteKeyTree(kHkeyCurrentUser, "Control Panel");
    CMyRegKey key;
    ASSERT_EQ(key.Create(kHkeyCurrentUser, "Control Panel\\Desktop\\WindowMetrics"), 0);
    if (c.before != nullptr)
      key.SetString("Shell Icon Size", c.before);
    key.Close();
    std::set<std::string> seen = IconSizesSeenDuring(&RefreshShellIcons);
    EXPECT_TRUE(seen.count(c.during)) << (c.before ? c.before : "(none)");
    ASSERT_EQ(
        key.Open(kHkeyCurrentUser, "Control Panel\\Desktop\\WindowMetrics", platform::kKeyRead), 0);
    std::string after;
    EXPECT_EQ(key.QueryString("Shell Icon Size", &after), 0);
    EXPECT_EQ(after, c.after) << (c.before ? c.before : "(none)");
  }
}

TEST_F(ShortcutsTest, IconRefreshWithoutTheKeyWritesNothing) {
  RefreshShellIcons();
  platform::RegKey key;
  EXPECT_EQ(key.Open(kHkeyCurrentUser, "Control Panel", platform::kKeyRead),
            platform::kRegNotFound);
}

}  // namespace
}  // namespace zel
