#include "ui/skin_message_box.h"

#include <chrono>

#include "platform/clock.h"
#include "platform/text.h"
#include "shell/log.h"

namespace zel {

namespace pw = platform;

namespace {

// The one open box: the static dialog procedure and the repaint thread
// reach it through this.
std::atomic<SkinMessageBox*> g_box{nullptr};

constexpr wchar_t kFaceName[] = L"\u5FAE\u8F6F\u96C5\u9ED1";

constexpr ColorRef kWhite = 0xFFFFFF;
constexpr ColorRef kTitleBand = 0xB5474A;
constexpr ColorRef kBottomBand = 0xFDFBF7;
constexpr ColorRef kMessageColour = 0x373737;
constexpr int kTitleBandHeight = 36;
constexpr int kBottomBandHeight = 54;

pw::LResult StaticProc(Hwnd window, std::uint32_t message, pw::WParam wparam, pw::LParam lparam) {
  SkinMessageBox* box = g_box.load();
  return box != nullptr ? box->DialogProc(window, message, wparam, lparam) : 0;
}

}  // namespace

SkinMessageBox::SkinMessageBox() {
  fixed_size_ = true;
  design_width_ = kDesignWidth;
  design_height_ = kDesignHeight;
}

SkinMessageBox::~SkinMessageBox() {
  StopRepaint();
  JoinRepaint();
}

void SkinMessageBox::SetTexts(const std::wstring& title, const std::wstring& message,
                              const std::wstring& button_text,
                              const std::wstring& second_button_text) {
  title_ = title;
  message_ = message;
  button_text_ = button_text;
  second_button_text_ = second_button_text;
}

void SkinMessageBox::CreateControls(Hwnd owner) {
  int dpi_y = pw::WindowDpi(owner);
  font_ = pw::CreateFont({kFaceName, -pw::MulDiv(14, dpi_y, 96)});
  auto picture = [this](int id) {
    BitmapHandle p = LoadSkinBitmap(id);
    pictures_.push_back(p);
    return p;
  };

  title_ctrl_ = std::make_unique<StaticCtrl>(owner, 10, 5, 320, 30);
  title_ctrl_->SetFont(font_);
  title_ctrl_->SetTextColor(kWhite);
  title_ctrl_->SetFormat(pw::kDtVCenter | pw::kDtSingleLine);
  title_ctrl_->SetCaption(title_);

  close_box_ = std::make_unique<ButtonCtrlEx>(owner, 401, 0, 418, 21);
  close_box_->SetId(kCloseBoxId);
  close_box_->SetDrawPictures(1);
  close_box_->SetStatePictures(picture(179), picture(178), picture(180), nullptr);
  close_box_->SetStateColors(kWhite, kWhite, kWhite, kWhite);

  icon_ = std::make_unique<StaticCtrl>(owner, 32, 90, 62, 120);
  icon_->SetDrawPictures(1);
  icon_->SetStatePictures(picture(175), nullptr, nullptr, nullptr);

  message_ctrl_ = std::make_unique<StaticCtrl>(owner, 72, 36, 388, 156);
  message_ctrl_->SetFont(font_);
  message_ctrl_->SetTextColor(kMessageColour);
  message_ctrl_->SetFormat(pw::kDtWordBreak | pw::kDtEditControl);
  message_ctrl_->SetCaption(message_);

  button_ = std::make_unique<ButtonCtrlEx>(owner, 160, 167, 260, 199);
  button_->SetId(kButtonId);
  button_->SetDrawPictures(1);
  button_->SetStatePictures(picture(176), picture(174), picture(177), nullptr);
  button_->SetStateColors(kWhite, kWhite, kWhite, kWhite);
  button_->SetFont(font_);
  button_->SetCaption(button_text_);

  second_button_ = std::make_unique<ButtonCtrlEx>(owner, 310, 167, 410, 199);
  second_button_->SetId(kSecondButtonId);
  second_button_->SetDrawPictures(1);
  second_button_->SetStatePictures(picture(176), picture(174), picture(177), nullptr);
  second_button_->SetStateColors(kWhite, kWhite, kWhite, kWhite);
  second_button_->SetFont(font_);
  second_button_->SetCaption(second_button_text_);
  second_button_->SetVisible(false);

  clickable_ = {close_box_.get(), button_.get(), second_button_.get()};
  drawing_ = {title_ctrl_.get(), icon_.get(),   message_ctrl_.get(),
              close_box_.get(),  button_.get(), second_button_.get()};
}

int SkinMessageBox::OnInitDialog(Hwnd window) {
  CommonDlg::OnInitDialog(window);
  pw::SetWindowText(window, title_);
  CreateControls(window);
  stop_ = false;
  repaint_running_ = true;
  repaint_ = std::thread([this] { RepaintLoop(); });
  return 1;
}

void SkinMessageBox::RepaintLoop() {
  while (g_box.load() == this && !stop_.load()) {
    OnPaint();
    pw::SleepMs(kRepaintIntervalMs);
  }
  std::lock_guard<std::mutex> hold(repaint_lock_);
  repaint_running_ = false;
  repaint_done_.notify_all();
}

int SkinMessageBox::StopRepaint() {
  stop_ = true;
  std::unique_lock<std::mutex> hold(repaint_lock_);
  repaint_done_.wait_for(hold, std::chrono::milliseconds(1000),
                         [this] { return !repaint_running_.load(); });
  return 0;
}

void SkinMessageBox::JoinRepaint() {
  if (repaint_.joinable())
    repaint_.join();
}

void SkinMessageBox::Compose(pw::Canvas* frame) {
  if (frame == nullptr)
    return;
  int w = frame->width(), h = frame->height();
  frame->FillRect({0, 0, w, h}, kWhite);
  frame->FillRect({0, 0, w, kTitleBandHeight}, kTitleBand);
  frame->FillRect({0, h - kBottomBandHeight, w, h}, kBottomBand);
  for (CommonCtrl* c : drawing_)
    c->Draw(frame);
}

void SkinMessageBox::OnPaint() {
  if (!pw::IsWindow(window_))
    return;
  pw::Rect client = pw::GetClientRect(window_);
  // The layout is fixed at 420 x 210; at other DPIs the rest of the larger
  // window is painted white rather than left unpainted.
  int width = std::max(client.width(), kDesignWidth);
  int height = std::max(client.height(), 1);
  pw::Canvas frame(width, height);
  frame.FillRect({0, 0, width, height}, kWhite);
  pw::Canvas box(kDesignWidth, height);
  Compose(&box);
  frame.CopyFrom(box, 0, 0, kDesignWidth, kDesignHeight);
  pw::CopyToWindow(window_, frame, 0, 0, width, height);
}

int SkinMessageBox::OnMessage(std::uint32_t message, WParam wparam, LParam lparam) {
  switch (message) {
    case pw::kWmClose:
      return StopRepaint();
    case pw::kWmEraseBkgnd:
      return 1;
    case pw::kWmMouseMove:
    case pw::kWmLButtonDown:
    case pw::kWmLButtonUp:
      return ForwardMouseMessage(clickable_, message, wparam, lparam, &mouse_down_);
    default:
      return 0;
  }
}

int SkinMessageBox::OnCommand(WParam wparam, LParam) {
  int id = pw::LoWord(wparam);
  if (id == kCloseBoxId || id == kButtonId) {
    pw::SendMessage(window_, pw::kWmClose, 0, 0);
    return 1;
  }
  return 0;
}

void ShowSkinMessageBox(Hwnd owner, const std::wstring& title, const std::wstring& message,
                        const std::wstring& button_text) {
  auto box = std::make_unique<SkinMessageBox>();
  box->SetTexts(title, message, button_text, L"");
  SkinMessageBox* expected = nullptr;
  if (!g_box.compare_exchange_strong(expected, box.get())) {
    WriteLog("ShowSkinMessageBox: a message box is already open; not shown: %s",
             pw::WideToUtf8(message).c_str());
    return;
  }
  pw::DialogTemplate tmpl{SkinMessageBox::kDesignWidth, SkinMessageBox::kDesignHeight, title};
  pw::LResult result = pw::DialogBox(tmpl, owner, StaticProc, 0);
  if (result == -1) {
    const char* why = !pw::InitWindowSystem() ? "no window system"
                      : !pw::IsWindowThread() ? "not called on the window thread"
                                              : "the window cannot be made";
    WriteLog("ShowSkinMessageBox: the box cannot be shown (%s): %s", why,
             pw::WideToUtf8(message).c_str());
  }
  // Escape ends the dialog without WM_CLOSE; the thread must be gone before
  // the box is.
  box->StopRepaint();
  box->JoinRepaint();
  g_box = nullptr;
}

}  // namespace zel
