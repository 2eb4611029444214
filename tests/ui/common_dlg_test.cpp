#include "ui/common_dlg.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/window.h"
#include "tests/ui/xvfb_display.h"

namespace zel {
namespace {

namespace pw = platform;

// Records what the base hands to the virtual operations.
class ProbeDlg : public CommonDlg {
 public:
  ProbeDlg(int dpi, bool fixed, int w, int h) : dpi_(dpi) {
    fixed_size_ = fixed;
    design_width_ = w;
    design_height_ = h;
  }
  void set_close_flags(std::uint32_t flags) { close_flags_ = flags; }
  void set_press_answer(int answer) { press_answer_ = answer; }

  int GetDpiX() override { return dpi_; }
  int OnMessage(std::uint32_t message, WParam, LParam) override {
    messages.push_back(message);
    return message == pw::kWmLButtonDown ? press_answer_ : 0;
  }
  int OnCommand(WParam wparam, LParam) override {
    commands.push_back(pw::LoWord(wparam));
    return 7;
  }
  void OnPaint() override { ++paints; }

  std::vector<std::uint32_t> messages;
  std::vector<int> commands;
  int paints = 0;

 private:
  int dpi_;
  int press_answer_ = 0;
};

TEST(CommonDlgTest, ConstructionDefaults) {
  ProbeDlg d(96, false, 0, 0);
  CommonDlg plain;
  EXPECT_FALSE(plain.fixed_size());
  EXPECT_EQ(plain.design_width(), 0);
  EXPECT_EQ(plain.design_height(), 0);
  EXPECT_EQ(plain.close_flags(), 3u);
  EXPECT_EQ(plain.window(), nullptr);
}

TEST(CommonDlgTest, ScaleMultipliesFirst) {
  struct Case {
    int dpi, value, scaled;
  } cases[] = {{96, 420, 420}, {144, 420, 630}, {144, 210, 315}, {120, 7, 8}, {192, 405, 810}};
  for (const Case& k : cases) {
    ProbeDlg d(k.dpi, true, 0, 0);
    EXPECT_EQ(d.Scale(k.value), k.scaled) << k.dpi << " dpi, " << k.value;
  }
}

TEST(CommonDlgTest, CentredRect) {
  EXPECT_EQ(CommonDlg::CentredRect(1024, 768, {0, 0, 630, 315}), (pw::Rect{197, 226, 827, 541}));
  EXPECT_EQ(CommonDlg::CentredRect(1920, 1080, {100, 100, 722, 505}),
            (pw::Rect{649, 337, 1271, 742}));
}

TEST(CommonDlgTest, OkAndCancelFollowTheCloseFlags) {
  struct Case {
    std::uint32_t flags;
    int id;
    bool ends;
  } cases[] = {{3, pw::kIdCancel, true}, {3, pw::kIdOk, true},  {2, pw::kIdCancel, false},
               {1, pw::kIdOk, false},    {0, pw::kIdOk, false}, {3, 1614, false}};
  for (const Case& k : cases) {
    ProbeDlg d(96, false, 0, 0);
    d.set_close_flags(k.flags);
    int r = d.DialogProc(nullptr, pw::kWmCommand, static_cast<WParam>(k.id), 0);
    if (k.ends) {
      EXPECT_EQ(r, 1);
      EXPECT_TRUE(d.commands.empty());
    } else {
      EXPECT_EQ(r, 7);
      EXPECT_EQ(d.commands, std::vector<int>{k.id});
    }
    EXPECT_EQ(d.messages, std::vector<std::uint32_t>{pw::kWmCommand}) << "OnMessage goes first";
  }
}

TEST(CommonDlgTest, PaintReturnsThePreHandlersResult) {
  ProbeDlg d(96, false, 0, 0);
  EXPECT_EQ(d.DialogProc(nullptr, pw::kWmPaint, 0, 0), 0);
  EXPECT_EQ(d.paints, 1);
  EXPECT_EQ(d.DialogProc(nullptr, pw::kWmInitDialog, 0, 0), 1);
}

// ---- On a real X server ----

ProbeDlg* g_probe = nullptr;
std::vector<std::uint32_t> g_hooked;
pw::LParam g_caption_point = 0;
pw::WindowProc g_previous = nullptr;

pw::LResult ProbeProc(Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
  return g_probe != nullptr ? g_probe->DialogProc(w, m, wp, lp) : 0;
}

// Sees every message before the dialog manager; swallows the caption press
// so no real drag starts.
pw::LResult Spy(Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
  g_hooked.push_back(m);
  if (m == pw::kWmNcLButtonDown && wp == pw::kHtCaption) {
    g_caption_point = lp;
    return 0;
  }
  return pw::CallWindowProc(g_previous, w, m, wp, lp);
}

TEST(CommonDlgScreenTest, DesignSizeAt144DpiIsScaledAndCentred) {
  ZEL_REQUIRE_XVFB();
  ASSERT_TRUE(pw::InitWindowSystem());
  ProbeDlg d(144, true, 420, 210);
  g_probe = &d;
  Hwnd w = pw::CreateDialog({100, 100, L"probe"}, nullptr, ProbeProc, 0);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(d.window(), w);
  EXPECT_EQ(pw::GetWindowRect(w), (pw::Rect{197, 226, 827, 541}));
  // WM_CREATE and WM_INITDIALOG arrive before the window shows.
  ASSERT_GE(d.messages.size(), 2u);
  EXPECT_EQ(d.messages[0], pw::kWmCreate);
  EXPECT_EQ(d.messages[1], pw::kWmInitDialog);
  EXPECT_TRUE(pw::IsWindowVisible(w));
  pw::DestroyWindow(w);
  g_probe = nullptr;
}

TEST(CommonDlgScreenTest, BackgroundPressDragsAndControlPressCaptures) {
  ZEL_REQUIRE_XVFB();
  ASSERT_TRUE(pw::InitWindowSystem());
  ProbeDlg d(96, true, 300, 200);
  g_probe = &d;
  Hwnd w = pw::CreateDialog({300, 200, L"probe"}, nullptr, ProbeProc, 0);
  ASSERT_NE(w, nullptr);
  g_hooked.clear();
  g_previous = pw::SetWindowProc(w, Spy);
  pw::Rect r = pw::GetWindowRect(w);

  // No control claims the press: the base asks for a caption drag at the
  // press point in screen coordinates.
  d.set_press_answer(0);
  pw::SendMessage(w, pw::kWmLButtonDown, pw::kMkLButton, pw::MakeLParam(10, 20));
  EXPECT_EQ(pw::XFromLParam(g_caption_point), r.left + 10);
  EXPECT_EQ(pw::YFromLParam(g_caption_point), r.top + 20);
  EXPECT_EQ(pw::GetCapture(), nullptr);

  // A control took it: capture until the button comes up.
  d.set_press_answer(1);
  pw::SendMessage(w, pw::kWmLButtonDown, pw::kMkLButton, pw::MakeLParam(10, 20));
  EXPECT_EQ(pw::GetCapture(), w);
  pw::SendMessage(w, pw::kWmLButtonUp, 0, pw::MakeLParam(10, 20));
  EXPECT_EQ(pw::GetCapture(), nullptr);

  // Close without a handler becomes IDCANCEL, which (close flags 3) ends it.
  d.commands.clear();
  pw::SendMessage(w, pw::kWmClose, 0, 0);
  EXPECT_FALSE(pw::IsWindowVisible(w));

  pw::DestroyWindow(w);
  g_probe = nullptr;
  // A destroyed window's handle does nothing.
  EXPECT_FALSE(pw::IsWindow(w));
  EXPECT_EQ(pw::SendMessage(w, pw::kWmCommand, 1614, 0), 0);
  EXPECT_FALSE(pw::PostMessage(w, pw::kWmCommand, 1614, 0));
  EXPECT_FALSE(pw::SetTimer(w, 1, 10));
  EXPECT_FALSE(pw::MoveWindow(w, 0, 0, 10, 10, true));
  pw::PumpMessages(50);
}

TEST(CommonDlgScreenTest, TimersAndPaintsReachTheDialog) {
  ZEL_REQUIRE_XVFB();
  ASSERT_TRUE(pw::InitWindowSystem());
  ProbeDlg d(96, true, 200, 100);
  g_probe = &d;
  Hwnd w = pw::CreateDialog({200, 100, L"probe"}, nullptr, ProbeProc, 0);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(pw::SetTimer(w, 1, 20));
  pw::PumpMessages(300);
  int ticks = static_cast<int>(std::count(d.messages.begin(), d.messages.end(), pw::kWmTimer));
  EXPECT_GE(ticks, 3);
  EXPECT_GE(d.paints, 1);
  EXPECT_TRUE(pw::KillTimer(w, 1));
  d.messages.clear();
  pw::PumpMessages(100);
  EXPECT_EQ(std::count(d.messages.begin(), d.messages.end(), pw::kWmTimer), 0);
  pw::DestroyWindow(w);
  g_probe = nullptr;
}

}  // namespace
}  // namespace zel
