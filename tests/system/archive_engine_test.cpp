#include "system/archive_engine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/common/sandbox.h"
#include "tests/system/package_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::SandboxPath;

struct Notes {
  std::vector<int> errors;
  std::vector<std::uint32_t> progress;
};

void OnError(void* context, int code) {
  static_cast<Notes*>(context)->errors.push_back(code);
}
void OnProgress(void* context, std::uint32_t low, std::uint32_t high) {
  EXPECT_EQ(high, 0u);
  static_cast<Notes*>(context)->progress.push_back(low);
}

int RunEngine(const std::vector<std::string>& args, Notes* notes) {
  std::vector<const char*> argv;
  for (const std::string& a : args)
    argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return ArchiveEngineMain(static_cast<int>(args.size()), argv.data(), notes, &OnError,
                           &OnProgress);
}

std::string WriteArchive(const std::string& name, const std::string& bytes) {
  std::string path = SandboxPath(name);
  test::WriteFile(path, bytes);
  return path;
}

TEST(ArchiveEngineTest, ProgressValue) {
  struct Case {
    std::uint64_t completed, total, value;
  } cases[] = {
      {0, 100, 0},
      {1, 3, 33},
      {50, 100, 50},
      {100, 100, 100},
      {5 << 20, kEngineUnknownTotal, 5},  // MiB when the total is unknown
      {(5 << 20) - 1, kEngineUnknownTotal, 4},
      {10, 0, 0},
      {~std::uint64_t{0} - 1, ~std::uint64_t{0} - 1, 100},  // no overflow
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EngineProgressValue(c.completed, c.total), c.value) << c.completed << "/" << c.total;
  }
}

TEST(ArchiveEngineTest, UnsafeEntries) {
  auto entry = [](std::string path, bool link = false) {
    ArchiveEntry e;
    e.path = std::move(path);
    e.is_link = link;
    return e;
  };
  struct Case {
    std::vector<ArchiveEntry> entries;
    const char* reason;  // empty: safe
  } cases[] = {
      {{entry("Brondex.exe"), entry("data/a.txt"), entry("data/..x")}, ""},
      {{entry("/etc/passwd")}, "absolute path"},
      {{entry("\\windows\\x")}, "absolute path"},
      {{entry("C:/x")}, "absolute path"},
      {{entry("data/../../x")}, "\"..\""},
      {{entry("data\\..\\..\\x")}, "\"..\""},
      {{entry("..")}, "\"..\""},
      {{entry("")}, "without a name"},
      {{entry("lib", true), entry("lib/evil.so")}, "below a link"},
      {{entry("lib", true), entry("library/ok.so")}, ""},
  };
  for (const Case& c : cases) {
    std::string reason = UnsafeEntryReason(c.entries);
    if (*c.reason == '\0') {
      EXPECT_EQ(reason, "") << c.entries.front().path;
    } else {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
  }
}

TEST(ArchiveEngineTest, ParsesRealListing) {
  ASSERT_FALSE(FindArchiveProgram().empty()) << "7-Zip is part of the set-up";
  const char listing[] =
      "Path = /tmp/a.7z\nType = 7z\n\n----------\n"
      "Path = sub\nSize = 0\nAttributes = D drwxr-xr-x\nEncrypted = -\n\n"
      "Path = link\nSize = 5\nAttributes = A lrwxrwxrwx\nEncrypted = -\n\n"
      "Path = sub/f\nSize = 1234\nAttributes = A -rw-r--r--\nEncrypted = +\n";
  std::vector<ArchiveEntry> entries = ParseTechnicalListing(listing);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].is_dir);
  EXPECT_TRUE(entries[1].is_link);
  EXPECT_EQ(entries[2].path, "sub/f");
  EXPECT_EQ(entries[2].size, 1234u);
  EXPECT_TRUE(entries[2].encrypted);
  EXPECT_TRUE(ParseTechnicalListing("Path = x\nSize = 1\n").empty());  // no entry section
}

TEST(ArchiveEngineTest, ExtractsWithFullPathsAndEndsAt100) {
  std::string src = SandboxPath("src");
  test::WriteTree(src, {{"Brondex.exe", "main"}, {"data/deep/a.txt", "A"}});
  fs::create_symlink("deep/a.txt", src + "/data/link");
  std::string archive = WriteArchive("a.7z", test::ArchiveOf(src));
  std::string out = SandboxPath("out");
  Notes notes;
  EXPECT_EQ(RunEngine({"engine", "x", archive, "-o" + out}, &notes), kEngineExitOk);
  EXPECT_TRUE(notes.errors.empty());
  ASSERT_FALSE(notes.progress.empty());
  EXPECT_EQ(notes.progress.back(), 100u);
  EXPECT_EQ(test::ReadFile(out + "/Brondex.exe"), "main");
  EXPECT_EQ(test::ReadFile(out + "/data/deep/a.txt"), "A");
  EXPECT_EQ(fs::read_symlink(out + "/data/link"), "deep/a.txt");  // a link inside is fine
  // Nothing of the staging folder is left.
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(out))
    names.push_back(e.path().filename());
  EXPECT_EQ(names.size(), 2u);
}

TEST(ArchiveEngineTest, RejectedCommandLineIs255) {
  Notes notes;
  EXPECT_EQ(RunEngine({"engine", "l", "a.7z", "-oout"}, &notes), kEngineExitCommandLine);
  EXPECT_EQ(RunEngine({"engine", "x", "a.7z"}, &notes), kEngineExitCommandLine);
  EXPECT_EQ(RunEngine({"engine", "x", "a.7z", "out"}, &notes), kEngineExitCommandLine);
  EXPECT_EQ(RunEngine({"engine", "x", "a.7z", "-oout", "pw"}, &notes), kEngineExitCommandLine);
  EXPECT_EQ(notes.errors, (std::vector<int>{255, 255, 255, 255}));
  EXPECT_EQ(ArchiveEngineMain(4, nullptr, &notes, nullptr, nullptr), kEngineExitCommandLine);
}

TEST(ArchiveEngineTest, DamagedArchivesReportTheirCodes) {
  std::string src = SandboxPath("src");
  std::string noise;
  std::uint32_t x = 7;
  for (int i = 0; i < 300000; ++i) {
    x = x * 1664525u + 1013904223u;
    noise += static_cast<char>('a' + (x >> 28));
  }
  test::WriteTree(src, {{"big.bin", noise}});
  std::string good = test::ArchiveOf(src);
  std::string corrupt = good;
  corrupt[good.size() / 2] = static_cast<char>(corrupt[good.size() / 2] ^ 0x55);

  struct Case {
    const char* name;
    std::string bytes;
    std::vector<int> errors;
  } cases[] = {
      {"corrupt.7z", corrupt, {261, 262}},
      {"garbage.7z", std::string(5000, 'g'), {262}},
      {"truncated.7z", good.substr(0, good.size() / 3), {262}},
  };
  for (const Case& c : cases) {
    std::string out = SandboxPath(std::string("out-") + c.name);
    Notes notes;
    EXPECT_NE(RunEngine({"engine", "x", WriteArchive(c.name, c.bytes), "-o" + out}, &notes), 0)
        << c.name;
    // 7-Zip may see a damaged stream as more than one item error; the
    // archive-level code always ends the list.
    ASSERT_FALSE(notes.errors.empty()) << c.name;
    EXPECT_EQ(notes.errors.back(), c.errors.back()) << c.name;
    EXPECT_EQ(notes.errors.front(), c.errors.front()) << c.name;
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << c.name << " left files behind";
  }
}

TEST(ArchiveEngineTest, PasswordArchiveWithoutPasswordIs260) {
  std::string src = SandboxPath("src");
  test::WriteTree(src, {{"secret.txt", "s"}});
  std::string archive = WriteArchive("e.7z", test::ArchiveOf(src, "-pSecret"));
  Notes notes;
  EXPECT_NE(RunEngine({"engine", "x", archive, "-o" + SandboxPath("out")}, &notes), 0);
  ASSERT_FALSE(notes.errors.empty());
  EXPECT_EQ(notes.errors.front(), 260);
  Notes right;
  EXPECT_EQ(RunEngine({"engine", "x", archive, "-o" + SandboxPath("out2"), "-pSecret"}, &right), 0);
  EXPECT_EQ(test::ReadFile(SandboxPath("out2/secret.txt")), "s");
}

TEST(ArchiveEngineTest, RefusesEntriesThatLeaveTheFolder) {
  std::string outside = SandboxPath("outside");
  fs::create_directories(outside);
  std::string escape = SandboxPath("escape");
  test::WriteTree(escape, {{"Brondex.exe", "x"}});
  fs::create_symlink("../../outside", escape + "/up");
  std::string absolute_link = SandboxPath("abslink");
  test::WriteTree(absolute_link, {{"Brondex.exe", "x"}});
  fs::create_symlink(outside, absolute_link + "/abs");
  std::string abs_path = SandboxPath("abspath");
  test::WriteTree(abs_path, {{"file", "x"}});

  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"relative link out", test::ArchiveOf(escape)},
      {"absolute link", test::ArchiveOf(absolute_link)},
      {"absolute entry path", test::ArchiveOf(abs_path + "/file", "-spf")},
  };
  for (const Case& c : cases) {
    std::string out = SandboxPath("install/app");
    Notes notes;
    EXPECT_NE(RunEngine({"engine", "x", WriteArchive("bad.7z", c.bytes), "-o" + out}, &notes), 0)
        << c.name;
    EXPECT_FALSE(notes.errors.empty()) << c.name;
    EXPECT_TRUE(fs::is_empty(outside)) << c.name;
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << c.name;
  }
}

}  // namespace
}  // namespace zel
