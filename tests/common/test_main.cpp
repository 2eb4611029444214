#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "tests/common/sandbox.h"

namespace zel::test {
namespace {

std::string g_root;

void Setenv(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

class SandboxListener : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    std::string base = std::filesystem::temp_directory_path().string() + "/zel-test-XXXXXX";
    if (::mkdtemp(base.data()) == nullptr)
      std::abort();
    g_root = base;
    std::filesystem::create_directories(g_root + "/home");
    std::filesystem::create_directories(g_root + "/machine");
    Setenv("HOME", g_root + "/home");
    Setenv("XDG_CONFIG_HOME", g_root + "/home/.config");
    Setenv("XDG_DATA_HOME", g_root + "/home/.local/share");
    Setenv("XDG_CACHE_HOME", g_root + "/home/.cache");
    Setenv("ZEL_MACHINE_PREFIX", g_root + "/machine");
    for (const char* name : {"XDG_DOCUMENTS_DIR", "XDG_DESKTOP_DIR", "XDG_DOWNLOAD_DIR",
                             "ZEL_EMULATE_WINVER", "ZEL_EMULATE_ARCH"}) {
      ::unsetenv(name);
    }
  }

  void OnTestEnd(const ::testing::TestInfo& info) override {
    const char* keep = std::getenv("ZEL_KEEP_SANDBOX");
    if (keep != nullptr && *keep != '\0') {
      std::fprintf(stderr, "sandbox of %s kept at %s\n", info.name(), g_root.c_str());
      return;
    }
    std::error_code ec;
    std::filesystem::remove_all(g_root, ec);
  }
};

}  // namespace

const std::string& SandboxRoot() {
  return g_root;
}

std::string SandboxPath(const std::string& relative) {
  return g_root + "/" + relative;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFile(const std::string& path, const std::string& contents) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
}

}  // namespace zel::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new zel::test::SandboxListener);
  return RUN_ALL_TESTS();
}
