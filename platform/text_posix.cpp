#include "platform/text.h"

#include <algorithm>
#include <cwctype>

namespace zel::platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    char32_t c;
    std::size_t len;
    if (b < 0x80) {
      c = b, len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F, len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F, len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07, len = 4;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    if (i + len > text.size()) {
      out += kReplacement;
      break;
    }
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) {
      unsigned char cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (cont & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!ok || c < kMin[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out += kReplacement;
      ++i;  // resynchronise on the next byte
      continue;
    }
    out += static_cast<wchar_t>(c);
    i += len;
  }
  return out;
}

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t w : text) {
    char32_t c = static_cast<char32_t>(w);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
      c = kReplacement;
    AppendUtf8(out, c);
  }
  return out;
}

std::vector<std::string> SplitNonEmpty(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = std::min(text.find(separator, start), text.size());
    if (end > start)
      pieces.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

std::wstring ToLowerWide(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out)
    c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
  return out;
}

}  // namespace zel::platform
