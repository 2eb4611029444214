#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/common/sandbox.h"

namespace zel::platform {
namespace {

namespace fs = std::filesystem;

TEST(FileSystemTest, KindsOfPaths) {
  const std::string file = test::SandboxPath("file.txt");
  const std::string folder = test::SandboxPath("folder");
  const std::string to_file = test::SandboxPath("to-file");
  const std::string dangling = test::SandboxPath("dangling");
  std::ofstream(file) << "x";
  fs::create_directory(folder);
  fs::create_symlink(file, to_file);
  fs::create_symlink(test::SandboxPath("gone"), dangling);
  struct Case {
    std::string path;
    bool exists, file, directory;
  } cases[] = {{file, true, true, false},
               {folder, true, false, true},
               {to_file, true, true, false},
               {dangling, true, false, false},
               {test::SandboxPath("none"), false, false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(PathExists(c.path), c.exists) << c.path;
    EXPECT_EQ(IsRegularFile(c.path), c.file) << c.path;
    EXPECT_EQ(IsDirectory(c.path), c.directory) << c.path;
  }
}

TEST(FileSystemTest, TreesAreMadeAndRemovedWithoutFollowingLinks) {
  const std::string outside = test::SandboxPath("outside");
  fs::create_directory(outside);
  std::ofstream(outside + "/keep.txt") << "keep";
  const std::string root = test::SandboxPath("tree");
  MakeDirectoriesNoFollow(root + "/a/b");
  ASSERT_TRUE(IsDirectory(root + "/a/b"));
  fs::create_directory_symlink(outside, root + "/a/link");
  MakeDirectoriesNoFollow(root + "/a/link/made");
  EXPECT_FALSE(PathExists(outside + "/made"));
  EXPECT_TRUE(RemoveTreeNoFollow(root + "/"));
  EXPECT_FALSE(PathExists(root));
  EXPECT_TRUE(PathExists(outside + "/keep.txt"));
  EXPECT_FALSE(RemoveTreeNoFollow(root));
}

}  // namespace
}  // namespace zel::platform
