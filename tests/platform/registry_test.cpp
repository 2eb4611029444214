#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "tests/common/sandbox.h"

namespace zel::platform {
namespace {

using zel::test::ReadFile;
using zel::test::SandboxPath;
using zel::test::WriteFile;

constexpr RegRoot kLm = RegRoot::kLocalMachine;
constexpr RegRoot kCu = RegRoot::kCurrentUser;

std::string StoreFile(RegRoot root) {
  return WideToUtf8(RegistryStorePath(root));
}

RegStatus SetSz(RegKey& key, const std::string& name, const std::string& text) {
  return key.SetValue(name, kRegSz, text.c_str(), static_cast<std::uint32_t>(text.size() + 1));
}

RegStatus SetDword(RegKey& key, const std::string& name, std::uint32_t value) {
  return key.SetValue(name, kRegDword, &value, sizeof(value));
}

RegValue Query(const RegKey& key, const std::string& name, RegStatus* status) {
  RegValue v;
  std::uint32_t size = 0;
  *status = key.QueryValue(name, &v.type, nullptr, &size);
  if (*status != kRegOk)
    return v;
  v.data.resize(size);
  *status = key.QueryValue(name, &v.type, v.data.data(), &size);
  v.data.resize(size);
  return v;
}

TEST(RegistryTest, StoresLiveUnderTheMachinePrefixAndTheUserConfig) {
  EXPECT_EQ(StoreFile(kLm), SandboxPath("machine/registry/HKLM.reg"));
  EXPECT_EQ(StoreFile(kCu), SandboxPath("home/.config/zel-registry/HKCU.reg"));
}

TEST(RegistryTest, ValuesKeepNameTypeAndDataAcrossHandles) {
  {
    RegKey key;
    ASSERT_EQ(key.Create(kLm, "SOFTWARE\\Vendor\\Product"), kRegOk);
    EXPECT_EQ(key.path(), "SOFTWARE\\Vendor\\Product");
    EXPECT_EQ(SetSz(key, "Name", "Telviska"), kRegOk);
    EXPECT_EQ(SetDword(key, "Size", 0x376C8), kRegOk);
    const char binary[] = {'\0', '\x01', '\xff', '\n', '"', '\\'};
    EXPECT_EQ(key.SetValue("Blob", kRegBinary, binary, sizeof(binary)), kRegOk);
    EXPECT_EQ(key.SetValue("", kRegSz, "d", 2), kRegOk);  // the default value
  }
  EXPECT_TRUE(std::filesystem::exists(StoreFile(kLm)));

  RegKey key;
  ASSERT_EQ(key.Open(kLm, "software\\VENDOR\\product", kKeyRead), kRegOk);
  RegStatus status;
  RegValue name = Query(key, "NAME", &status);
  ASSERT_EQ(status, kRegOk);
  EXPECT_EQ(name.type, kRegSz);
  EXPECT_EQ(name.data, std::string("Telviska\0", 9));

  RegValue size = Query(key, "Size", &status);
  ASSERT_EQ(status, kRegOk);
  EXPECT_EQ(size.type, kRegDword);
  ASSERT_EQ(size.data.size(), 4u);
  std::uint32_t dword;
  std::memcpy(&dword, size.data.data(), 4);
  EXPECT_EQ(dword, 0x376C8u);

  RegValue blob = Query(key, "Blob", &status);
  EXPECT_EQ(blob.type, kRegBinary);
  EXPECT_EQ(blob.data, std::string("\0\x01\xff\n\"\\", 6));
  EXPECT_EQ(Query(key, "", &status).data, std::string("d\0", 2));

  // Enumeration keeps the spelling of creation.
  RegKey parent;
  ASSERT_EQ(parent.Open(kLm, "Software\\Vendor", kKeyRead), kRegOk);
  std::string sub;
  ASSERT_EQ(parent.EnumSubKey(0, &sub), kRegOk);
  EXPECT_EQ(sub, "Product");
}

TEST(RegistryTest, OddNamesRoundTripThroughTheStoreFile) {
  const std::vector<std::string> names = {"with \"quotes\"", "back\\slash", "line\nbreak",
                                          "tab\there",       "\x7f\x01",    "Telviska \xE5\xBE\xAE",
                                          "K \"x\""};
  {
    RegKey key;
    ASSERT_EQ(key.Create(kCu, "Odd \"key\" name\\\xE5\xBE\xAE"), kRegOk);
    for (std::size_t i = 0; i < names.size(); ++i) {
      ASSERT_EQ(SetDword(key, names[i], static_cast<std::uint32_t>(i)), kRegOk) << i;
    }
  }
  RegKey key;
  ASSERT_EQ(key.Open(kCu, "Odd \"key\" name\\\xE5\xBE\xAE", kKeyRead), kRegOk);
  for (std::uint32_t i = 0; i < names.size(); ++i) {
    RegValue v;
    ASSERT_EQ(key.EnumValue(i, &v), kRegOk);
    EXPECT_EQ(v.name, names[i]);
    EXPECT_EQ(v.type, kRegDword);
  }
  RegValue past;
  EXPECT_EQ(key.EnumValue(static_cast<std::uint32_t>(names.size()), &past), kRegNoMoreItems);
}

TEST(RegistryTest, QueryValueFollowsTheBufferRules) {
  RegKey key;
  ASSERT_EQ(key.Create(kLm, "K"), kRegOk);
  ASSERT_EQ(SetSz(key, "s", "hello"), kRegOk);

  std::uint32_t type = 0, size = 0;
  EXPECT_EQ(key.QueryValue("s", &type, nullptr, &size), kRegOk);
  EXPECT_EQ(type, kRegSz);
  EXPECT_EQ(size, 6u);

  char small[3] = {'x', 'x', 'x'};
  size = sizeof(small);
  EXPECT_EQ(key.QueryValue("s", nullptr, small, &size), kRegMoreData);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(small[0], 'x');  // nothing copied

  char big[16] = {};
  size = sizeof(big);
  EXPECT_EQ(key.QueryValue("s", nullptr, big, &size), kRegOk);
  EXPECT_EQ(size, 6u);
  EXPECT_STREQ(big, "hello");

  EXPECT_EQ(key.QueryValue("missing", &type, nullptr, &size), kRegNotFound);
  EXPECT_EQ(key.QueryValue("s", nullptr, big, nullptr), kRegInvalidParameter);
}

TEST(RegistryTest, HandlesAndPathsAreChecked) {
  RegKey closed;
  EXPECT_EQ(SetDword(closed, "v", 1), kRegInvalidHandle);

  RegKey key;
  EXPECT_EQ(key.Open(kLm, "Missing", kKeyRead), kRegNotFound);
  EXPECT_FALSE(key.IsOpen());

  struct Case {
    std::string path;
    RegStatus status;
  } cases[] = {
      {"\\Leading", kRegInvalidParameter},
      {"a\\\\b", kRegInvalidParameter},
      {std::string(256, 'n'), kRegInvalidParameter},
      {std::string(255, 'n'), kRegOk},
      {"Trailing\\", kRegOk},
      {"", kRegOk},  // the root itself
  };
  for (const Case& c : cases)
    EXPECT_EQ(key.Create(kLm, c.path), c.status) << c.path;

  ASSERT_EQ(key.Open(kLm, "Trailing", kKeyRead), kRegOk);
  EXPECT_EQ(SetDword(key, "v", 1), kRegAccessDenied);
  EXPECT_EQ(key.DeleteValue("v"), kRegAccessDenied);
}

TEST(RegistryTest, EnumeratesAndReportsKeyInfo) {
  RegKey key;
  for (const char* name : {"Zeta", "alpha", "Mid"}) {
    ASSERT_EQ(key.Create(kLm, std::string("Root\\") + name), kRegOk);
  }
  ASSERT_EQ(key.Create(kLm, "Root"), kRegOk);
  ASSERT_EQ(SetSz(key, "second", "0123456789"), kRegOk);
  ASSERT_EQ(SetDword(key, "first_and_longest", 1), kRegOk);

  std::vector<std::string> subkeys;
  std::string name;
  for (std::uint32_t i = 0; key.EnumSubKey(i, &name) == kRegOk; ++i)
    subkeys.push_back(name);
  EXPECT_EQ(subkeys, (std::vector<std::string>{"alpha", "Mid", "Zeta"}));

  RegKeyInfo info;
  ASSERT_EQ(key.QueryInfo(&info), kRegOk);
  EXPECT_EQ(info.subkeys, 3u);
  EXPECT_EQ(info.max_subkey_length, 5u);
  EXPECT_EQ(info.values, 2u);
  EXPECT_EQ(info.max_value_name_length, 17u);
  EXPECT_EQ(info.max_value_data_length, 11u);
  EXPECT_TRUE(info.class_name.empty());

  RegValue v;
  ASSERT_EQ(key.EnumValue(0, &v), kRegOk);
  EXPECT_EQ(v.name, "second");  // setting order, not name order
}

TEST(RegistryTest, DeletingKeysAndValues) {
  RegKey key;
  ASSERT_EQ(key.Create(kLm, "A\\B\\C"), kRegOk);
  ASSERT_EQ(SetDword(key, "v", 7), kRegOk);
  EXPECT_EQ(key.DeleteValue("V"), kRegOk);
  EXPECT_EQ(key.DeleteValue("v"), kRegNotFound);

  EXPECT_EQ(DeleteKeyTree(kLm, "a\\b"), kRegOk);
  EXPECT_EQ(DeleteKeyTree(kLm, "a\\b"), kRegNotFound);
  EXPECT_EQ(DeleteKeyTree(kLm, ""), kRegInvalidParameter);
  // The handle outlived its key.
  EXPECT_EQ(SetDword(key, "v", 1), kRegKeyDeleted);
  RegKey a;
  EXPECT_EQ(a.Open(kLm, "A", kKeyRead), kRegOk);
  EXPECT_EQ(a.Open(kLm, "A\\B", kKeyRead), kRegNotFound);
}

TEST(RegistryTest, ADamagedStoreIsNeverOverwritten) {
  const std::string damaged = "ZELREG 1\nK \"Unterminated\nV 4 \"x\" 01\n";
  WriteFile(StoreFile(kLm), damaged);
  RegKey key;
  EXPECT_EQ(key.Create(kLm, "New"), kRegBadDb);
  EXPECT_EQ(key.Open(kLm, "Unterminated", kKeyRead), kRegBadDb);
  EXPECT_EQ(DeleteKeyTree(kLm, "Unterminated"), kRegBadDb);
  EXPECT_EQ(ReadFile(StoreFile(kLm)), damaged);

  // Other damage: a foreign file, odd hex, a value before any key, a
  // duplicate value, a missing final newline.
  for (const std::string& text :
       {std::string("[HKEY_LOCAL_MACHINE]\n"), std::string("ZELREG 1\nK \"a\"\nV 4 \"x\" 0\n"),
        std::string("ZELREG 1\nV 4 \"x\" 00\n"),
        std::string("ZELREG 1\nK \"a\"\nV 4 \"x\" 00\nV 4 \"X\" 01\n"),
        std::string("ZELREG 1\nK \"a\""), std::string("")}) {
    WriteFile(StoreFile(kLm), text);
    EXPECT_EQ(key.Create(kLm, "a"), kRegBadDb) << text;
  }
}

TEST(RegistryTest, AnInterruptedWriteLeavesTheOldStoreUsable) {
  RegKey key;
  ASSERT_EQ(key.Create(kLm, "K"), kRegOk);
  ASSERT_EQ(SetDword(key, "v", 1), kRegOk);
  const std::string before = ReadFile(StoreFile(kLm));
  EXPECT_FALSE(std::filesystem::exists(StoreFile(kLm) + ".tmp"));

  // A crash between writing the temporary file and renaming it.
  WriteFile(StoreFile(kLm) + ".tmp", "ZELREG 1\nK \"K\"\nV 4 \"v\" 02");
  RegKey reader;
  ASSERT_EQ(reader.Open(kLm, "K", kKeyRead), kRegOk);
  RegStatus status;
  EXPECT_EQ(Query(reader, "v", &status).data, std::string("\x01\0\0\0", 4));
  ASSERT_EQ(SetDword(key, "w", 2), kRegOk);
  EXPECT_FALSE(std::filesystem::exists(StoreFile(kLm) + ".tmp"));
  EXPECT_NE(ReadFile(StoreFile(kLm)), before);
}

TEST(RegistryTest, ReplacingKeepsTheStoresMode) {
  RegKey key;
  ASSERT_EQ(key.Create(kCu, "K"), kRegOk);
  ASSERT_EQ(SetDword(key, "v", 1), kRegOk);
  ASSERT_EQ(::chmod(StoreFile(kCu).c_str(), 0600), 0);
  ASSERT_EQ(SetDword(key, "v", 2), kRegOk);
  struct stat st;
  ASSERT_EQ(::stat(StoreFile(kCu).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// Writers in two processes and several threads each set values of their
// own; without the lock, read-modify-write cycles would drop some.
TEST(RegistryTest, ConcurrentWritersLoseNothing) {
  constexpr int kPerWriter = 25;
  auto write_all = [](const std::string& prefix) {
    for (int i = 0; i < kPerWriter; ++i) {
      RegKey key;
      if (key.Create(kLm, "Shared") != kRegOk)
        return false;
      if (SetDword(key, prefix + std::to_string(i), static_cast<std::uint32_t>(i)) != kRegOk) {
        return false;
      }
    }
    return true;
  };
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0)
    ::_exit(write_all("child") ? 0 : 1);

  std::vector<std::thread> threads;
  std::vector<int> ok(3, 0);
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&, t] { ok[t] = write_all("thread" + std::to_string(t) + "_"); });
  }
  for (std::thread& t : threads)
    t.join();
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int t = 0; t < 3; ++t)
    EXPECT_TRUE(ok[t]) << t;

  RegKey key;
  ASSERT_EQ(key.Open(kLm, "Shared", kKeyRead), kRegOk);
  RegKeyInfo info;
  ASSERT_EQ(key.QueryInfo(&info), kRegOk);
  EXPECT_EQ(info.values, 4u * kPerWriter);
}

}  // namespace
}  // namespace zel::platform
