#include "ui/wnd_shadow.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "platform/window.h"
#include "tests/ui/xvfb_display.h"
#include "ui/common_dlg.h"

namespace zel {
namespace {

namespace pw = platform;

struct Shadow {
  std::vector<std::uint32_t> pixels;
  int width, height;
  // Top-down row |t|, column |x|.
  std::uint32_t at(int x, int t) const {
    return pixels[static_cast<std::size_t>(height - 1 - t) * width + x];
  }
  int alpha(int x, int t) const { return static_cast<int>(at(x, t) >> 24); }
};

Shadow MainWindowShadowOf(int w, int h) {
  return {CWndShadow::ComputeShadow(w, h, 30, 30, 30, 0, 0, 0x323232), w + 60, h + 60};
}

TEST(WndShadowTest, RingAlphaFallsOffOverThirtyPixels) {
  Shadow s = MainWindowShadowOf(622, 405);
  ASSERT_EQ(s.pixels.size(), 682u * 465u);
  const int mid = 30 + 405 / 2;
  // Left, right, top and bottom edges read the same.
  struct Case {
    int distance, alpha;
  } cases[] = {{1, 29}, {2, 28}, {15, 15}, {29, 1}, {30, 0}};
  for (const Case& k : cases) {
    EXPECT_EQ(s.alpha(30 - k.distance, mid), k.alpha) << "left, d=" << k.distance;
    EXPECT_EQ(s.alpha(651 + k.distance, mid), k.alpha) << "right, d=" << k.distance;
    EXPECT_EQ(s.alpha(341, 30 - k.distance), k.alpha) << "top, d=" << k.distance;
    EXPECT_EQ(s.alpha(341, 434 + k.distance), k.alpha) << "bottom, d=" << k.distance;
  }
  // Premultiplied shadow colour: 50 * 29 / 255 = 5 in each channel.
  EXPECT_EQ(s.at(29, mid), 0x1D050505u);
}

TEST(WndShadowTest, UnderTheWindowIsTransparentAndCornersAreRound) {
  Shadow s = MainWindowShadowOf(622, 405);
  for (int t : {30, 100, 434}) {
    for (int x : {30, 31, 59, 300, 651})
      EXPECT_EQ(s.at(x, t), 0u) << x << "," << t;
  }
  // Along the diagonal from the corner: distance 21 * sqrt 2 = 29.7 -> 1.
  EXPECT_EQ(s.alpha(30 - 21, 30 - 21), 1);
  EXPECT_EQ(s.alpha(30 - 22, 30 - 22), 0);
  EXPECT_EQ(s.alpha(0, 0), 0);
  EXPECT_EQ(s.alpha(681, 464), 0);
  EXPECT_EQ(s.alpha(30 - 10, 30 - 10), static_cast<int>(30 * (1 - std::sqrt(200.0) / 31)));
}

TEST(WndShadowTest, DegenerateSizesGiveNothing) {
  EXPECT_TRUE(CWndShadow::ComputeShadow(0, 10, 30, 30, 30, 0, 0, 0).empty());
  EXPECT_TRUE(CWndShadow::ComputeShadow(10, -1, 30, 30, 30, 0, 0, 0).empty());
  // A one-pixel window still gets its ring.
  auto one = CWndShadow::ComputeShadow(1, 1, 30, 30, 30, 0, 0, 0x323232);
  ASSERT_EQ(one.size(), 61u * 61u);
  EXPECT_EQ(one[30 * 61 + 29] >> 24, 29u);
  EXPECT_EQ(one[30 * 61 + 30], 0u);
}

TEST(WndShadowTest, ShadowWindowIsThirtyPixelsLargerOnEverySide) {
  CWndShadow shadow;
  EXPECT_EQ(shadow.ShadowRect({200, 150, 822, 555}), (pw::Rect{170, 120, 852, 585}));
}

// ---- The hook on a real window, with recording layered-window calls ----

struct Calls {
  int created = 0, updates = 0, moves = 0, destroyed = 0;
  std::vector<int> shows;
  pw::Rect last_update;
  int last_move_x = 0, last_move_y = 0;
};
Calls g_calls;
Hwnd const kFakeShadow = reinterpret_cast<Hwnd>(0x5);

CWndShadow::Api FakeApi(bool available) {
  CWndShadow::Api api;
  api.available = available ? +[] { return true; } : +[] { return false; };
  api.create = [](Hwnd) {
    ++g_calls.created;
    return kFakeShadow;
  };
  api.update = [](Hwnd, int x, int y, int w, int h, const std::uint32_t* px, bool bottom_up) {
    ++g_calls.updates;
    g_calls.last_update = {x, y, x + w, y + h};
    EXPECT_TRUE(bottom_up);
    EXPECT_NE(px, nullptr);
    return true;
  };
  api.move = [](Hwnd, int x, int y) {
    ++g_calls.moves;
    g_calls.last_move_x = x;
    g_calls.last_move_y = y;
    return true;
  };
  api.show = [](Hwnd, int command) {
    g_calls.shows.push_back(command);
    return true;
  };
  api.destroy = [](Hwnd) {
    ++g_calls.destroyed;
    return true;
  };
  return api;
}

CommonDlg* g_dialog = nullptr;
pw::LResult PlainProc(Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
  return g_dialog != nullptr ? g_dialog->DialogProc(w, m, wp, lp) : 0;
}

class FixedDlg : public CommonDlg {
 public:
  FixedDlg() {
    fixed_size_ = true;
    design_width_ = 622;
    design_height_ = 405;
  }
  int GetDpiX() override { return 96; }
};

class WndShadowScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEL_REQUIRE_XVFB();
    ASSERT_TRUE(pw::InitWindowSystem());
    CWndShadow::ResetForTesting();
    g_calls = Calls();
    g_dialog = &dialog_;
    main_ = pw::CreateDialog({622, 405, L"main"}, nullptr, PlainProc, 0);
    ASSERT_NE(main_, nullptr);
  }
  void TearDown() override {
    if (main_ != nullptr)
      pw::DestroyWindow(main_);
    g_dialog = nullptr;
    CWndShadow::ResetForTesting();
  }
  FixedDlg dialog_;
  Hwnd main_ = nullptr;
};

TEST_F(WndShadowScreenTest, FollowsTheMainWindow) {
  CWndShadow::Api api = FakeApi(true);
  ASSERT_TRUE(CWndShadow::Initialize(nullptr, &api));
  EXPECT_FALSE(CWndShadow::Initialize(nullptr, &api)) << "only once per process";
  auto shadow = std::make_unique<CWndShadow>();
  shadow->Create(main_);
  shadow->Create(main_);  // acts the first time only
  EXPECT_EQ(g_calls.created, 1);
  EXPECT_EQ(shadow->status(),
            CWndShadow::kEnabled | CWndShadow::kShadowVisible | CWndShadow::kParentVisible);
  pw::Rect main = pw::GetWindowRect(main_);
  EXPECT_EQ(g_calls.updates, 1);
  EXPECT_EQ(g_calls.last_update,
            (pw::Rect{main.left - 30, main.top - 30, main.right + 30, main.bottom + 30}));
  EXPECT_EQ(g_calls.last_update.width(), 682);
  EXPECT_EQ(g_calls.last_update.height(), 465);

  // Moving only repositions.
  pw::MoveWindow(main_, 100, 80, 622, 405, false);
  EXPECT_EQ(g_calls.last_move_x, 70);
  EXPECT_EQ(g_calls.last_move_y, 50);
  EXPECT_EQ(g_calls.updates, 1);

  // Minimising hides it; restoring shows it with a fresh bitmap.
  pw::SendMessage(main_, pw::kWmSize, pw::kSizeMinimized, 0);
  EXPECT_EQ(g_calls.shows.back(), pw::kSwHide);
  EXPECT_FALSE(shadow->status() & CWndShadow::kShadowVisible);
  pw::SendMessage(main_, pw::kWmSize, pw::kSizeRestored, pw::MakeLParam(622, 405));
  EXPECT_EQ(g_calls.shows.back(), pw::kSwShowNa);
  EXPECT_EQ(g_calls.updates, 2);
  EXPECT_TRUE(shadow->status() & CWndShadow::kShadowVisible);

  // Growing defers the bitmap to the next paint; shrinking redoes it at once.
  pw::SendMessage(main_, pw::kWmSize, pw::kSizeRestored, pw::MakeLParam(622, 580));
  EXPECT_TRUE(shadow->update_pending());
  int before = g_calls.updates;
  pw::SendMessage(main_, pw::kWmPaint, 0, 0);
  EXPECT_EQ(g_calls.updates, before + 1);
  EXPECT_FALSE(shadow->update_pending());
  pw::SendMessage(main_, pw::kWmSize, pw::kSizeRestored, pw::MakeLParam(622, 405));
  EXPECT_EQ(g_calls.updates, before + 2);

  // Hiding the main window hides the shadow.
  pw::ShowWindow(main_, pw::kSwHide);
  EXPECT_EQ(g_calls.shows.back(), pw::kSwHide);
  EXPECT_EQ(shadow->status() & (CWndShadow::kShadowVisible | CWndShadow::kParentVisible), 0);

  // The shadow window goes with the main window.
  pw::DestroyWindow(main_);
  main_ = nullptr;
  EXPECT_EQ(g_calls.destroyed, 1);
}

TEST_F(WndShadowScreenTest, WithoutLayeredWindowsNothingIsMade) {
  CWndShadow::Api api = FakeApi(false);
  EXPECT_FALSE(CWndShadow::Initialize(nullptr, &api));
  CWndShadow shadow;
  pw::WindowProc before = pw::GetWindowProc(main_);
  shadow.Create(main_);
  EXPECT_EQ(g_calls.created, 0);
  EXPECT_EQ(pw::GetWindowProc(main_), before);
  EXPECT_EQ(shadow.shadow_window(), nullptr);
  // Xvfb has no compositor: the real platform says the same.
  CWndShadow::ResetForTesting();
  EXPECT_FALSE(CWndShadow::Initialize(nullptr));
}

TEST_F(WndShadowScreenTest, AShadowDestroyedFirstUnhooksTheWindow) {
  CWndShadow::Api api = FakeApi(true);
  ASSERT_TRUE(CWndShadow::Initialize(nullptr, &api));
  pw::WindowProc before = pw::GetWindowProc(main_);
  {
    CWndShadow shadow;
    shadow.Create(main_);
    EXPECT_NE(pw::GetWindowProc(main_), before);
  }
  EXPECT_EQ(pw::GetWindowProc(main_), before);
  // Messages still reach the dialog.
  pw::SendMessage(main_, pw::kWmMove, 0, 0);
  EXPECT_EQ(g_calls.destroyed, 1);
}

}  // namespace
}  // namespace zel
