#include "ui/common_ctrl.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/canvas.h"

namespace zel {
namespace {

namespace pw = platform;

// A frame the size of the main window, white like the painters start.
pw::Canvas WhiteFrame(int w = 622, int h = 405) {
  pw::Canvas frame(w, h);
  frame.FillRect({0, 0, w, h}, 0xFFFFFF);
  return frame;
}

// Counts pixels of |pixel| (0xRRGGBB) inside |r|.
int CountPixels(const pw::Canvas& c, const pw::Rect& r, std::uint32_t pixel) {
  int n = 0;
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x)
      n += c.PixelAt(x, y) == pixel;
  }
  return n;
}

pw::BitmapHandle SolidPicture(int w, int h, std::uint32_t pixel) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(w) * h, pixel);
  return pw::Bitmap::FromPixels(w, h, px.data(), false);
}

TEST(CommonRectTest, InsetKeepsLeftAndTopNonNegative) {
  CommonRect r(1, 2, 101, 52);
  EXPECT_EQ(r.Width(), 100);
  EXPECT_EQ(r.Height(), 50);
  r.Inset(2);
  EXPECT_EQ(r.rect(), (pw::Rect{3, 4, 99, 50}));
  EXPECT_EQ(r.OriginRect(), (pw::Rect{0, 0, 96, 46}));
  CommonRect edge(0, 0, 10, 10);
  edge.Inset(-3);
  EXPECT_EQ(edge.rect(), (pw::Rect{0, 0, 13, 13}));
}

TEST(CommonCtrlTest, HitTestEdgesAreInclusive) {
  StaticCtrl c(nullptr, 10, 20, 30, 40);
  struct Case {
    int x, y;
    bool inside;
  } cases[] = {{10, 20, true}, {30, 40, true},  {30, 20, true},  {20, 30, true},
               {9, 30, false}, {31, 30, false}, {20, 19, false}, {20, 41, false}};
  for (const Case& k : cases)
    EXPECT_EQ(c.HitTest(k.x, k.y), k.inside) << k.x << "," << k.y;
}

TEST(CommonCtrlTest, DefaultsMatchTheControlFamily) {
  StaticCtrl s(nullptr, 0, 0, 1, 1);
  ButtonCtrlEx b(nullptr, 0, 0, 1, 1);
  EXPECT_EQ(s.GetId(), -1);
  EXPECT_EQ(s.format(), 0x25u);
  EXPECT_TRUE(s.IsVisible());
  EXPECT_TRUE(s.IsEnabled());
  EXPECT_EQ(s.GetDrawPictures(), 0);
  EXPECT_EQ(b.state(), kStateNormal);
  // A button picks its state's colour while drawing.
  pw::Canvas frame = WhiteFrame(10, 10);
  b.Draw(&frame);
  EXPECT_EQ(b.text_color(), 0x333333u);
  b.SetEnabled(false);
  b.Draw(&frame);
  EXPECT_EQ(b.text_color(), 0x999999u);
}

// The button state machine, one row per transition of the table.
TEST(ButtonCtrlExTest, StateMachine) {
  enum Event { kMoveIn, kMoveOut, kDownIn, kDownOut, kUpIn, kUpOut, kDisable, kEnable };
  struct Case {
    const char* name;
    std::vector<Event> before;
    Event event;
    int state;
    bool pressed;
  } cases[] = {
      {"normal, move inside", {}, kMoveIn, kStateHover, false},
      {"hover, move outside", {kMoveIn}, kMoveOut, kStateNormal, false},
      {"any, down inside", {kMoveOut}, kDownIn, kStatePressed, true},
      {"any, down outside", {kDownIn}, kDownOut, kStateNormal, false},
      {"pressed, move inside", {kDownIn}, kMoveIn, kStatePressed, true},
      {"pressed, move outside", {kDownIn}, kMoveOut, kStateNormal, false},
      {"pressed, up inside", {kDownIn}, kUpIn, kStateHover, false},
      {"pressed, up outside", {kDownIn}, kUpOut, kStateNormal, false},
      {"any, disable", {kMoveIn}, kDisable, kStateDisabled, false},
      {"disabled, enable", {kDisable}, kEnable, kStateDisabled, false},
      {"disabled ignores the mouse", {kDisable}, kMoveIn, kStateDisabled, false},
  };
  for (const Case& k : cases) {
    ButtonCtrlEx b(nullptr, 100, 100, 200, 150);
    auto apply = [&b](Event e) {
      switch (e) {
        case kMoveIn:
          b.OnMouseMove(150, 120);
          break;
        case kMoveOut:
          b.OnMouseMove(10, 10);
          break;
        case kDownIn:
          b.OnLButtonDown(150, 120);
          break;
        case kDownOut:
          b.OnLButtonDown(10, 10);
          break;
        case kUpIn:
          b.OnLButtonUp(150, 120);
          break;
        case kUpOut:
          b.OnLButtonUp(10, 10);
          break;
        case kDisable:
          b.SetEnabled(false);
          break;
        case kEnable:
          b.SetEnabled(true);
          break;
      }
    };
    for (Event e : k.before)
      apply(e);
    apply(k.event);
    EXPECT_EQ(b.state(), k.state) << k.name;
    EXPECT_EQ(b.pressed(), k.pressed) << k.name;
  }
}

TEST(ButtonCtrlExTest, ReenabledButtonKeepsDisabledLookUntilTheMouseMoves) {
  ButtonCtrlEx b(nullptr, 0, 0, 50, 20);
  b.SetEnabled(false);
  b.SetEnabled(true);
  EXPECT_EQ(b.state(), kStateDisabled);
  EXPECT_EQ(b.OnMouseMove(10, 10), 1);
  EXPECT_EQ(b.state(), kStateHover);
}

TEST(ButtonCtrlExTest, AnswersTellWhetherTheEventConcernsTheControl) {
  ButtonCtrlEx b(nullptr, 0, 0, 50, 20);
  EXPECT_EQ(b.OnLButtonUp(10, 10), 0);  // no press seen
  EXPECT_EQ(b.OnLButtonDown(10, 10), 1);
  EXPECT_EQ(b.OnMouseMove(60, 10), 0);
  EXPECT_EQ(b.OnLButtonUp(60, 10), 0);
  b.SetVisible(false);
  EXPECT_EQ(b.OnLButtonDown(10, 10), 0);
  EXPECT_EQ(b.state(), kStateNormal);
}

TEST(ForwardMouseMessageTest, DragOutsideAndReleaseSendsNothing) {
  ButtonCtrlEx b(nullptr, 160, 167, 260, 199);
  std::vector<ButtonCtrlEx*> list{&b};
  bool down = false;
  EXPECT_EQ(ForwardMouseMessage(list, pw::kWmLButtonDown, pw::kMkLButton, pw::MakeLParam(200, 180),
                                &down),
            1);
  EXPECT_TRUE(down);
  ForwardMouseMessage(list, pw::kWmMouseMove, pw::kMkLButton, pw::MakeLParam(300, 100), &down);
  EXPECT_EQ(b.state(), kStateNormal);
  EXPECT_EQ(ForwardMouseMessage(list, pw::kWmLButtonUp, 0, pw::MakeLParam(300, 100), &down), 0);
  EXPECT_FALSE(down);
  EXPECT_EQ(b.state(), kStateNormal);
  EXPECT_FALSE(b.pressed());
}

TEST(ButtonColorCtrlExTest, HoverDrawsTwoPixelFrameAroundFill) {
  ButtonColorCtrlEx b(nullptr, 100, 354, 300, 394);
  b.SetOuterColors(0xF4891B, 0xF4891B, 0xFFA03F, 0xD700D7);
  b.SetInnerColors(0xF4891B, 0xFFA03F, 0xFFA03F, 0xD700D7);
  b.SetFrameWidth(2);
  b.OnMouseMove(150, 370);
  ASSERT_EQ(b.state(), kStateHover);
  pw::Canvas frame = WhiteFrame();
  EXPECT_EQ(b.Draw(&frame), 1);
  const std::uint32_t frame_px = pw::ColorRefToPixel(0xF4891B);  // 0x1B89F4
  const std::uint32_t fill_px = pw::ColorRefToPixel(0xFFA03F);   // 0x3FA0FF
  EXPECT_EQ(frame_px, 0x1B89F4u);
  // Two rows and columns of frame on every side, the fill inside.
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(frame.PixelAt(150, 354 + i), frame_px);
    EXPECT_EQ(frame.PixelAt(150, 393 - i), frame_px);
    EXPECT_EQ(frame.PixelAt(100 + i, 370), frame_px);
    EXPECT_EQ(frame.PixelAt(299 - i, 370), frame_px);
  }
  EXPECT_EQ(CountPixels(frame, {102, 356, 298, 392}, fill_px), 196 * 36);
  EXPECT_EQ(frame.PixelAt(99, 370), 0xFFFFFFu);
  EXPECT_EQ(frame.PixelAt(300, 370), 0xFFFFFFu);
}

TEST(ButtonColorCtrlExTest, AllZeroColoursDrawOnlyTheText) {
  ButtonColorCtrlEx b(nullptr, 10, 10, 210, 50);
  b.SetCaption(L"Start Telviska");
  b.SetFont(pw::CreateFont({L"\u5FAE\u8F6F\u96C5\u9ED1", -20}));
  b.SetStateColors(0x0000FF, 0x0000FF, 0x0000FF, 0x0000FF);  // text in pure red
  pw::Canvas frame = WhiteFrame(300, 100);
  EXPECT_EQ(b.Draw(&frame), 1);
  int red_ish = 0, other = 0;
  for (int y = 0; y < 100; ++y) {
    for (int x = 0; x < 300; ++x) {
      std::uint32_t p = frame.PixelAt(x, y);
      if (p == 0xFFFFFF)
        continue;
      bool inside = x >= 10 && x < 210 && y >= 10 && y < 50;
      // Anti-aliased text: blends of red and white only.
      bool reddish = ((p >> 16) & 0xFF) == 0xFF && ((p >> 8) & 0xFF) == (p & 0xFF);
      (inside && reddish ? red_ish : other)++;
    }
  }
  EXPECT_GT(red_ish, 50);
  EXPECT_EQ(other, 0);
}

TEST(ProcessCtrlTest, HalfOf601PixelsIs300) {
  EXPECT_EQ(ProcessCtrl::FilledWidth(50, 0, 100, 601), 300);
  struct Case {
    int pos, min, max, width, filled;
  } cases[] = {{0, 0, 100, 601, 0},  {100, 0, 100, 601, 601}, {150, 0, 100, 601, 601},
               {-5, 0, 100, 601, 0}, {5, 5, 5, 601, 0},       {3, 1, 5, 100, 50}};
  for (const Case& k : cases) {
    EXPECT_EQ(ProcessCtrl::FilledWidth(k.pos, k.min, k.max, k.width), k.filled)
        << k.pos << " in " << k.min << ".." << k.max;
  }
}

TEST(ProcessCtrlTest, DrawsBorderDoneAndRemaining) {
  ProcessCtrl bar(nullptr, 10, 100, 613, 112);  // inset width 601 with a 1 px border
  bar.SetBorder(1, 0x0000FF);
  bar.SetBarColors(0x00FF00, 0xFF0000);
  bar.SetPos(50);  // no owner window: only asks for a repaint
  pw::Canvas frame = WhiteFrame();
  EXPECT_EQ(bar.Draw(&frame), 1);
  EXPECT_EQ(frame.PixelAt(10, 105), 0xFF0000u);  // border (red as COLORREF 0x0000FF)
  EXPECT_EQ(CountPixels(frame, {11, 101, 612, 111}, 0x00FF00), 300 * 10);
  EXPECT_EQ(CountPixels(frame, {11, 101, 612, 111}, 0x0000FF), 301 * 10);
}

TEST(ProcessCtrlTest, PicturesDrawTrackThenFill) {
  ProcessCtrl bar(nullptr, 0, 0, 100, 10);
  bar.SetDrawPictures(1);
  auto track = SolidPicture(100, 10, 0x111111), fill = SolidPicture(100, 10, 0x222222);
  bar.SetStatePictures(track, fill, nullptr, nullptr);
  bar.SetPos(25);
  pw::Canvas frame = WhiteFrame(100, 10);
  bar.Draw(&frame);
  EXPECT_EQ(CountPixels(frame, {0, 0, 100, 10}, 0x222222), 250);
  EXPECT_EQ(CountPixels(frame, {0, 0, 100, 10}, 0x111111), 750);
}

TEST(CommonCtrlTest, MissingPictureIsSkipped) {
  StaticCtrl s(nullptr, 0, 0, 20, 20);
  s.SetDrawPictures(1);
  pw::Canvas frame = WhiteFrame(20, 20);
  EXPECT_EQ(s.DrawPictureAt(&frame, nullptr, 0, 0, 20, 20), 1);
  EXPECT_EQ(s.DrawPictureAt(nullptr, SolidPicture(2, 2, 0), 0, 0, 2, 2), 1);
  EXPECT_EQ(s.Draw(&frame), 1);
  EXPECT_EQ(CountPixels(frame, {0, 0, 20, 20}, 0xFFFFFF), 400);
}

TEST(CheckButtonCtrlExTest, DrawsBoxFromCheckedSetAndTextInItsPlace) {
  CheckButtonCtrlEx c(nullptr, 44, 425, 244, 445);
  c.SetDrawPictures(1);
  c.SetStatePictures(SolidPicture(14, 14, 0x101010), nullptr, nullptr, nullptr);
  c.SetCheckedPictures(SolidPicture(14, 14, 0x202020), nullptr, nullptr, nullptr);
  c.SetBoxPlacement(0, 3, 14, 14);
  c.SetTextPlacement(20, 0, 175, 20);
  c.SetCaption(L"I accept");
  c.SetStateColors(0x777777, 0x777777, 0x777777, 0x777777);
  c.SetFormat(0x24);
  pw::Canvas frame = WhiteFrame(622, 600);
  c.Draw(&frame);
  EXPECT_EQ(CountPixels(frame, {44, 428, 58, 442}, 0x101010), 196);
  c.SetChecked(true);
  c.Draw(&frame);
  EXPECT_EQ(CountPixels(frame, {44, 428, 58, 442}, 0x202020), 196);
  // Text only inside the text placement.
  EXPECT_LT(CountPixels(frame, {64, 425, 239, 445}, 0xFFFFFF), 175 * 20);
  EXPECT_EQ(CountPixels(frame, {58, 425, 64, 445}, 0xFFFFFF), 6 * 20);
}

TEST(StaticCtrlTest, LongTextStaysInsideItsControl) {
  StaticCtrl s(nullptr, 50, 50, 150, 70);
  s.SetFont(pw::CreateFont({L"ArialMT", -14}));
  s.SetTextColor(0x000000);
  s.SetFormat(pw::kDtLeft | pw::kDtVCenter | pw::kDtSingleLine);
  s.SetCaption(std::wstring(200, L'W'));
  pw::Canvas frame = WhiteFrame(300, 120);
  s.Draw(&frame);
  EXPECT_GT(300 * 120 - CountPixels(frame, {0, 0, 300, 120}, 0xFFFFFF), 100);
  int outside = 0;
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 300; ++x) {
      bool inside = x >= 50 && x < 150 && y >= 50 && y < 70;
      outside += !inside && frame.PixelAt(x, y) != 0xFFFFFF;
    }
  }
  EXPECT_EQ(outside, 0);
}

TEST(StaticCtrlTest, EditControlFormatWrapsAndCentresVertically) {
  // The message box's message area: 316 wide, 120 high.
  StaticCtrl s(nullptr, 72, 36, 388, 156);
  s.SetFont(pw::CreateFont({L"\u5FAE\u8F6F\u96C5\u9ED1", -14}));
  s.SetFormat(pw::kDtWordBreak | pw::kDtEditControl);
  s.SetTextColor(0x000000);
  s.SetCaption(
      L"The installation path is invalid. Choose a folder on a local drive that you "
      L"can write to, then try the installation again.");
  pw::Canvas frame = WhiteFrame(460, 200);
  s.Draw(&frame);
  int top = -1, bottom = -1, left = 1000, right = -1;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 460; ++x) {
      if (frame.PixelAt(x, y) == 0xFFFFFF)
        continue;
      if (top < 0)
        top = y;
      bottom = y;
      left = std::min(left, x);
      right = std::max(right, x);
    }
  }
  ASSERT_GE(top, 0);
  EXPECT_GE(left, 72);
  EXPECT_LT(right, 388);
  EXPECT_GT(bottom - top, 30);  // more than one line
  // Equal room above and below, within a line's leading.
  int above = top - 36, below = 155 - bottom;
  EXPECT_NEAR(above, below, 8) << "top " << top << " bottom " << bottom;
}

TEST(HyLinkCtrlExTest, HoverUsesTheHoverFont) {
  HyLinkCtrlEx link(nullptr, 0, 0, 200, 30);
  link.SetCaption(L"User License Agreement");
  link.SetFormat(0x24);
  link.SetStateColors(0x000000, 0x000000, 0x000000, 0x000000);
  link.SetFont(pw::CreateFont({L"\u5FAE\u8F6F\u96C5\u9ED1", -14}));
  link.SetHoverFont(pw::CreateFont({L"\u5FAE\u8F6F\u96C5\u9ED1", -14, 0, false, true}));
  pw::Canvas normal = WhiteFrame(200, 30), hover = WhiteFrame(200, 30);
  link.Draw(&normal);
  link.OnMouseMove(10, 10);
  link.Draw(&hover);
  // The underline adds ink.
  EXPECT_GT(30 * 200 - CountPixels(hover, {0, 0, 200, 30}, 0xFFFFFF),
            30 * 200 - CountPixels(normal, {0, 0, 200, 30}, 0xFFFFFF) + 50);
}

}  // namespace
}  // namespace zel
