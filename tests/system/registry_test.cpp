#include "system/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "profile/package_header.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"
#include "tests/system/log_capture.h"

namespace zel {
namespace {

using platform::RegValue;
using test::LogCapture;

std::string Sz(const std::string& text) {
  return text + std::string(1, '\0');
}
std::string Dword(std::uint32_t value) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &value, 4);
  return bytes;
}

// Every value of |key_name| under the Uninstall branch, in setting order.
std::vector<RegValue> UninstallValues(const std::string& key_name) {
  std::vector<RegValue> values;
  platform::RegKey key;
  if (key.Open(kHkeyLocalMachine, kUninstallBranch + key_name, platform::kKeyRead) !=
      platform::kRegOk) {
    return values;
  }
  RegValue v;
  for (std::uint32_t i = 0; key.EnumValue(i, &v) == platform::kRegOk; ++i)
    values.push_back(v);
  return values;
}

bool UninstallKeyExists(const std::string& key_name) {
  platform::RegKey key;
  return key.Open(kHkeyLocalMachine, kUninstallBranch + key_name, platform::kKeyRead) ==
         platform::kRegOk;
}

PackageHeader Header(bool is64bit) {
  PackageHeader header = NewPackageHeader();
  SetHeaderText(header.product_name, "Telviska");
  SetHeaderText(header.display_name, "Telviska");
  SetHeaderText(header.version, "1.0.0.0");
  SetHeaderText(header.release_date, "2020-08-17");
  SetHeaderText(header.web_address, "https://www.zel-installer.invalid/");
  SetHeaderText(header.publisher, "Brondel Software 2020");
  header.is_x64 = is64bit ? 1 : 0;
  return header;
}

class UninstallRegistryTest : public ::testing::Test {
 protected:
  LogCapture log_;
  const std::wstring folder_ = L"/opt/Program Files/Telviska";
};

TEST_F(UninstallRegistryTest, WritesEveryValueOfThe64BitEntryInOrder) {
  WriteUninstallEntry(UninstallEntryFromHeader(Header(true)), folder_, "Brondex.exe", 3);

  const std::string uninstaller = "\"/opt/Program Files/Telviska/uninstall.exe\"";
  const std::string web = "https://www.zel-installer.invalid/";
  struct Expected {
    const char* name;
    std::uint32_t type;
    std::string data;
  } expected[] = {
      {"DisplayIcon", platform::kRegSz, Sz("/opt/Program Files/Telviska/Brondex.exe")},
      {"Version", platform::kRegSz, Sz("1.0.0.0")},
      {"DisplayVersion", platform::kRegSz, Sz("1.0.0.0")},
      {"DisplayName", platform::kRegSz, Sz("Telviska (x64) (2020-08-17)")},
      {"EstimatedSize", platform::kRegDword, Dword(0x376C8)},
      {"HelpLink", platform::kRegSz, Sz(web)},
      {"InstallDate", platform::kRegSz, Sz("20200817")},
      {"InstallLocation", platform::kRegSz, Sz("/opt/Program Files/Telviska")},
      {"NoModify", platform::kRegDword, Dword(1)},
      {"NoRepair", platform::kRegDword, Dword(1)},
      {"Publisher", platform::kRegSz, Sz("Brondel Software 2020")},
      {"QuietUninstallString", platform::kRegSz, Sz(uninstaller + " /SILENT")},
      {"sEstimatedSize2", platform::kRegDword, Dword(0x38262)},
      {"UninstallString", platform::kRegSz, Sz(uninstaller)},
      {"URLInfoAbout", platform::kRegSz, Sz(web)},
      {"URLUpdateInfo", platform::kRegSz, Sz(web)},
      {"cfg_flag", platform::kRegDword, Dword(3)},
  };
  std::vector<RegValue> values = UninstallValues("Telviska(x64)");
  ASSERT_EQ(values.size(), std::size(expected));
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].name, expected[i].name) << i;
    EXPECT_EQ(values[i].type, expected[i].type) << expected[i].name;
    EXPECT_EQ(values[i].data, expected[i].data) << expected[i].name;
  }
  EXPECT_FALSE(UninstallKeyExists("Telviska"));
  EXPECT_TRUE(
      LogCapture::Contains("Write Setup Cfg Flag : 3, root(Telviska(x64)), key(cfg_flag).\n"));
}

TEST_F(UninstallRegistryTest, The32BitEntryHasNoX64AndAnEmptyAddressGivesEmptyTexts) {
  PackageHeader header = Header(false);
  SetHeaderText(header.web_address, "");
  WriteUninstallEntry(UninstallEntryFromHeader(header), folder_, "Brondex.exe", -1);
  ASSERT_FALSE(UninstallKeyExists("Telviska(x64)"));
  int checked = 0;
  for (const RegValue& v : UninstallValues("Telviska")) {
    if (v.name == "DisplayName") {
      EXPECT_EQ(v.data, Sz("Telviska (2020-08-17)"));
      ++checked;
    }
    if (v.name == "HelpLink" || v.name == "URLInfoAbout" || v.name == "URLUpdateInfo") {
      EXPECT_EQ(v.type, platform::kRegSz);
      EXPECT_EQ(v.data, std::string(1, '\0')) << v.name;
      ++checked;
    }
    if (v.name == "cfg_flag") {
      EXPECT_EQ(v.data, Dword(0xFFFFFFFFu));
      ++checked;
    }
  }
  EXPECT_EQ(checked, 5);
}

TEST(UninstallTextsTest, DisplayNameAndInstallDate) {
  struct Case {
    std::string date;
    std::string install_date;
  } cases[] = {
      {"2020-08-17", "20200817"},
      {"2020/08/17", "20200817"},  // separators are skipped, whatever they are
      {"2020-08", "202008"},       // a short text ends where its field's terminator is
      {"", ""},
      {"2020-08-17 extra", "20200817"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(UninstallInstallDate(c.date), c.install_date) << c.date;

  UninstallEntry entry;
  entry.display_name = "Telviska";
  entry.release_date = "2020-08-17";
  EXPECT_EQ(UninstallDisplayName(entry), "Telviska (2020-08-17)");
  entry.is64bit = true;
  EXPECT_EQ(UninstallDisplayName(entry), "Telviska (x64) (2020-08-17)");
  EXPECT_EQ(UninstallKeyName("Telviska", true), "Telviska(x64)");
  EXPECT_EQ(UninstallKeyName("Telviska", false), "Telviska");
}

TEST_F(UninstallRegistryTest, ReadingTheFlagsOfANeverInstalledProductCreatesItsKey) {
  std::int32_t flags = -1;
  EXPECT_EQ(ReadCfgFlag("Telviska(x64)", kCfgFlagValue, &flags), 1);
  EXPECT_EQ(flags, -1);
  EXPECT_TRUE(UninstallKeyExists("Telviska(x64)"));
  EXPECT_TRUE(UninstallValues("Telviska(x64)").empty());

  SetUninstallDword("Telviska(x64)", kCfgFlagValue, 2);
  EXPECT_EQ(ReadCfgFlag("Telviska(x64)", kCfgFlagValue, &flags), 1);
  EXPECT_EQ(flags, 2);
}

TEST_F(UninstallRegistryTest, FlagsOfAnotherTypeReadAsFarAsFourBytesGo) {
  struct Case {
    std::string data;
    std::uint32_t type;
    std::int32_t flags;
  } cases[] = {
      {Dword(1), platform::kRegDword, 1},
      {Sz("1"), platform::kRegSz, 0x31},  // '1', 0, then zeros
      {std::string("\x02", 1), platform::kRegBinary, 2},
      {Sz("abcdef"), platform::kRegSz, -1},  // too long: the read fails
      {std::string(), platform::kRegBinary, 0},
  };
  for (const Case& c : cases) {
    platform::RegKey key;
    ASSERT_EQ(key.Create(kHkeyLocalMachine, std::string(kUninstallBranch) + "Telviska"),
              platform::kRegOk);
    ASSERT_EQ(key.SetValue(kCfgFlagValue, c.type, c.data.data(),
                           static_cast<std::uint32_t>(c.data.size())),
              platform::kRegOk);
    std::int32_t flags = -1;
    EXPECT_EQ(ReadCfgFlag("Telviska", kCfgFlagValue, &flags), 1);
    EXPECT_EQ(flags, c.flags) << c.data.size();
  }
}

TEST_F(UninstallRegistryTest, InstallLocationOf200CharactersOrMoreIsNotRead) {
  struct Case {
    std::size_t length;
    bool read;
  } cases[] = {{0, false}, {1, true}, {199, true}, {200, false}, {250, false}};
  for (const Case& c : cases) {
    const std::string location(c.length, 'p');
    SetUninstallString("Telviska", "InstallLocation", location);
    std::string out = "unchanged";
    EXPECT_EQ(ReadInstallLocation("Telviska", &out), c.read) << c.length;
    EXPECT_EQ(out, c.read ? location : "unchanged") << c.length;
  }
}

TEST_F(UninstallRegistryTest, KeyNamesThatAreNotOneKeyAreRefused) {
  for (const std::string& name : {std::string(""), std::string("..\\Run"), std::string("a\\b")}) {
    EXPECT_EQ(SetUninstallString(name, "DisplayName", "x"), 0) << name;
    EXPECT_EQ(SetUninstallDword(name, "NoModify", 1), 0);
    std::int32_t flags = -1;
    EXPECT_EQ(ReadCfgFlag(name, kCfgFlagValue, &flags), 0);
    std::string location;
    EXPECT_FALSE(ReadInstallLocation(name, &location));
  }
  // Nothing landed on the branch itself or beside it.
  platform::RegKey branch;
  EXPECT_EQ(branch.Open(kHkeyLocalMachine, kUninstallBranch, platform::kKeyRead),
            platform::kRegNotFound);
  EXPECT_TRUE(LogCapture::Contains("Uninstall key name refused: (a\\b) is not one key name."));
}

TEST_F(UninstallRegistryTest, HelpersAnswerZeroWhenTheStoreCannotBeUsed) {
  test::WriteFile(ToNarrow(platform::RegistryStorePath(kHkeyLocalMachine)), "not a store\n");
  EXPECT_EQ(SetUninstallString("Telviska", "DisplayName", "x"), 0);
  std::int32_t flags = -1;
  EXPECT_EQ(ReadCfgFlag("Telviska", kCfgFlagValue, &flags), 0);
  EXPECT_EQ(flags, -1);
  EXPECT_TRUE(LogCapture::Contains("Open uninstall key failed: key(Telviska), error(1009)."));
  // WriteUninstallEntry goes on through every value and still logs its line.
  WriteUninstallEntry(UninstallEntryFromHeader(Header(true)), folder_, "Brondex.exe", 1);
  EXPECT_TRUE(
      LogCapture::Contains("Write Setup Cfg Flag : 1, root(Telviska(x64)), key(cfg_flag).\n"));
  EXPECT_EQ(test::ReadFile(ToNarrow(platform::RegistryStorePath(kHkeyLocalMachine))),
            "not a store\n");
}

TEST_F(UninstallRegistryTest, DeleteUninstallEntryRemovesTheWholeKey) {
  WriteUninstallEntry(UninstallEntryFromHeader(Header(true)), folder_, "Brondex.exe", 3);
  EXPECT_TRUE(DeleteUninstallEntry("Telviska(x64)"));
  EXPECT_FALSE(UninstallKeyExists("Telviska(x64)"));
  EXPECT_TRUE(DeleteUninstallEntry("Telviska(x64)"));  // already gone
  EXPECT_FALSE(DeleteUninstallEntry(""));
}

TEST(CMyRegKeyTest, QueriesFollowTheirTypeRules) {
  CMyRegKey key;
  ASSERT_EQ(key.Create(kHkeyCurrentUser, "Software\\Zel"), 0);
  EXPECT_EQ(key.path(), "Software\\Zel");
  ASSERT_EQ(key.SetString("text", "hello"), 0);
  ASSERT_EQ(key.SetDword("number", 0xFFFFFFFEu), 0);
  platform::RegKey raw;
  ASSERT_EQ(raw.Open(kHkeyCurrentUser, "Software\\Zel", platform::kKeyAllAccess), 0);
  ASSERT_EQ(raw.SetValue("short", platform::kRegDword, "\x05\x00", 2), 0);
  ASSERT_EQ(raw.SetValue("unterminated", platform::kRegSz, "abc", 3), 0);

  std::int32_t n = 0;
  EXPECT_EQ(key.QueryDword("number", &n), 0);
  EXPECT_EQ(n, -2);
  EXPECT_EQ(key.QueryDwordStrict("number", &n), 0);
  n = 0;
  EXPECT_EQ(key.QueryDwordStrict("short", &n), -1);  // not 4 bytes
  EXPECT_EQ(n, 5);
  EXPECT_EQ(key.QueryDwordStrict("text", &n), platform::kRegMoreData);
  EXPECT_EQ(key.QueryDword("missing", &n), platform::kRegNotFound);

  std::string text = "old";
  EXPECT_EQ(key.QueryString("text", &text), 0);
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(key.QueryString("unterminated", &text), 0);
  EXPECT_EQ(text, "abc");

  char buffer[16];
  std::uint32_t size = sizeof(buffer);
  EXPECT_EQ(key.QueryValue("text", buffer, &size), 0);
  EXPECT_EQ(size, 6u);
  size = sizeof(buffer);
  EXPECT_EQ(key.QueryValue("number", buffer, &size), -1);

  platform::RegKeyInfo info;
  EXPECT_EQ(key.QueryInfo(&info), 0);
  EXPECT_EQ(info.values, 4u);
  ASSERT_EQ(key.Create(kHkeyCurrentUser, "Software"), 0);  // closes the first key
  std::string sub;
  EXPECT_EQ(key.EnumSubKey(0, &sub), 0);
  EXPECT_EQ(sub, "Zel");
  EXPECT_EQ(key.EnumSubKey(1, &sub), platform::kRegNoMoreItems);

  key.Close();
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(key.SetDword("x", 1), platform::kRegInvalidHandle);
  EXPECT_EQ(key.Open(kHkeyCurrentUser, "Software\\Missing", platform::kKeyRead),
            platform::kRegNotFound);
  EXPECT_EQ(key.path(), "Software\\Missing");  // kept for diagnostics
}

}  // namespace
}  // namespace zel
