#include "shell/app_values.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/paths.h"
#include "platform/text.h"
#include "system/file_util.h"

namespace zel {
namespace {

// Fixed storage so the crash handler can read the id without allocating.
constexpr std::size_t kCrashIdCapacity = 64;
char g_crash_id[kCrashIdCapacity] = {};
std::atomic<bool> g_crash_id_set{false};
std::mutex g_crash_id_lock;

// A piece reads in full as a decimal floating-point number.
bool IsMarker(const std::string& piece) {
  std::istringstream in(piece);
  double value;
  if (!(in >> value))
    return false;
  char rest;
  return !(in >> std::noskipws >> rest);
}

}  // namespace

std::string CrashId() {
  return g_crash_id_set.load() ? std::string(g_crash_id) : std::string();
}

const char* CrashIdForSignalHandler() {
  return g_crash_id_set.load() ? g_crash_id : "";
}

void SetCrashIdOnce(const std::string& id) {
  std::lock_guard<std::mutex> hold(g_crash_id_lock);
  if (g_crash_id_set.load() || id.empty())
    return;
  std::size_t n = std::min(id.size(), kCrashIdCapacity - 1);
  std::memcpy(g_crash_id, id.data(), n);
  g_crash_id[n] = '\0';
  g_crash_id_set.store(true);
}

void ParseModuleNameTags(std::string* option, std::string* source) {
  ParseModuleNameTagsOf(platform::ModuleFileName(), option, source);
}

void ParseModuleNameTagsOf(const std::wstring& module_path, std::string* option,
                           std::string* source) {
  std::wstring name = module_path;
  std::size_t slash = name.find_last_of(L"/\\");
  if (slash != std::wstring::npos)
    name = name.substr(slash + 1);
  std::size_t dot = name.find_last_of(L'.');
  if (dot != std::wstring::npos)
    name = name.substr(0, dot);
  const std::string lowered = ToNarrow(platform::ToLowerWide(name));

  std::vector<std::string> pieces;
  std::istringstream in(lowered);
  for (std::string piece; std::getline(in, piece, '_');) {
    if (!piece.empty())
      pieces.push_back(piece);
  }
  if (pieces.size() < 2)
    return;

  bool marker_seen = false;
  std::string before, after;
  for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
    if (IsMarker(pieces[i])) {
      marker_seen = true;
      continue;
    }
    std::string& into = marker_seen ? after : before;
    if (!into.empty())
      into += '_';
    into += pieces[i];
  }
  if (!marker_seen)
    return;
  if (option != nullptr)
    *option = before;
  if (source != nullptr)
    *source = after;
}

}  // namespace zel
