#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/ui/xvfb_display.h"

namespace zel::platform {
namespace {

struct Seen {
  std::vector<std::uint32_t> messages;
  std::vector<int> commands;
  std::thread::id command_thread;
  LParam init_param = 0;
};
Seen g_seen;

LResult Recorder(Hwnd w, std::uint32_t m, WParam wp, LParam lp) {
  g_seen.messages.push_back(m);
  if (m == kWmInitDialog)
    g_seen.init_param = lp;
  if (m == kWmCommand) {
    g_seen.commands.push_back(LoWord(wp));
    g_seen.command_thread = std::this_thread::get_id();
    if (LoWord(wp) == 77)
      EndDialog(w, 42);
    return 1;
  }
  return 0;
}

class WindowScreenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZEL_REQUIRE_XVFB();
    ASSERT_TRUE(InitWindowSystem());
    g_seen = Seen();
  }
};

TEST_F(WindowScreenTest, ModalLoopEndsFromAnotherThreadWithItsResult) {
  std::atomic<Hwnd> window{nullptr};
  std::thread other([&] {
    // Wait for the dialog, then send it a command from this thread.
    for (int i = 0; i < 200 && g_seen.messages.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  auto proc = [](Hwnd w, std::uint32_t m, WParam wp, LParam lp) -> LResult {
    if (m == kWmInitDialog) {
      // Sent from a worker: handled on the window thread, the sender waits.
      std::thread([w] { SendMessage(w, kWmCommand, 77, 0); }).detach();
    }
    return Recorder(w, m, wp, lp);
  };
  LResult r = DialogBox({200, 100, L"modal"}, nullptr, proc, 1234);
  other.join();
  EXPECT_EQ(r, 42);
  EXPECT_EQ(g_seen.init_param, 1234);
  EXPECT_EQ(g_seen.commands, std::vector<int>{77});
  EXPECT_EQ(g_seen.command_thread, std::this_thread::get_id());
  EXPECT_EQ(window.load(), nullptr);
}

TEST_F(WindowScreenTest, ChildControlsHoldTheirContent) {
  Hwnd w = CreateDialog({400, 300, L"children"}, nullptr, Recorder, 0);
  ASSERT_NE(w, nullptr);
  Hwnd edit = CreateEditBox(w, {44, 60, 349, 86}, 0x50800024);
  ASSERT_NE(edit, nullptr);
  SetWindowFont(edit, CreateFont({L"\u5FAE\u8F6F\u96C5\u9ED1", -14}));
  SetEditTextRect(edit, {4, 1, 305, 26});
  ASSERT_TRUE(SetWindowText(edit, L"/opt/Brondel/Telviska \u6C49"));
  EXPECT_EQ(GetWindowText(edit), L"/opt/Brondel/Telviska \u6C49");
  EXPECT_TRUE(IsWindowVisible(edit));
  ShowWindow(edit, kSwHide);
  EXPECT_FALSE(IsWindowVisible(edit));

  Hwnd list = CreateListView(w, 1001, {0, 100, 400, 200}, {{L"Num", 100}, {L"Url", 200}});
  ASSERT_NE(list, nullptr);
  ListViewAddRow(list, {L"0", L"http://127.0.0.1/a"});
  ListViewAddRow(list, {L"1"});
  EXPECT_EQ(ListViewRowCount(list), 2);
  EXPECT_EQ(ListViewRow(list, 0), (std::vector<std::wstring>{L"0", L"http://127.0.0.1/a"}));
  ListViewDeleteAll(list);
  EXPECT_EQ(ListViewRowCount(list), 0);

  Hwnd log = CreateListBox(w, 1005, {0, 200, 400, 300});
  // A worker's line never waits for this (busy) thread; it shows up once
  // messages are served.
  std::thread([log] { ListBoxAddString(log, L"from a worker"); }).join();
  for (int i = 0; i < 50 && ListBoxCount(log) == 0; ++i)
    PumpMessages(10);
  EXPECT_EQ(ListBoxCount(log), 1);

  Hwnd button = CreatePushButton(w, 1006, L"Info", {7, 24, 57, 38});
  ASSERT_NE(button, nullptr);
  if (test::HaveXdotool()) {
    PumpMessages(200);
    Rect r = GetWindowRect(button);
    test::Xdotool("mousemove " + std::to_string(r.left + 10) + " " + std::to_string(r.top + 6) +
                  " click 1");
    for (int i = 0; i < 100 && g_seen.commands.empty(); ++i)
      PumpMessages(10);
    EXPECT_EQ(g_seen.commands, std::vector<int>{1006});
  }
  DestroyWindow(w);
  EXPECT_FALSE(IsWindow(edit)) << "children go with their parent";
  EXPECT_EQ(GetWindowText(edit), L"");
  EXPECT_EQ(ListViewRowCount(list), 0);
}

TEST_F(WindowScreenTest, PaintedFramesReachTheScreen) {
  Hwnd w = CreateDialog({120, 80, L"frame"}, nullptr, Recorder, 0);
  ASSERT_NE(w, nullptr);
  MoveWindow(w, 50, 40, 120, 80, true);
  Canvas frame(120, 80);
  frame.FillRect({0, 0, 120, 80}, 0xB5474A);
  std::thread([&] { CopyToWindow(w, frame, 0, 0, 120, 80); }).join();
  std::unique_ptr<Canvas> shot;
  for (int i = 0; i < 100; ++i) {
    PumpMessages(20);
    shot = CaptureScreen({50, 40, 170, 120});
    if (shot && shot->PixelAt(60, 40) == 0x4A47B5)
      break;
  }
  ASSERT_TRUE(shot);
  EXPECT_EQ(shot->PixelAt(0, 0), 0x4A47B5u);
  EXPECT_EQ(shot->PixelAt(119, 79), 0x4A47B5u);
  EXPECT_EQ(CaptureWindow(w)->PixelAt(60, 40), 0x4A47B5u);
  DestroyWindow(w);
}

}  // namespace
}  // namespace zel::platform
