#include "ui/skin_message_box.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/text.h"
#include "platform/window.h"
#include "shell/log.h"
#include "tests/common/sandbox.h"
#include "tests/ui/xvfb_display.h"

namespace zel {
namespace {

namespace pw = platform;

constexpr std::uint32_t kBandPixel = pw::ColorRefToPixel(0xB5474A);    // 0x4A47B5
constexpr std::uint32_t kBottomPixel = pw::ColorRefToPixel(0xFDFBF7);  // 0xF7FBFD
const wchar_t kMessage[] =
    L"There is not enough free space on the selected drive. Free some space or choose another "
    L"folder, then try again.";

bool IsInk(std::uint32_t p) {
  int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
  return r < 160 && g < 160 && b < 160;
}

// Rows of |frame| inside |area| that hold text ink, grouped into lines.
int InkLines(const pw::Canvas& frame, const pw::Rect& area) {
  int lines = 0;
  bool in_line = false;
  for (int y = area.top; y < area.bottom; ++y) {
    bool ink = false;
    for (int x = area.left; x < area.right && !ink; ++x)
      ink = IsInk(frame.PixelAt(x, y));
    if (ink && !in_line)
      ++lines;
    in_line = ink;
  }
  return lines;
}

TEST(SkinMessageBoxTest, ComposesBandsIconMessageAndButton) {
  SkinMessageBox box;
  box.SetTexts(L"Telviska", kMessage, L"OK", L"");
  box.CreateControls(nullptr);
  pw::Canvas frame(420, 210);
  box.Compose(&frame);
  EXPECT_EQ(frame.PixelAt(360, 20), kBandPixel);
  EXPECT_EQ(frame.PixelAt(5, 200), kBottomPixel);
  EXPECT_EQ(frame.PixelAt(5, 100), 0xFFFFFFu);
  EXPECT_GE(InkLines(frame, {72, 36, 388, 156}), 2);
  // Nothing of the message outside its 316-pixel column.
  for (int y = 36; y < 156; ++y) {
    EXPECT_FALSE(IsInk(frame.PixelAt(70, y)));
    EXPECT_FALSE(IsInk(frame.PixelAt(390, y)));
  }
  // The second button stays hidden: its place shows the bottom band.
  EXPECT_EQ(frame.PixelAt(380, 190), kBottomPixel);
}

TEST(SkinMessageBoxTest, WithoutAWindowSystemItReturnsAtOnce) {
  // No display in this process: the box logs and the caller goes on.
  const char* display = std::getenv("DISPLAY");
  if (display != nullptr && *display != '\0')
    GTEST_SKIP() << "a display is set";
  ::unsetenv("WAYLAND_DISPLAY");
  static std::string last;
  ILog::Instance().SetSink(+[](const char* line) {
    last = line;
    return 1;
  });
  ShowSkinMessageBox(nullptr, L"t", L"Not enough space", L"OK");
  ILog::Instance().SetSink(nullptr);
  EXPECT_NE(last.find("ShowSkinMessageBox: the box cannot be shown (no window system): "
                      "Not enough space"),
            std::string::npos)
      << last;
}

// ---- On a real X server ----

pw::Rect BoxOnScreen() {
  int left = (test::kScreenWidth - 420) / 2, top = (test::kScreenHeight - 210) / 2;
  return {left, top, left + 420, top + 210};
}

// Waits until the box's bands show at |where|; the screenshot or null.
std::unique_ptr<pw::Canvas> WaitForBox(const pw::Rect& where, int timeout_ms = 5000) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < until) {
    auto shot = pw::CaptureScreen(where);
    if (shot && shot->PixelAt(360, 20) == kBandPixel && shot->PixelAt(5, 200) == kBottomPixel) {
      return shot;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return nullptr;
}

// Runs the box on this thread while |drive| acts on the screen from another;
// a box still open after the driver is done is closed with Escape.
void RunBox(const std::wstring& title, const std::function<void()>& drive) {
  std::atomic<bool> closed{false};
  std::thread driver([&] {
    drive();
    for (int i = 0; i < 100 && !closed; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    while (!closed) {
      ADD_FAILURE() << "the box did not close";
      test::Xdotool("search --name \"" + pw::WideToUtf8(title) + "\" windowfocus key Escape");
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  });
  ShowSkinMessageBox(nullptr, title, kMessage, L"OK");
  closed = true;
  driver.join();
}

class SkinMessageBoxScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEL_REQUIRE_XVFB();
    if (!test::HaveXdotool())
      GTEST_SKIP() << "xdotool is not installed";
    ASSERT_TRUE(pw::InitWindowSystem());
  }
};

TEST_F(SkinMessageBoxScreenTest, ShowsBandMessageButtonAndClosesOnClick) {
  pw::Rect box = BoxOnScreen();
  std::unique_ptr<pw::Canvas> shot;
  RunBox(L"Telviska click", [&] {
    shot = WaitForBox(box);
    if (!shot)
      return;
    if (const char* dir = std::getenv("ZEL_SCREENSHOT_DIR")) {
      shot->SavePng(std::string(dir) + "/skin-message-box.png");
    }
    test::Xdotool("mousemove " + std::to_string(box.left + 210) + " " +
                  std::to_string(box.top + 183) + " click 1");
  });
  ASSERT_TRUE(shot) << "the box never showed";
  // Title band in 0xB5474A (as COLORREF) across the top 36 rows.
  EXPECT_EQ(shot->PixelAt(330, 2), kBandPixel);
  EXPECT_EQ(shot->PixelAt(330, 35), kBandPixel);
  EXPECT_NE(shot->PixelAt(330, 36), kBandPixel);
  // The wrapped message: at least two lines inside the message area.
  EXPECT_GE(InkLines(*shot, {72, 36, 388, 156}), 2);
  // The button: its picture covers the button rectangle.
  int button = 0;
  for (int y = 170; y < 196; ++y) {
    for (int x = 165; x < 255; ++x) {
      std::uint32_t p = shot->PixelAt(x, y);
      button += p != 0xFFFFFF && p != kBottomPixel;
    }
  }
  EXPECT_GT(button, 80 * 20);
}

TEST_F(SkinMessageBoxScreenTest, EscapeClosesTheBox) {
  bool shown = false;
  RunBox(L"Telviska escape", [&] {
    shown = WaitForBox(BoxOnScreen()) != nullptr;
    test::Xdotool("search --name \"Telviska escape\" windowfocus key Escape");
  });
  EXPECT_TRUE(shown);
}

TEST_F(SkinMessageBoxScreenTest, TitleBandDragsTheBoxAndAStrayReleaseDoesNothing) {
  pw::Rect box = BoxOnScreen();
  bool shown = false, open_after_stray = false, moved = false;
  RunBox(L"Telviska drag", [&] {
    shown = WaitForBox(box) != nullptr;
    if (!shown)
      return;
    // Press on the button, release outside it: no command, the box stays.
    test::Xdotool("mousemove " + std::to_string(box.left + 210) + " " +
                  std::to_string(box.top + 183) + " mousedown 1 mousemove " +
                  std::to_string(box.left + 100) + " " + std::to_string(box.top + 100) +
                  " mouseup 1");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    open_after_stray = WaitForBox(box, 1000) != nullptr;
    // Drag by the title band, away from the close box.
    int x = box.left + 150, y = box.top + 15;
    test::Xdotool("mousemove " + std::to_string(x) + " " + std::to_string(y) +
                  " mousedown 1 sleep 0.1 mousemove " + std::to_string(x + 40) + " " +
                  std::to_string(y + 30) + " sleep 0.1 mousemove " + std::to_string(x + 80) + " " +
                  std::to_string(y + 60) + " sleep 0.1 mouseup 1");
    pw::Rect there{box.left + 80, box.top + 60, box.right + 80, box.bottom + 60};
    moved = WaitForBox(there, 3000) != nullptr;
    test::Xdotool("search --name \"Telviska drag\" windowfocus key Escape");
  });
  EXPECT_TRUE(shown);
  EXPECT_TRUE(open_after_stray);
  EXPECT_TRUE(moved);
}

}  // namespace
}  // namespace zel
