#include "tools/mirror-server/mirror_script.h"
#include "platform/text.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <vector>

namespace zel::mirror {
namespace {

bool ParseNumber(const std::string& text, std::uint64_t* out) {
  if (text.empty())
    return false;
  std::uint64_t scale = 1;
  std::string digits = text;
  char unit = digits.back();
  if (unit == 'K' || unit == 'k')
    scale = 1024;
  if (unit == 'M' || unit == 'm')
    scale = 1024 * 1024;
  if (scale != 1)
    digits.pop_back();
  std::uint64_t value = 0;
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || ptr != digits.data() + digits.size())
    return false;
  *out = value * scale;
  return true;
}

std::string PercentDecode(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int value = 0;
      auto [ptr, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16);
      if (ec == std::errc() && ptr == text.data() + i + 3) {
        out.push_back(static_cast<char>(value));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

// Mirrors serve tests on this machine only: 127.0.0.0/8, as four decimal
// parts of one to three digits.
bool IsLoopbackV4(const std::string& text) {
  int parts = 0;
  std::size_t begin = 0;
  for (;;) {
    std::size_t end = std::min(text.find('.', begin), text.size());
    unsigned value = 0;
    auto [ptr, ec] = std::from_chars(text.data() + begin, text.data() + end, value);
    if (end == begin || end - begin > 3 || ec != std::errc() || ptr != text.data() + end ||
        value > 255 || (parts == 0 && value != 127)) {
      return false;
    }
    ++parts;
    if (end == text.size())
      return parts == 4;
    begin = end + 1;
  }
}

// Options whose value is a plain count of bytes (or bytes per second).
struct ByteOption {
  const char* key;
  std::uint64_t MirrorScript::*field;
};
constexpr ByteOption kByteOptions[] = {
    {"rate", &MirrorScript::rate},
    {"mirror_rate", &MirrorScript::mirror_rate},
    {"stall_after", &MirrorScript::stall_after},
    {"stall_total", &MirrorScript::stall_total},
    {"reset_after", &MirrorScript::reset_after},
    {"overrun", &MirrorScript::overrun},
    {"faults_for", &MirrorScript::faults_for},
};

const ByteOption* FindByteOption(const std::string& key) {
  for (const ByteOption& option : kByteOptions) {
    if (key == option.key)
      return &option;
  }
  return nullptr;
}

}  // namespace

std::optional<MirrorScript> ParseMirrorScript(const std::string& script, std::string* error) {
  MirrorScript out;
  for (const std::string& entry : platform::SplitNonEmpty(script, ',')) {
    std::size_t eq = entry.find('=');
    std::string key = entry.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : entry.substr(eq + 1);
    std::uint64_t n = 0;
    bool numeric = ParseNumber(value, &n);
    auto need_number = [&]() {
      if (!numeric)
        *error = "bad number in '" + entry + "'";
      return numeric;
    };
    if (const ByteOption* option = FindByteOption(key)) {
      if (!need_number())
        return std::nullopt;
      out.*option->field = n;
    } else if (key == "port") {
      if (!need_number() || n > 65535)
        return std::nullopt;
      out.port = static_cast<unsigned short>(n);
    } else if (key == "host") {
      if (!IsLoopbackV4(value)) {
        *error = "host wants a loopback address 127.A.B.C, not '" + value + "'";
        return std::nullopt;
      }
      out.host = value;
    } else if (key == "delay_ms") {
      if (!need_number())
        return std::nullopt;
      out.delay_ms = static_cast<unsigned>(n);
    } else if (key == "stall_ms") {
      if (!need_number())
        return std::nullopt;
      out.stall_ms = static_cast<unsigned>(n);
    } else if (key == "corrupt") {
      std::size_t dash = value.find('-');
      std::uint64_t a = 0, b = 0;
      if (dash == std::string::npos || !ParseNumber(value.substr(0, dash), &a) ||
          !ParseNumber(value.substr(dash + 1), &b) || a > b) {
        *error = "corrupt wants A-B with A <= B";
        return std::nullopt;
      }
      out.corrupt_first = a;
      out.corrupt_last = b;
    } else if (key == "ignore_range") {
      out.ignore_range = true;
    } else if (key == "head_length") {
      if (!need_number())
        return std::nullopt;
      out.head_length = n;
    } else if (key == "redirect") {
      out.redirect = PercentDecode(value);
    } else if (key == "status") {
      if (!need_number() || n < 100 || n > 599)
        return std::nullopt;
      out.status = static_cast<int>(n);
    } else if (key == "get_status") {
      if (!need_number() || n < 100 || n > 599)
        return std::nullopt;
      out.get_status = static_cast<int>(n);
    } else if (key == "flag") {
      out.flag = PercentDecode(value);
    } else {
      *error = "unknown mirror option '" + key + "'";
      return std::nullopt;
    }
  }
  return out;
}

RangeParse ParseRange(const std::string& header, std::uint64_t size, ByteRange* out) {
  const std::string prefix = "bytes=";
  if (header.compare(0, prefix.size(), prefix) != 0)
    return RangeParse::kNone;
  std::string script = header.substr(prefix.size());
  if (script.find(',') != std::string::npos)
    return RangeParse::kNone;  // one range only
  std::size_t dash = script.find('-');
  if (dash == std::string::npos)
    return RangeParse::kNone;
  std::string a = script.substr(0, dash);
  std::string b = script.substr(dash + 1);
  std::uint64_t first = 0, last = 0;
  if (a.empty()) {
    if (!ParseNumber(b, &last) || last == 0)
      return RangeParse::kUnsatisfiable;
    first = last >= size ? 0 : size - last;
    last = size - 1;
  } else {
    if (!ParseNumber(a, &first))
      return RangeParse::kNone;
    if (b.empty()) {
      last = size - 1;
    } else if (!ParseNumber(b, &last)) {
      return RangeParse::kNone;
    }
    if (last >= size)
      last = size - 1;
  }
  if (size == 0 || first > last)
    return RangeParse::kUnsatisfiable;
  out->first = first;
  out->last = last;
  return RangeParse::kOk;
}

}  // namespace zel::mirror
