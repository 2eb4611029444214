#include "platform/font.h"

#include <fontconfig/fontconfig.h>
#include <pango/pango.h>

#include <cmath>
#include <cstdint>
#include <mutex>

#include "platform/text.h"

namespace zel::platform {
namespace {

// The skin names Windows faces; these are the installed fonts that stand in
// for them (a CJK-capable sans and a metric-compatible Arial).
constexpr const char kAliases[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <alias binding="same">
    <family>微软雅黑</family>
    <prefer><family>WenQuanYi Micro Hei</family><family>Noto Sans CJK SC</family></prefer>
    <default><family>sans-serif</family></default>
  </alias>
  <alias binding="same">
    <family>Microsoft YaHei</family>
    <prefer><family>WenQuanYi Micro Hei</family></prefer>
  </alias>
  <alias binding="same">
    <family>ArialMT</family>
    <prefer><family>Liberation Sans</family><family>Arimo</family></prefer>
    <default><family>sans-serif</family></default>
  </alias>
  <alias binding="same">
    <family>Arial</family>
    <prefer><family>Liberation Sans</family></prefer>
  </alias>
  <alias binding="same">
    <family>MS Shell Dlg</family>
    <prefer><family>Liberation Sans</family></prefer>
  </alias>
</fontconfig>
)";

std::once_flag g_aliases_once;

// Pixel em size for a LOGFONT height. A positive height is the cell height,
// of which the em is about 4/5 for the skin's faces.
int PixelSizeFor(int height) {
  if (height < 0)
    return -height;
  if (height > 0)
    return height * 4 / 5 > 0 ? height * 4 / 5 : 1;
  return 13;
}

}  // namespace

void EnsureFontAliases() {
  std::call_once(g_aliases_once, [] {
    FcInit();
    FcConfig* config = FcConfigGetCurrent();
    if (config == nullptr)
      return;
    FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8*>(kAliases), FcFalse);
  });
}

Font::Font(const FontSpec& wanted) : wanted_(wanted), pixel_size_(PixelSizeFor(wanted.height)) {
  EnsureFontAliases();
  PangoFontDescription* d = pango_font_description_new();
  std::string face = WideToUtf8(wanted.face);
  pango_font_description_set_family(d, face.empty() ? "sans-serif" : face.c_str());
  pango_font_description_set_absolute_size(d, static_cast<double>(pixel_size_) * PANGO_SCALE);
  pango_font_description_set_weight(d,
                                    wanted.weight >= 600 ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(d, wanted.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  description_ = d;
}

Font::~Font() {
  if (description_ != nullptr) {
    pango_font_description_free(static_cast<PangoFontDescription*>(description_));
  }
}

FontHandle CreateFont(const FontSpec& wanted) {
  return std::make_shared<const Font>(wanted);
}

int MulDiv(int a, int b, int c) {
  if (c == 0)
    return -1;
  // Rounds half away from zero, as the Windows function does.
  return static_cast<int>(std::llround(static_cast<double>(static_cast<std::int64_t>(a) * b) / c));
}

std::string ResolvedFontFamily(const std::wstring& face) {
  EnsureFontAliases();
  std::string name = WideToUtf8(face);
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name.c_str()));
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string family;
  FcChar8* value = nullptr;
  if (match != nullptr && FcPatternGetString(match, FC_FAMILY, 0, &value) == FcResultMatch) {
    family = reinterpret_cast<const char*>(value);
  }
  if (match != nullptr)
    FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return family;
}

}  // namespace zel::platform
