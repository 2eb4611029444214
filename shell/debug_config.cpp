#include "shell/debug_config.h"

#include <atomic>

#include "platform/ini.h"
#include "system/file_util.h"

namespace zel {
namespace {

std::atomic<bool> g_test_mode{false};

}  // namespace

std::wstring DebugConfigPath() {
  std::wstring path;
  DocumentsPath(&path, L"", kDebugConfigFileName, false);
  return path;
}

int ReadDebugConfigInt(const wchar_t* key) {
  return platform::ReadIniInt(DebugConfigPath(), L"root", key, 0);
}

bool InfoViewConfigured() {
  return ReadDebugConfigInt(L"show_info_view") == 1;
}

bool IsTestMode() {
  if (g_test_mode.load())
    return true;
  if (ReadDebugConfigInt(L"setup_test_mode") == 1)
    g_test_mode.store(true);
  return g_test_mode.load();
}

void ResetTestModeForTesting() {
  g_test_mode.store(false);
}

}  // namespace zel
