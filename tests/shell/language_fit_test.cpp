// Every text the wizard draws into a control of fixed size, measured in the
// UI font the way the painters lay it out, against the room that control
// gives it at the language's layout widths. A translation that does not fit
// is shortened in its table, never allowed more room here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/font.h"
#include "profile/package_header.h"
#include "profile/product_info.h"
#include "shell/language.h"
#include "system/file_util.h"

namespace zel {
namespace {

namespace pw = platform;

// The control rectangles are fixed pixels laid out for 96 DPI, so the fonts
// are made for 96 DPI too.
constexpr int kDpi = 96;
constexpr wchar_t kUiFace[] = L"微软雅黑";

enum class FontId { kButton, kSmall, kLinkHover, kFontB, kLabel };

pw::FontSpec LogFontOf(FontId id) {
  switch (id) {
    case FontId::kButton:
      return {kUiFace, -pw::MulDiv(20, kDpi, 72)};
    case FontId::kSmall:
      return {kUiFace, -pw::MulDiv(14, kDpi, 96)};
    case FontId::kLinkHover:
      return {kUiFace, -pw::MulDiv(14, kDpi, 96), 0, false, true};
    case FontId::kFontB:
      return {L"ArialMT", -pw::MulDiv(14, kDpi, 96)};
    case FontId::kLabel:
      return {kUiFace, -pw::MulDiv(12, kDpi, 96)};
  }
  return {};
}

const pw::Font* FontOf(FontId id) {
  static const std::vector<pw::FontHandle> fonts = [] {
    std::vector<pw::FontHandle> all;
    for (FontId f :
         {FontId::kButton, FontId::kSmall, FontId::kLinkHover, FontId::kFontB, FontId::kLabel}) {
      all.push_back(pw::CreateFont(LogFontOf(f)));
    }
    return all;
  }();
  return fonts[static_cast<int>(id)].get();
}

int L(int index) {
  return GetLayoutWidth(index);
}

// Where the wizard window (with the custom panel open) and the message box
// clip what is drawn into them.
constexpr pw::Rect kWizardClient = {0, 0, 622, 405 + 175};
constexpr pw::Rect kMessageBoxClient = {0, 0, 420, 210};

// The install button is centred in the window and keeps its text inside its
// 2-pixel frame; on the finish page it is 100 pixels wider on each side and
// has no frame.
pw::Rect InstallButtonText() {
  const int left = (622 - L(4)) / 2;
  return {left + 2, 354 + 2, left + L(4) - 2, 394 - 2};
}
pw::Rect FinishButtonText() {
  const int left = (622 - L(4)) / 2;
  return {left - 100, 354, left + L(4) + 100, 394};
}

// Check boxes draw their text at (20, 0) inside the control, 25 pixels
// narrower than the control; the links follow right after their box.
constexpr pw::Rect CheckBoxText(int left, int top, int width) {
  return {left + 20, top, left + 20 + width - 25, top + 20};
}

std::wstring CountdownText() {
  // The countdown starts at 30; no later value is wider.
  return ReplaceAll(GetText(49), L"XXX", L"30");
}
std::wstring RetryText() {
  return ReplaceAll(GetText(41), kTableWebHost, WebSiteHostW());
}
std::wstring VersionLabelText() {
  InstallerVersionLabel label;
  if (!LoadInstallerVersionLabel(true, GetText(51), &label))
    return L"(no version label)";
  return label.display;
}

// Boxes that move with the language's layout widths.
pw::Rect AcceptText() {
  return CheckBoxText(44, 425, L(0));
}
pw::Rect LicenceLink() {
  return {44 + L(0), 425, 44 + L(0) + L(1), 445};
}
pw::Rect JoinText() {
  return CheckBoxText(44, 536, L(2));
}
pw::Rect ExperienceLink() {
  return {44 + L(2), 536, 44 + L(2) + L(3), 556};
}

struct Placement {
  const char* control;
  int id;
  FontId font;
  unsigned format;
  pw::Rect box;                      // the text's box in the window
  pw::Rect (*layout)() = nullptr;    // when set, the box at the language's widths
  std::wstring (*text)() = nullptr;  // null: GetText(id)
  pw::Rect client = kWizardClient;   // the window that clips it
};

constexpr pw::Rect kByLayout = {};
constexpr pw::Rect kMessageText = {72, 36, 388, 156};
constexpr pw::Rect kProgressText = {40, 358, 582, 378};

const Placement kPlacements[] = {
    {"install button", 0, FontId::kButton, 0x25, kByLayout, InstallButtonText},
    {"install button (retry)", 14, FontId::kButton, 0x25, kByLayout, InstallButtonText},
    {"finish button", 9, FontId::kButton, 0x25, kByLayout, FinishButtonText},
    {"custom button", 1, FontId::kSmall, 0x26, {474, 359, 474 + 119, 359 + 26}},
    {"accept box", 2, FontId::kSmall, 0x24, kByLayout, AcceptText},
    {"licence link", 3, FontId::kSmall, 0x24, kByLayout, LicenceLink},
    {"licence link (hovered)", 3, FontId::kLinkHover, 0x24, kByLayout, LicenceLink},
    {"desktop box", 4, FontId::kSmall, 0x24, CheckBoxText(44, 501, 411 - 44)},
    {"join box", 7, FontId::kSmall, 0x24, kByLayout, JoinText},
    {"experience link", 8, FontId::kSmall, 0x24, kByLayout, ExperienceLink},
    {"experience link (hovered)", 8, FontId::kLinkHover, 0x24, kByLayout, ExperienceLink},
    {"countdown", 49, FontId::kSmall, 0x19, {3, 311, 619, 348}, nullptr, CountdownText},
    {"version label", 51, FontId::kLabel, 0x24, {13, 39, 213, 59}, nullptr, VersionLabelText},
    {"retry text", 41, FontId::kFontB, 0x15, {30, 102, 592, 182}, nullptr, RetryText},
    {"progress text", 44, FontId::kFontB, 0x25, kProgressText},
    {"progress text", 45, FontId::kFontB, 0x25, kProgressText},
    {"download text", 50, FontId::kFontB, 0x25, {161, 358, 461, 378}},
    {"message box text", 29, FontId::kSmall, 0x2010, kMessageText, nullptr, nullptr,
     kMessageBoxClient},
    {"message box text", 30, FontId::kSmall, 0x2010, kMessageText, nullptr, nullptr,
     kMessageBoxClient},
    {"message box text", 31, FontId::kSmall, 0x2010, kMessageText, nullptr, nullptr,
     kMessageBoxClient},
    {"message box text", 32, FontId::kSmall, 0x2010, kMessageText, nullptr, nullptr,
     kMessageBoxClient},
    {"message box button",
     11,
     FontId::kSmall,
     0x25,
     {160, 167, 260, 199},
     nullptr,
     nullptr,
     kMessageBoxClient},
};

pw::Rect Intersect(const pw::Rect& a, const pw::Rect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
          std::min(a.bottom, b.bottom)};
}

// A pixel belongs to a glyph when the glyph covers at least half of it,
// the pixel-centre rule of unsmoothed text. Fainter pixels are the smoothing
// fringe; losing one to the clip changes nothing a reader can see.
constexpr std::uint32_t kInkLevel = 0x80;

std::uint32_t Coverage(std::uint32_t pixel) {
  return std::max({pixel & 0xFF, (pixel >> 8) & 0xFF, (pixel >> 16) & 0xFF});
}

// What a single-line text inks, relative to the top-left corner of its
// logical box (the advance width and line height DrawText places it by).
struct Ink {
  pw::Rect logical;
  pw::Rect ink;  // empty: nothing inked (blank text)
};

Ink InkOf(const std::wstring& text, const pw::Font* font) {
  Ink out;
  out.logical = pw::MeasureText(text, {0, 0, 0, 0}, pw::kDtSingleLine, font);
  // Room for side bearings and descenders that leave the logical box.
  constexpr int kMargin = 64;
  pw::Canvas canvas(out.logical.width() + 2 * kMargin, out.logical.height() + 2 * kMargin);
  pw::Rect at = {kMargin, kMargin, canvas.width(), canvas.height()};
  canvas.DrawText(text, &at, pw::kDtSingleLine, font, 0xFFFFFF);
  int left = canvas.width(), top = canvas.height(), right = -1, bottom = -1;
  for (int y = 0; y < canvas.height(); ++y) {
    for (int x = 0; x < canvas.width(); ++x) {
      if (Coverage(canvas.PixelAt(x, y)) < kInkLevel)
        continue;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  }
  if (right >= 0)
    out.ink = {left - kMargin, top - kMargin, right + 1 - kMargin, bottom + 1 - kMargin};
  return out;
}

struct Fit {
  bool wrapped = false;
  pw::Rect room;     // the control's text box, clipped by the window
  pw::Rect logical;  // where DrawText puts the text's box
  pw::Rect ink;      // single-line: the pixels it colours
  // The share of the room the text needs: single-line texts by the width
  // their alignment needs (both sides' margin for centred ones), wrapped
  // texts by their wrapped height.
  double ratio = 0;
  bool fits = false;
};

// Single-line texts fit when no pixel they ink falls outside the room (a
// glyph's advance may end past the box edge as long as its ink does not, as
// with two full-width ideographs in 27 pixels); wrapped texts fit when all
// their lines, at their full line height, are inside it.
Fit Measure(const std::wstring& text, const pw::Rect& box, const pw::Rect& client, unsigned format,
            const pw::Font* font) {
  Fit fit;
  fit.room = Intersect(box, client);
  fit.wrapped = (format & pw::kDtSingleLine) == 0;
  if (fit.room.empty())
    return fit;
  if (fit.wrapped) {
    // Lines break at the control's own width; the window only clips.
    const pw::Rect m = pw::MeasureText(text, box, format, font);
    fit.logical = {box.left, box.top, box.left + m.width(), box.top + m.height()};
    fit.ratio = static_cast<double>(m.height()) / fit.room.height();
    fit.fits = fit.room == box && m.width() <= box.width() && m.height() <= box.height();
    return fit;
  }
  const Ink ink = InkOf(text, font);
  const int w = ink.logical.width(), h = ink.logical.height();
  // DrawTextW's placement of one line.
  int x = box.left;
  if (format & pw::kDtCenter)
    x = box.left + (box.width() - w) / 2;
  else if (format & pw::kDtRight)
    x = box.right - w;
  int y = box.top;
  if (format & pw::kDtVCenter)
    y = box.top + (box.height() - h) / 2;
  else if (format & pw::kDtBottom)
    y = box.bottom - h;
  fit.logical = {x, y, x + w, y + h};
  if (ink.ink.empty()) {
    fit.fits = true;
    return fit;
  }
  fit.ink = {x + ink.ink.left, y + ink.ink.top, x + ink.ink.right, y + ink.ink.bottom};
  const int gap_left = fit.ink.left - fit.room.left;
  const int gap_right = fit.room.right - fit.ink.right;
  int needed = fit.room.width() - gap_right;
  if (format & pw::kDtCenter)
    needed = fit.room.width() - 2 * std::min(gap_left, gap_right);
  else if (format & pw::kDtRight)
    needed = fit.room.width() - gap_left;
  fit.ratio = static_cast<double>(needed) / fit.room.width();
  fit.fits = gap_left >= 0 && gap_right >= 0 && fit.ink.top >= fit.room.top &&
             fit.ink.bottom <= fit.room.bottom;
  return fit;
}

std::string Describe(const Fit& fit) {
  char line[200];
  const pw::Rect& r = fit.room;
  if (fit.wrapped) {
    std::snprintf(line, sizeof line, "%d x %d px wrapped into room %d x %d px", fit.logical.width(),
                  fit.logical.height(), r.width(), r.height());
  } else {
    std::snprintf(line, sizeof line,
                  "advance %d px, ink x %d..%d y %d..%d in room x %d..%d y %d..%d",
                  fit.logical.width(), fit.ink.left, fit.ink.right, fit.ink.top, fit.ink.bottom,
                  r.left, r.right, r.top, r.bottom);
  }
  return line;
}

Fit MeasurePlacement(const Placement& p) {
  const std::wstring text = p.text != nullptr ? p.text() : GetText(p.id);
  return Measure(text, p.layout != nullptr ? p.layout() : p.box, p.client, p.format,
                 FontOf(p.font));
}

std::uint16_t LangIdOf(Language language) {
  switch (language) {
    case Language::kSpanish:
      return 0x0C0A;
    case Language::kChineseSimplified:
      return 0x0804;
    case Language::kChineseTraditional:
      return 0x0404;
    case Language::kCzech:
      return 0x0405;
    case Language::kGerman:
      return 0x0407;
    case Language::kFrench:
      return 0x040C;
    case Language::kHungarian:
      return 0x040E;
    case Language::kItalian:
      return 0x0410;
    case Language::kJapanese:
      return 0x0411;
    case Language::kDutch:
      return 0x0413;
    case Language::kNorwegian:
      return 0x0414;
    case Language::kPolish:
      return 0x0415;
    case Language::kPortuguese:
      return 0x0416;
    case Language::kRussian:
      return 0x0419;
    case Language::kSwedish:
      return 0x041D;
    case Language::kEnglish:
      return 0x0409;
  }
  return 0x0409;
}

class LanguageFitTest : public ::testing::TestWithParam<LanguageInfo> {
 protected:
  void SetUp() override { ResetLanguageStateForTesting(); }
  void TearDown() override { ResetLanguageStateForTesting(); }
};

// Measurements mean nothing in a stand-in face: the skin's faces must
// resolve to the installed fonts the toolkit maps them to.
TEST(LanguageFitFontsTest, SkinFacesResolveToTheMappedFonts) {
  EXPECT_EQ(pw::ResolvedFontFamily(kUiFace), "WenQuanYi Micro Hei")
      << "install fonts-wqy-microhei (scripts/setup.sh)";
  EXPECT_EQ(pw::ResolvedFontFamily(L"ArialMT"), "Liberation Sans")
      << "install fonts-liberation (scripts/setup.sh)";
}

TEST_P(LanguageFitTest, TextsFitTheirControls) {
  const LanguageInfo& info = GetParam();
  ASSERT_EQ(LanguageForLangId(LangIdOf(info.language)), info.language);
  SelectLanguage(ProductDisplayNameW().c_str(), LangIdOf(info.language));

  struct Seen {
    const Placement* placement;
    Fit fit;
  };
  std::vector<Seen> seen;
  for (const Placement& p : kPlacements) {
    const std::wstring text = p.text != nullptr ? p.text() : GetText(p.id);
    const Fit fit = MeasurePlacement(p);
    EXPECT_TRUE(fit.fits) << "text " << p.id << " in the " << p.control << ": " << Describe(fit)
                          << ": " << ToNarrow(text);
    seen.push_back({&p, fit});
  }

  // The tightest fits, for whoever edits the translations next.
  std::sort(seen.begin(), seen.end(),
            [](const Seen& a, const Seen& b) { return a.fit.ratio > b.fit.ratio; });
  for (std::size_t i = 0; i < 3 && i < seen.size(); ++i) {
    const Seen& s = seen[i];
    std::printf("[%s] text %d in the %s: %.1f%% of the room (%s)\n", info.code, s.placement->id,
                s.placement->control, s.fit.ratio * 100, Describe(s.fit).c_str());
  }
}

const Placement& PlacementOf(const char* control, int id) {
  for (const Placement& p : kPlacements) {
    if (p.id == id && std::string(p.control) == control)
      return p;
  }
  ADD_FAILURE() << "no placement of text " << id << " in the " << control;
  return kPlacements[0];
}

// The measure itself, on texts known to fit or not at a language's widths.
TEST(LanguageFitMeasureTest, SeesWhatTheControlCuts) {
  struct Case {
    Language language;
    const char* control;
    int id;
    const wchar_t* text;
    bool fits;
  } cases[] = {
      // One solid column past the 60-pixel box.
      {Language::kPolish, "accept box", 2, L"Akceptuję", false},
      {Language::kPolish, "accept box", 2, L"Akceptuj", true},
      // Two ideographs in 27 pixels: only the smoothing fringe passes the edge.
      {Language::kJapanese, "accept box", 2, L"同意", true},
      {Language::kJapanese, "accept box", 2, L"同意する", false},
      // Centred, right-aligned and linked texts overflow on their own sides.
      {Language::kEnglish, "install button", 0, L"Click to Install", true},
      {Language::kEnglish, "install button", 0, L"Click here to Install now", false},
      {Language::kGerman, "custom button", 1, L"Benutzerdefiniert", true},
      {Language::kGerman, "custom button", 1, L"Benutzerdefinierte Installation", false},
      {Language::kSwedish, "experience link (hovered)", 8,
       L"programmet för förbättrad användarupplevelse och mer", false},
      // Wrapped texts are bound by their height.
      {Language::kEnglish, "retry text", 41,
       L"Download failed, please retry or download the offline installer from "
       L"www.zel-installer.invalid.",
       true},
      {Language::kEnglish, "retry text", 41,
       L"Download failed.\nPlease retry\nor download\nthe offline installer\nfrom\n"
       L"www.zel-installer.invalid.",
       false},
      {Language::kEnglish, "countdown", 49,
       L"Installation will start automatically in XXX seconds.\nOr press the button.", true},
      {Language::kEnglish, "countdown", 49, L"One.\nTwo.\nThree.\nXXX", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToNarrow(c.text));
    ResetLanguageStateForTesting();
    SelectLanguage(ProductDisplayNameW().c_str(), LangIdOf(c.language));
    LoadLanguageTable({{c.id, c.text}});
    const Placement& p = PlacementOf(c.control, c.id);
    const Fit fit = MeasurePlacement(p);
    EXPECT_EQ(fit.fits, c.fits) << Describe(fit);
  }
  ResetLanguageStateForTesting();
}

// A control may reach past the window's edge (the Italian experience link
// ends at 629 of 622 pixels); only the part inside the window is room.
TEST(LanguageFitMeasureTest, WindowEdgeLimitsTheRoom) {
  const pw::Font* font = FontOf(FontId::kSmall);
  const std::wstring text = L"User License Agreement";  // about 150 pixels
  const Fit inside = Measure(text, {400, 536, 600, 556}, kWizardClient, 0x24, font);
  EXPECT_TRUE(inside.fits) << Describe(inside);
  const Fit past = Measure(text, {500, 536, 700, 556}, kWizardClient, 0x24, font);
  EXPECT_EQ(past.room.right, 622);
  EXPECT_FALSE(past.fits) << Describe(past);
}

INSTANTIATE_TEST_SUITE_P(AllTables, LanguageFitTest, ::testing::ValuesIn(AllLanguages()),
                         [](const ::testing::TestParamInfo<LanguageInfo>& p) {
                           return std::string(p.param.code);
                         });

}  // namespace
}  // namespace zel
