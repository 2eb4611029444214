#include "platform/ini.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string_view>

#include "platform/text.h"

namespace zel::platform {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
    s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
    s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

int ReadIniInt(const std::wstring& path, const std::wstring& section, const std::wstring& key,
               int default_value) {
  std::ifstream in(WideToUtf8(path), std::ios::binary);
  if (!in)
    return default_value;
  const std::string want_section = WideToUtf8(section);
  const std::string want_key = WideToUtf8(key);

  bool in_section = false;
  std::string raw;
  bool first = true;
  while (std::getline(in, raw)) {
    std::string_view line(raw);
    if (first) {
      if (line.substr(0, 3) == "\xEF\xBB\xBF")
        line.remove_prefix(3);  // UTF-8 BOM
      first = false;
    }
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#')
      continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      if (close == std::string_view::npos) {
        in_section = false;
        continue;
      }
      in_section = EqualNoCase(Trim(line.substr(1, close - 1)), want_section);
      continue;
    }
    if (!in_section)
      continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos || !EqualNoCase(Trim(line.substr(0, eq)), want_key))
      continue;

    std::string value(Trim(line.substr(eq + 1)));
    const char* begin = value.c_str();
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(begin, &end, 10);
    if (end == begin)
      return default_value;
    if (parsed > INT32_MAX || parsed < INT32_MIN)
      return default_value;
    return static_cast<int>(parsed);
  }
  return default_value;
}

}  // namespace zel::platform
