#include "system/package_extract.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <utility>
#include <vector>

#include "platform/paths.h"
#include "system/file_util.h"
#include "tests/common/sandbox.h"
#include "tests/system/package_fixture.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::SandboxPath;
using Call = std::pair<int, int>;  // (kind, value)

class PackageExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Temporary archives go into the sandbox, where leftovers can be seen.
    fs::create_directories(SandboxPath("tmp"));
    ::setenv("TMPDIR", SandboxPath("tmp").c_str(), 1);
    test::WriteTree(SandboxPath("v2"), {{"Brondex.exe", "version 2"}, {"data/new.txt", "new"}});
    payload_ = test::ArchiveOf(SandboxPath("v2"));
  }
  void TearDown() override { ::unsetenv("TMPDIR"); }

  ProgressSink Recorder() {
    return [this](int kind, int value, int extra) {
      EXPECT_EQ(extra, 0);
      calls_.emplace_back(kind, value);
      return 1;
    };
  }

  HResult Install(const std::string& package, const std::string& folder) {
    std::wstring wide_package = ToWide(package);
    std::wstring wide_folder = ToWide(folder);
    return InstallFromPackage(wide_package.c_str(), Recorder(),
                              folder.empty() ? nullptr : wide_folder.c_str(), true, true);
  }

  // An earlier installation: its files and its uninstall.exe.
  void MakeEarlierInstallation(const std::string& folder) {
    test::WriteTree(folder, {{"Brondex.exe", "version 1"},
                             {"uninstall.exe", "old uninstaller"},
                             {"plugins/old.dll", "old"}});
  }
  void ExpectEarlierInstallation(const std::string& folder) {
    EXPECT_EQ(ReadFile(folder + "/Brondex.exe"), "version 1");
    EXPECT_EQ(ReadFile(folder + "/uninstall.exe"), "old uninstaller");
    EXPECT_EQ(ReadFile(folder + "/plugins/old.dll"), "old");
    EXPECT_FALSE(fs::exists(folder + "/data"));
    std::size_t entries = 0;
    for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
      ++entries;
    EXPECT_EQ(entries, 3u) << "only the earlier files are left in " << folder;
  }

  bool SinkEndsWith(const Call& last) const { return !calls_.empty() && calls_.back() == last; }
  bool SinkSaw(const Call& call) const {
    return std::find(calls_.begin(), calls_.end(), call) != calls_.end();
  }

  std::string payload_;
  std::vector<Call> calls_;
};

TEST_F(PackageExtractTest, InstallsFilesUninstallerAndHeaderCopy) {
  std::string package = test::MakePackage(SandboxPath("setup.exe"), payload_, "uninstaller");
  std::string folder = SandboxPath("Programs/App");
  ASSERT_EQ(Install(package, folder), kOk);

  EXPECT_EQ(ReadFile(folder + "/Brondex.exe"), "version 2");
  EXPECT_EQ(ReadFile(folder + "/data/new.txt"), "new");
  EXPECT_EQ(ReadFile(folder + "/uninstall.exe"), "uninstaller");
  std::string bin = ReadFile(folder + "/uninstall.exe.bin");
  std::string bytes = ReadFile(package);
  EXPECT_EQ(bin, bytes.substr(bytes.size() - kPackageHeaderSize));
  EXPECT_EQ(GetInstallPath(), ToWide(folder));

  ASSERT_GE(calls_.size(), 3u);
  EXPECT_EQ(calls_.front(), Call(0, 0));
  EXPECT_EQ(calls_.back(), Call(1, 0));
  for (std::size_t i = 1; i + 1 < calls_.size(); ++i) {
    EXPECT_EQ(calls_[i].first, 100);
    EXPECT_GE(calls_[i].second, 1);
    EXPECT_LE(calls_[i].second, 100);
  }
  EXPECT_EQ(calls_[calls_.size() - 2], Call(100, 100));
  EXPECT_TRUE(fs::is_empty(SandboxPath("tmp"))) << "temporary folders are gone";
}

TEST_F(PackageExtractTest, DefaultFolderFromTheHeader) {
  std::string package = test::MakePackage(SandboxPath("setup.exe"), payload_, "u");
  ASSERT_EQ(Install(package, ""), kOk);
  std::wstring expected = platform::MachinePrefix() + L"/Program Files/Telviska";
  EXPECT_EQ(GetInstallPath(), expected);
  EXPECT_EQ(ReadFile(ToNarrow(expected) + "/Brondex.exe"), "version 2");
}

TEST_F(PackageExtractTest, CorruptArchiveIs10008AndLeavesTheTempParent) {
  std::string corrupt = payload_;
  corrupt.resize(corrupt.size() - 10);
  corrupt[40] = static_cast<char>(corrupt[40] ^ 0x7f);
  std::string package = test::MakePackage(SandboxPath("setup.exe"), corrupt, "u");
  std::string folder = SandboxPath("App");
  EXPECT_EQ(Install(package, folder), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallUnzipFileError);
  EXPECT_EQ(GetInstallErrorName(), "UnzipFileError");
  EXPECT_TRUE(SinkSaw({101, 263}));
  EXPECT_TRUE(SinkEndsWith({2, 10001}));
  EXPECT_TRUE(fs::is_empty(folder));
  EXPECT_FALSE(fs::exists(folder + "/uninstall.exe"));
  // The unique folder stays, empty; its zelmora_7z folder went.
  std::vector<fs::path> left;
  for (const auto& e : fs::directory_iterator(SandboxPath("tmp")))
    left.push_back(e.path());
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(fs::is_empty(left[0]));
}

TEST_F(PackageExtractTest, FailedExtractionBringsTheEarlierInstallationBack) {
  std::string folder = SandboxPath("App");
  MakeEarlierInstallation(folder);
  std::string package = test::MakePackage(SandboxPath("setup.exe"), "not an archive", "u");
  EXPECT_EQ(Install(package, folder), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallUnzipFileError);
  ExpectEarlierInstallation(folder);
}

TEST_F(PackageExtractTest, SuccessReplacesTheEarlierInstallation) {
  std::string folder = SandboxPath("App");
  MakeEarlierInstallation(folder);
  std::string package = test::MakePackage(SandboxPath("setup.exe"), payload_, "new uninstaller");
  ASSERT_EQ(Install(package, folder), kOk);
  EXPECT_EQ(ReadFile(folder + "/Brondex.exe"), "version 2");
  EXPECT_EQ(ReadFile(folder + "/uninstall.exe"), "new uninstaller");
  EXPECT_FALSE(fs::exists(folder + "/plugins"));
  std::size_t entries = 0;
  for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
    ++entries;
  EXPECT_EQ(entries, 4u);  // Brondex.exe, data, uninstall.exe, uninstall.exe.bin
}

TEST_F(PackageExtractTest, ClearingKeepsWhatIsNotTheProducts) {
  std::string outside = SandboxPath("precious");
  test::WriteTree(outside, {{"keep.txt", "mine"}});

  // A folder of the user's with no earlier installation: nothing is removed.
  std::string user_folder = SandboxPath("MyStuff");
  test::WriteTree(user_folder, {{"notes.txt", "mine"}});
  std::string package = test::MakePackage(SandboxPath("setup.exe"), payload_, "u");
  ASSERT_EQ(Install(package, user_folder), kOk);
  EXPECT_EQ(ReadFile(user_folder + "/notes.txt"), "mine");
  EXPECT_EQ(ReadFile(user_folder + "/Brondex.exe"), "version 2");

  // The product's own folder with a link out of it: the link goes, never
  // what it points at.
  std::string product_folder = SandboxPath("Programs/Telviska");
  test::WriteTree(product_folder, {{"stale.txt", "old"}});
  fs::create_symlink(outside, product_folder + "/link");
  ASSERT_EQ(Install(package, product_folder), kOk);
  EXPECT_FALSE(fs::exists(product_folder + "/stale.txt"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(product_folder + "/link")));
  EXPECT_EQ(ReadFile(outside + "/keep.txt"), "mine");
}

TEST_F(PackageExtractTest, PackageAndFolderFailures) {
  // A package that does not exist.
  EXPECT_EQ(Install(SandboxPath("none.exe"), SandboxPath("App")), kFail);
  EXPECT_EQ(GetInstallErrorCode(), -1);
  EXPECT_EQ(GetInstallErrorName(), "-1");
  EXPECT_EQ(calls_, (std::vector<Call>{{0, 0}, {2, 10001}}));

  // A folder that cannot be created: its parent is a file.
  calls_.clear();
  test::WriteFile(SandboxPath("file"), "x");
  std::string package = test::MakePackage(SandboxPath("setup.exe"), payload_, "u");
  EXPECT_EQ(Install(package, SandboxPath("file/App")), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallDirWriteError);
  EXPECT_EQ(calls_, (std::vector<Call>{{0, 0}, {2, 10002}}));
  EXPECT_EQ(GetInstallPath(), ToWide(SandboxPath("file/App")));

  // A success afterwards leaves the last failure's code.
  ASSERT_EQ(Install(package, SandboxPath("App")), kOk);
  EXPECT_EQ(GetInstallErrorCode(), kInstallDirWriteError);

  // Null arguments.
  EXPECT_EQ(InstallFromPackage(nullptr, Recorder(), nullptr, true, true), kPointer);
  EXPECT_EQ(GetInstallErrorCode(), kInstallPointNull);
  EXPECT_EQ(InstallFromPackage(L"x", ProgressSink(), nullptr, true, true), kPointer);
}

TEST_F(PackageExtractTest, BoundariesOfHeaderAndPayload) {
  std::string folder = SandboxPath("App");
  std::string path = SandboxPath("setup.exe");

  // Payload ending exactly at the end of the file: accepted.
  std::int32_t header_at = test::MakePayloadLastPackage(path, payload_, "u");
  ASSERT_EQ(Install(path, folder), kOk);
  // One byte more: 10007.
  test::PatchInt32(path, header_at + 20, static_cast<std::int32_t>(payload_.size() + 1));
  calls_.clear();
  EXPECT_EQ(Install(path, folder), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallReadFileError);
  EXPECT_TRUE(SinkEndsWith({2, 10001}));

  // Header exactly in the last 4096 bytes is zel-pack's layout; one byte
  // further gives 10006.
  test::MakePackage(path, payload_, "u");
  const auto length = static_cast<std::int32_t>(ReadFile(path).size());
  test::PatchInt32(path, 32, length - 4095);
  calls_.clear();
  EXPECT_EQ(Install(path, folder), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallOffsetError);
  EXPECT_EQ(calls_, (std::vector<Call>{{0, 0}, {2, 10001}}));
}

// Each bad package leaves a clear code, the earlier installation as it was,
// and nothing outside the install folder.
TEST_F(PackageExtractTest, BadPackagesKeepTheEarlierInstallation) {
  const std::string good = test::MakePackage(SandboxPath("good.exe"), payload_, "u");
  const std::string good_bytes = ReadFile(good);
  const long header_at = static_cast<long>(good_bytes.size() - kPackageHeaderSize);
  auto unterminated = [&](const std::string& path) {
    test::PatchBytes(path, header_at + 105, std::string(64, 'n'));
  };
  auto patch = [&](long at, std::int32_t value) {
    return [=](const std::string& path) { test::PatchInt32(path, at, value); };
  };
  struct Case {
    const char* name;
    std::function<void(const std::string&)> damage;
    std::int32_t code;
  } cases[] = {
      {"truncated", [&](const std::string& p) { test::WriteFile(p, good_bytes.substr(0, 2000)); },
       kInstallOffsetError},
      {"tiny", [&](const std::string& p) { test::WriteFile(p, "MZ"); }, kInstallOffsetError},
      {"negative header offset", patch(32, -4096), kInstallOffsetError},
      {"huge header offset", patch(32, INT32_MAX), kInstallOffsetError},
      {"negative payload offset", patch(header_at + 16, -100), kInstallReadFileError},
      {"negative payload size", patch(header_at + 20, -1), kInstallReadFileError},
      {"overflowing payload range", patch(header_at + 16, INT32_MAX - 10), kInstallReadFileError},
      {"overflowing uninstaller range", patch(header_at + 12, INT32_MAX), kInstallReadFileError},
      {"unterminated text", unterminated, kInstallSetupFileError},
  };
  const std::string folder = SandboxPath("Programs/Telviska");
  for (const Case& c : cases) {
    fs::remove_all(folder);
    MakeEarlierInstallation(folder);
    std::string path = SandboxPath("bad.exe");
    test::WriteFile(path, good_bytes);
    c.damage(path);
    calls_.clear();
    EXPECT_EQ(Install(path, folder), kFail) << c.name;
    EXPECT_EQ(GetInstallErrorCode(), c.code) << c.name;
    EXPECT_TRUE(SinkEndsWith({2, 10001})) << c.name;
    ExpectEarlierInstallation(folder);
  }
}

TEST_F(PackageExtractTest, HeaderProductNameCannotLeaveTheProgramFolder) {
  PackageHeader header = test::TestHeader();
  SetHeaderText(header.product_name, "../../escape");
  std::string package = test::MakePackage(SandboxPath("setup.exe"), payload_, "u", header);
  EXPECT_EQ(Install(package, ""), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallSetupFileError);
  EXPECT_FALSE(fs::exists(SandboxPath("escape")));
  EXPECT_FALSE(fs::exists(SandboxPath("machine/escape")));
}

TEST_F(PackageExtractTest, UnsafeArchiveIsRefusedAndWritesNothingOutside) {
  std::string outside = SandboxPath("outside");
  fs::create_directories(outside);
  std::string src = SandboxPath("evil");
  test::WriteTree(src, {{"Brondex.exe", "evil"}});
  fs::create_symlink("../../../outside", src + "/escape");
  std::string package =
      test::MakePackage(SandboxPath("setup.exe"), test::ArchiveOf(src), "evil uninstaller");
  std::string folder = SandboxPath("Programs/Telviska");
  MakeEarlierInstallation(folder);
  EXPECT_EQ(Install(package, folder), kFail);
  EXPECT_EQ(GetInstallErrorCode(), kInstallUnzipFileError);
  EXPECT_TRUE(SinkSaw({101, 263}));
  EXPECT_TRUE(fs::is_empty(outside));
  ExpectEarlierInstallation(folder);
}

TEST_F(PackageExtractTest, UniqueTempDirWaitsForANewTick) {
  std::string first = MakeUniqueTempDir();
  std::string second = MakeUniqueTempDir();
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_EQ(first.rfind(SandboxPath("tmp/"), 0), 0u);
  EXPECT_EQ(first.back(), '/');
  EXPECT_TRUE(ExtractorIsDirectory(first));
  EXPECT_TRUE(ExtractorIsDirectory(second.substr(0, second.size() - 1)));
}

TEST_F(PackageExtractTest, ExtractorFolderHelpers) {
  EXPECT_FALSE(ExtractorIsDirectory(""));
  EXPECT_FALSE(ExtractorIsDirectory("/"));
  std::string base = SandboxPath("helpers/");
  EXPECT_TRUE(ExtractorMakeFolders(base + "a/b/c/"));
  EXPECT_TRUE(ExtractorIsDirectory(base + "a/b/c"));
  EXPECT_FALSE(ExtractorMakeFolders("/" + std::string(300, 'x') + "/"));

  test::WriteTree(base + "a", {{"f1", "1"}, {"b/f2", "2"}});
  fs::create_directories(SandboxPath("keep"));
  test::WriteFile(SandboxPath("keep/k"), "k");
  fs::create_symlink(SandboxPath("keep"), base + "a/b/link");
  EXPECT_TRUE(ExtractorRemoveFolder(base + "a/", RemoveMode::kFilesOnly));
  EXPECT_TRUE(ExtractorIsDirectory(base + "a/b/c"));
  EXPECT_FALSE(fs::exists(base + "a/f1"));
  EXPECT_EQ(ReadFile(SandboxPath("keep/k")), "k");  // the link went, not its target
  EXPECT_TRUE(ExtractorRemoveFolder(base + "a/", RemoveMode::kFoldersOnly));
  EXPECT_FALSE(fs::exists(base + "a"));
  EXPECT_FALSE(ExtractorRemoveFolder(base + "missing/", RemoveMode::kAll));
}

TEST_F(PackageExtractTest, ErrorNames) {
  struct Case {
    std::int32_t code;
    const char* name;
  } cases[] = {{0, "NoError"},
               {10000, "PointNull"},
               {10001, "SetupFileError"},
               {10002, "DirWriteError"},
               {10003, "MallocBrror"},
               {10004, "InstallFileError"},
               {10005, "OpenFileError"},
               {10006, "OffsetError"},
               {10007, "ReadFileError"},
               {10008, "UnzipFileError"},
               {2, "2"},
               {-1, "-1"}};
  for (const Case& c : cases)
    EXPECT_EQ(InstallErrorName(c.code), c.name);
}

TEST_F(PackageExtractTest, OperatorForwardsToTheSink) {
  C7ZOperator op;
  op.OnProgress(5, 0);  // no sink yet: dropped
  op.SetCallback(Recorder());
  op.OnProgress(42, 0);
  op.OnError(261);
  EXPECT_EQ(op.last_code(), 261);
  EXPECT_EQ(calls_, (std::vector<Call>{{100, 42}, {101, 261}}));
  C7ZExtractor dropped(nullptr);
  std::string why;
  EXPECT_FALSE(dropped.Extract(nullptr, 0, "x", nullptr, &why, true));
}

// An archive that expands past the free space of a small volume: refused
// before anything is unpacked. Runs in a child with a mount namespace of its
// own, so the small volume is seen by no one else.
TEST_F(PackageExtractTest, ArchiveBombIsRefused) {
  if (::geteuid() != 0)
    GTEST_SKIP() << "needs root for a private tmpfs mount";
  std::string src = SandboxPath("bomb");
  test::WriteTree(src, {{"Brondex.exe", std::string(64 << 20, '\0')}});
  std::string package = test::MakePackage(SandboxPath("setup.exe"), test::ArchiveOf(src), "u");
  ASSERT_LT(ReadFile(package).size(), 1u << 20) << "the bomb is small";
  std::string volume = SandboxPath("small");
  fs::create_directories(volume);

  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("zel-test", volume.c_str(), "tmpfs", 0, "size=8m") != 0) {
      ::_exit(77);
    }
    std::string folder = volume + "/Telviska";
    MakeEarlierInstallation(folder);
    HResult hr = Install(package, folder);
    bool earlier_kept = ReadFile(folder + "/Brondex.exe") == "version 1" &&
                        ReadFile(folder + "/uninstall.exe") == "old uninstaller";
    ::_exit(hr == kFail && GetInstallErrorCode() == kInstallUnzipFileError && earlier_kept ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace zel
