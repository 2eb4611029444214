#include "system/file_util.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/paths.h"
#include "platform/system_info.h"
#include "tests/common/sandbox.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::SandboxPath;

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

TEST(JFileTest, ModeText) {
  struct Case {
    unsigned flags;
    const char* mode;
  } cases[] = {{0x0201, "rb"}, {0x0202, "wb"}, {0x0103, "at"},
               {0x0101, "rt"}, {0x0301, "rt"},  // text wins over binary
               {0x0002, "w"}};
  for (const Case& c : cases)
    EXPECT_EQ(JFile::ModeText(c.flags), c.mode) << c.flags;
}

TEST(JFileTest, ReadingMissingFileFailsWithMinusOne) {
  JFile f;
  EXPECT_FALSE(f.Open(ToWide(SandboxPath("nothing/here.bin")), 0x0201));
  EXPECT_EQ(f.LastError(), -1);
  EXPECT_FALSE(Exists(SandboxPath("nothing")));
}

TEST(JFileTest, BinaryWriteCreatesFolders) {
  const std::string path = SandboxPath("a/b/c/file.bin");
  JFile f;
  ASSERT_TRUE(f.Open(ToWide(path), 0x0202));
  EXPECT_EQ(f.LastError(), 0);
  EXPECT_EQ(f.Write("hello", 5), 5);
  f.Close();
  EXPECT_EQ(test::ReadFile(path), "hello");
}

TEST(JFileTest, AppendTextCreatesThenAppends) {
  const std::string path = SandboxPath("log/x.txt");
  for (const char* piece : {"one\n", "two\n"}) {
    JFile f;
    ASSERT_TRUE(f.Open(ToWide(path), 0x0103));
    f.Write(piece, 4);
    f.Close();
  }
  EXPECT_EQ(test::ReadFile(path), "one\ntwo\n");
}

TEST(JFileTest, LengthKeepsPositionAndClosedStreamGivesMinusOne) {
  const std::string path = SandboxPath("len.bin");
  test::WriteFile(path, "0123456789");
  JFile f;
  ASSERT_TRUE(f.Open(ToWide(path), 0x0201));
  char buf[3];
  EXPECT_EQ(f.Read(buf, 3), 3);
  EXPECT_EQ(f.Length(), 10);
  EXPECT_EQ(f.Tell(), 3);
  EXPECT_EQ(f.Read(nullptr, 3), -1);
  f.Close();
  EXPECT_EQ(f.Length(), -1);
  EXPECT_EQ(f.Tell(), -1);
  EXPECT_EQ(f.Read(buf, 1), -1);
  EXPECT_EQ(f.Write(buf, 1), -1);
  EXPECT_EQ(f.SeekEnd(), -1);
}

TEST(JFileTest, WriteAtPlacesBlocksInAnyOrderAndKeepsThePosition) {
  const std::string path = SandboxPath("blocks.bin");
  JFile f;
  ASSERT_TRUE(f.Open(ToWide(path), 0x0202));
  EXPECT_EQ(f.Write("ab", 2), 2);  // buffered in the stream, flushed first
  EXPECT_EQ(f.WriteAt(6, "ghij", 4), 4);
  EXPECT_EQ(f.WriteAt(2, "cdef", 4), 4);
  EXPECT_EQ(f.Tell(), 2);
  f.Close();
  EXPECT_EQ(test::ReadFile(path), "abcdefghij");
  EXPECT_EQ(f.WriteAt(0, "x", 1), -1);
}

TEST(FoldersTest, MakeDirectoriesAndItsLimit) {
  EXPECT_TRUE(MakeDirectories(ToWide(SandboxPath("x/y/z"))));
  EXPECT_TRUE(fs::is_directory(SandboxPath("x/y/z")));
  EXPECT_TRUE(MakeDirectories(ToWide(SandboxPath("x/y/z/"))));  // existing: still fine

  std::string base = SandboxPath("long/");
  std::string too_long = base + std::string(261 - base.size(), 'd');
  ASSERT_EQ(too_long.size(), 261u);
  EXPECT_FALSE(MakeDirectories(ToWide(too_long)));
  EXPECT_FALSE(Exists(SandboxPath("long")));
}

TEST(FoldersTest, MakeDirectoriesNeverCreatesThroughALink) {
  fs::create_directories(SandboxPath("outside"));
  fs::create_directories(SandboxPath("install"));
  fs::create_directory_symlink(SandboxPath("outside"), SandboxPath("install/data"));
  MakeDirectories(ToWide(SandboxPath("install/data/sub/deeper")));
  EXPECT_FALSE(Exists(SandboxPath("outside/sub")));
  JFile f;
  EXPECT_FALSE(f.Open(ToWide(SandboxPath("install/data/sub/file.bin")), 0x0202));
  EXPECT_FALSE(Exists(SandboxPath("outside/sub")));
}

TEST(FoldersTest, DeleteTreeRemovesLinksNotTheirTargets) {
  fs::create_directories(SandboxPath("outside/keep"));
  test::WriteFile(SandboxPath("outside/keep/precious.txt"), "mine");
  test::WriteFile(SandboxPath("outside/lone.txt"), "mine too");
  test::WriteFile(SandboxPath("tree/a/b/file.txt"), "x");
  test::WriteFile(SandboxPath("tree/top.txt"), "x");
  fs::create_directory_symlink(SandboxPath("outside/keep"), SandboxPath("tree/a/dirlink"));
  fs::create_symlink(SandboxPath("outside/lone.txt"), SandboxPath("tree/filelink"));

  EXPECT_TRUE(DeleteTree(ToWide(SandboxPath("tree"))));
  EXPECT_FALSE(Exists(SandboxPath("tree")));
  EXPECT_EQ(test::ReadFile(SandboxPath("outside/keep/precious.txt")), "mine");
  EXPECT_EQ(test::ReadFile(SandboxPath("outside/lone.txt")), "mine too");
}

TEST(FoldersTest, DeleteTreeOfALinkOrMissingFolderFails) {
  fs::create_directories(SandboxPath("outside"));
  test::WriteFile(SandboxPath("outside/f.txt"), "x");
  fs::create_directory_symlink(SandboxPath("outside"), SandboxPath("link"));
  EXPECT_FALSE(DeleteTree(ToWide(SandboxPath("link"))));
  EXPECT_TRUE(Exists(SandboxPath("outside/f.txt")));
  EXPECT_FALSE(DeleteTree(ToWide(SandboxPath("missing"))));
}

TEST(FoldersTest, DeleteTreeLeavesWhatItCannotDelete) {
  if (::geteuid() == 0)
    GTEST_SKIP() << "root deletes from read-only folders";
  test::WriteFile(SandboxPath("tree/locked/f.txt"), "x");
  test::WriteFile(SandboxPath("tree/other.txt"), "x");
  ::chmod(SandboxPath("tree/locked").c_str(), 0555);
  EXPECT_TRUE(DeleteTree(ToWide(SandboxPath("tree"))));
  EXPECT_TRUE(Exists(SandboxPath("tree/locked/f.txt")));
  EXPECT_FALSE(Exists(SandboxPath("tree/other.txt")));
  ::chmod(SandboxPath("tree/locked").c_str(), 0755);
}

TEST(LocationsTest, WellKnownFolders) {
  std::wstring out;
  DocumentsPath(&out, L"Telviska/Log", L"install.log", true);
  EXPECT_EQ(ToNarrow(out), SandboxPath("home/Documents/Telviska/Log/install.log"));
  EXPECT_TRUE(fs::is_directory(SandboxPath("home/Documents/Telviska/Log")));

  DownloadsPath(&out, L"Telviska", L"setup.exe", true);
  EXPECT_EQ(ToNarrow(out), SandboxPath("home/Downloads/Telviska/setup.exe"));
  EXPECT_TRUE(fs::is_directory(SandboxPath("home/Downloads/Telviska")));

  ASSERT_TRUE(AppDataPath(&out));
  EXPECT_EQ(ToNarrow(out), SandboxPath("home/.config"));
}

TEST(LocationsTest, XdgDocumentsDirIsHonoured) {
  test::WriteFile(SandboxPath("home/.config/user-dirs.dirs"),
                  "# comment\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
  std::wstring out;
  DocumentsPath(&out, L"", nullptr, false);
  EXPECT_EQ(ToNarrow(out), SandboxPath("home/Dokumente"));
  DownloadsPath(&out, L"", nullptr, false);
  EXPECT_EQ(ToNarrow(out), SandboxPath("home/Downloads"));
}

TEST(LocationsTest, DefaultInstallFolderFollowsBitness) {
  struct Case {
    std::uint16_t arch;
    bool product64;
    const char* folder;
  } cases[] = {{platform::kArchAmd64, true, "machine/Program Files/Telviska"},
               {platform::kArchIntel, true, "machine/Program Files (x86)/Telviska"},
               {platform::kArchAmd64, false, "machine/Program Files (x86)/Telviska"}};
  for (const Case& c : cases) {
    platform::EmulatedSystem system;
    system.architecture = c.arch;
    platform::SetEmulatedSystem(system);
    std::wstring out;
    EXPECT_TRUE(DefaultInstallFolder(&out, L"Telviska", false, c.product64));
    EXPECT_EQ(ToNarrow(out), SandboxPath(c.folder));
  }
  platform::ResetEmulatedSystem();
  std::wstring out;
  EXPECT_TRUE(DefaultInstallFolder(&out, L"Telviska", true, true));
  EXPECT_TRUE(fs::is_directory(ToNarrow(out)));
}

TEST(LocationsTest, FreeSpace) {
  EXPECT_GT(FreeSpaceMiB(ToWide(SandboxPath("not/yet/made"))), 0);
  EXPECT_EQ(FreeSpaceMiB(L""), 0);
  EXPECT_EQ(FreeSpaceMiB(L"relative-nonexistent"), 0);
}

TEST(StringsTest, ReplaceAll) {
  EXPECT_EQ(ReplaceAll(std::wstring(L"official build, official"), L"official", L"beta"),
            L"beta build, beta");
  EXPECT_EQ(ReplaceAll(std::string("aXa"), "a", "aa"), "aaXaa");  // not searched again
  EXPECT_EQ(ReplaceAll(std::string("abc"), "", "z"), "abc");
}

TEST(StringsTest, PathJoin) {
  EXPECT_EQ(PathJoin(L"/a", L"b"), L"/a/b");
  EXPECT_EQ(PathJoin(L"/a/", L"/b"), L"/a/b");
  EXPECT_EQ(PathJoin(L"/a", L""), L"/a");
  EXPECT_EQ(PathJoin(std::wstring(261, L'a'), L"b"), L"");
  EXPECT_EQ(PathJoin(std::wstring(259, L'a'), L"b"), L"");  // 261 with the separator
}

TEST(StringsTest, NarrowWideRoundTrip) {
  const std::string text = "Telviska \xE5\xAE\x89\xE8\xA3\x85";
  EXPECT_EQ(ToNarrow(ToWide(text)), text);
}

TEST(ResourcesTest, LoadResourceText) {
  std::string text;
  ASSERT_TRUE(LoadResourceText(501, "XML", &text));
  EXPECT_EQ(text, "<download size=\"1\"/>\n");
  ASSERT_TRUE(LoadResourceText(503, "txt", &text));
  EXPECT_EQ(text, "official");
  EXPECT_FALSE(LoadResourceText(502, "XML", &text));
  EXPECT_FALSE(LoadResourceText(501, "TXT", &text));
}

}  // namespace
}  // namespace zel
