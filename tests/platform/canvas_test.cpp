#include "platform/canvas.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/font.h"
#include "tests/common/sandbox.h"

namespace zel::platform {
namespace {

constexpr wchar_t kUiFace[] = L"\u5FAE\u8F6F\u96C5\u9ED1";

struct Ink {
  int left = 1 << 20, top = 1 << 20, right = -1, bottom = -1;  // inclusive bounds
  bool any() const { return right >= 0; }
};

Ink InkOf(const Canvas& c) {
  Ink ink;
  for (int y = 0; y < c.height(); ++y) {
    for (int x = 0; x < c.width(); ++x) {
      if (c.PixelAt(x, y) == 0xFFFFFF)
        continue;
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

Canvas White(int w, int h) {
  Canvas c(w, h);
  c.FillRect({0, 0, w, h}, 0xFFFFFF);
  return c;
}

TEST(FontTest, SkinFacesMapToInstalledFonts) {
  EXPECT_EQ(ResolvedFontFamily(kUiFace), "WenQuanYi Micro Hei");
  EXPECT_EQ(ResolvedFontFamily(L"ArialMT"), "Liberation Sans");
}

TEST(FontTest, MulDivRoundsLikeWindows) {
  struct Case {
    int a, b, c, r;
  } cases[] = {{14, 96, 96, 14}, {14, 144, 96, 21}, {22, 96, 72, 29}, {20, 96, 72, 27},
               {1, 3, 2, 2},     {-1, 3, 2, -2},    {5, 5, 0, -1}};
  for (const Case& k : cases)
    EXPECT_EQ(MulDiv(k.a, k.b, k.c), k.r) << k.a << "*" << k.b << "/" << k.c;
}

TEST(CanvasTest, FillsAndConvertsColourRefs) {
  Canvas c(4, 4);
  EXPECT_EQ(c.PixelAt(0, 0), 0u) << "a new canvas is black";
  c.FillRect({-5, -5, 2, 2}, 0xB5474A);  // clipped to the canvas
  EXPECT_EQ(c.PixelAt(1, 1), 0x4A47B5u);
  EXPECT_EQ(c.PixelAt(2, 2), 0u);
  EXPECT_EQ(PixelToColorRef(0x4A47B5), 0xB5474Au);
  EXPECT_EQ(c.PixelAt(-1, 0), 0u);
  EXPECT_EQ(c.PixelAt(4, 0), 0u);
}

TEST(CanvasTest, PicturesCopyClippedAndKeyedOnWhite) {
  std::vector<std::uint32_t> px = {0xFFFFFF, 0x112233, 0x445566, 0xFFFFFF};
  auto picture = Bitmap::FromPixels(2, 2, px.data(), false);
  ASSERT_TRUE(picture);
  Canvas c(3, 3);
  c.FillRect({0, 0, 3, 3}, 0x0000FF);  // red
  c.DrawBitmapTransparent(*picture, 1, 1);
  EXPECT_EQ(c.PixelAt(1, 1), 0xFF0000u) << "white is transparent";
  EXPECT_EQ(c.PixelAt(2, 1), 0x112233u);
  EXPECT_EQ(c.PixelAt(1, 2), 0x445566u);
  c.DrawBitmap(*picture, -1, -1, 10, 10);  // only (1,1) of the picture lands, at (0,0)
  EXPECT_EQ(c.PixelAt(0, 0), 0xFFFFFFu);
  EXPECT_EQ(c.PixelAt(1, 0), 0xFF0000u);
  c.DrawBitmap(*picture, 5, 5, 2, 2);  // wholly outside: nothing
}

TEST(CanvasTest, BadPictureBytesGiveNothing) {
  EXPECT_EQ(Bitmap::Decode({}), nullptr);
  const std::uint8_t junk[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I'};
  EXPECT_EQ(Bitmap::Decode(junk), nullptr);
  const std::uint8_t bmp[] = {'B', 'M', 0, 0};
  EXPECT_EQ(Bitmap::Decode(bmp), nullptr);
  EXPECT_EQ(Bitmap::FromPixels(0, 5, nullptr, false), nullptr);
}

// Where single-line text lands for each placement flag.
TEST(CanvasTest, SingleLinePlacement) {
  auto font = CreateFont({L"ArialMT", -16});
  const Rect box{0, 0, 300, 60};
  struct Case {
    const char* name;
    unsigned format;
    int expect_left_max, expect_right_min;  // horizontal: ink within these bounds
    bool vcentre, bottom;
  } cases[] = {
      {"left", kDtLeft | kDtSingleLine, 3, -1, false, false},
      {"centre", kDtCenter | kDtVCenter | kDtSingleLine, -1, -1, true, false},
      {"right", kDtRight | kDtSingleLine, -1, 295, false, false},
      {"bottom", kDtLeft | kDtBottom | kDtSingleLine, 3, -1, false, true},
  };
  for (const Case& k : cases) {
    Canvas c = White(300, 60);
    Rect r = box;
    int height = c.DrawText(L"Telviska", &r, k.format, font.get(), 0);
    Ink ink = InkOf(c);
    ASSERT_TRUE(ink.any()) << k.name;
    EXPECT_GT(height, 10) << k.name;
    if (k.expect_left_max >= 0) {
      EXPECT_LE(ink.left, k.expect_left_max) << k.name;
    }
    if (k.expect_right_min >= 0) {
      EXPECT_GE(ink.right, k.expect_right_min) << k.name;
    }
    if (k.format & kDtCenter) {
      EXPECT_NEAR((ink.left + ink.right) / 2.0, 150, 3) << k.name;
    }
    if (k.vcentre) {
      EXPECT_NEAR((ink.top + ink.bottom) / 2.0, 30, 4) << k.name;
    }
    if (k.bottom) {
      EXPECT_GE(ink.bottom, 50) << k.name;
    }
    if (!k.vcentre && !k.bottom) {
      EXPECT_LE(ink.top, 8) << k.name;
    }
  }
}

TEST(CanvasTest, VerticalPlacementNeedsSingleLine) {
  // As DrawTextW: DT_VCENTER and DT_BOTTOM without DT_SINGLELINE do nothing.
  auto font = CreateFont({kUiFace, -14});
  Canvas c = White(300, 100);
  Rect r{0, 0, 300, 100};
  c.DrawText(L"Installation will start", &r, kDtCenter | kDtBottom | kDtWordBreak, font.get(), 0);
  EXPECT_LE(InkOf(c).top, 8);
}

TEST(CanvasTest, CalcRectMeasuresWithoutDrawing) {
  auto font = CreateFont({kUiFace, -14});
  Canvas c = White(200, 200);
  Rect one{10, 10, 200, 200};
  int h1 = c.DrawText(L"OK", &one, kDtSingleLine | kDtCalcRect, font.get(), 0);
  EXPECT_FALSE(InkOf(c).any());
  EXPECT_EQ(one.bottom - one.top, h1);
  EXPECT_GT(one.right, 10);
  EXPECT_LT(one.right, 60);
  Rect wrapped{0, 0, 120, 0};
  int h2 = c.DrawText(L"one two three four five six seven eight nine ten eleven twelve", &wrapped,
                      kDtWordBreak | kDtCalcRect, font.get(), 0);
  EXPECT_GE(h2, 3 * h1 - 2);
  EXPECT_LE(wrapped.right, 120);
  EXPECT_EQ(MeasureText(L"OK", {10, 10, 200, 200}, kDtSingleLine, font.get()), one);
}

TEST(CanvasTest, TextNeverLeavesItsRectangle) {
  auto font = CreateFont({kUiFace, -20});
  for (unsigned format : {kDtCenter | kDtVCenter | kDtSingleLine | kDtNoClip,
                          kDtWordBreak | kDtEditControl, kDtRight | kDtSingleLine}) {
    Canvas c = White(300, 100);
    Rect r{100, 40, 160, 60};
    c.DrawText(std::wstring(300, L'M') + L"\n" + std::wstring(300, L'\u6C49'), &r, format,
               font.get(), 0);
    Ink ink = InkOf(c);
    ASSERT_TRUE(ink.any()) << format;
    EXPECT_GE(ink.left, 100) << format;
    EXPECT_LT(ink.right, 160) << format;
    EXPECT_GE(ink.top, 40) << format;
    EXPECT_LT(ink.bottom, 60) << format;
  }
}

TEST(CanvasTest, EditControlDropsAPartlyVisibleLastLine) {
  auto font = CreateFont({kUiFace, -14});
  Rect probe{0, 0, 100, 0};
  int line = MeasureText(L"x", probe, kDtWordBreak, font.get()).height();
  Canvas plain = White(100, 100), edit = White(100, 100);
  // Room for one and a half lines.
  Rect a{0, 0, 100, line * 3 / 2}, b = a;
  plain.DrawText(L"first line\nsecond line", &a, kDtWordBreak, font.get(), 0);
  edit.DrawText(L"first line\nsecond line", &b, kDtWordBreak | kDtEditControl, font.get(), 0);
  EXPECT_GT(InkOf(plain).bottom, line);
  EXPECT_LT(InkOf(edit).bottom, line);
}

TEST(CanvasTest, SavesPng) {
  Canvas c = White(8, 8);
  std::string path = test::SandboxPath("canvas.png");
  ASSERT_TRUE(c.SavePng(path));
  EXPECT_EQ(test::ReadFile(path).substr(1, 3), "PNG");
}

}  // namespace
}  // namespace zel::platform
