#include "ui/common_dlg.h"

#include <cstdio>
#include <cstdlib>

#include "platform/resources.h"
#include "shell/log.h"

namespace zel {

namespace pw = platform;

int CommonDlg::OnInitDialog(Hwnd window) {
  window_ = window;
  pw::Rect rect = pw::GetWindowRect(window_);
  if (fixed_size_)
    rect = {0, 0, Scale(design_width_), Scale(design_height_)};
  pw::Rect placed = CentredRect(pw::ScreenWidth(), pw::ScreenHeight(), rect);
  pw::MoveWindow(window_, placed.left, placed.top, placed.width(), placed.height(), false);
  return 1;
}

pw::Rect CommonDlg::CentredRect(int screen_width, int screen_height, const pw::Rect& rect) {
  int left = (screen_width + rect.left - rect.right) / 2;
  int top = (screen_height + rect.top - rect.bottom) / 2;
  return {left, top, left + rect.width(), top + rect.height()};
}

int CommonDlg::DialogProc(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam) {
  // Messages before WM_INITDIALOG (WM_CREATE) already need the handle.
  if (window_ == nullptr)
    window_ = window;
  int result = OnMessage(message, wparam, lparam);
  switch (message) {
    case pw::kWmInitDialog:
      OnInitDialog(window);
      return 1;
    case pw::kWmCreate:
      OnCreate();
      return 1;
    case pw::kWmPaint:
      OnPaint();
      return result;
    case pw::kWmCommand: {
      int id = pw::LoWord(wparam);
      if ((id == pw::kIdOk && (close_flags_ & kCloseOnOk)) ||
          (id == pw::kIdCancel && (close_flags_ & kCloseOnCancel))) {
        pw::EndDialog(window_, 0);
        return 1;
      }
      return OnCommand(wparam, lparam);
    }
    case pw::kWmLButtonDown:
      if (result != 0) {
        DebugTrace("WM_LBUTTONDOWN  SetCapture\n");
        pw::SetCapture(window_);
      } else {
        int x = pw::XFromLParam(lparam), y = pw::YFromLParam(lparam);
        pw::ClientToScreen(window_, &x, &y);
        pw::SendMessage(window_, pw::kWmNcLButtonDown, pw::kHtCaption, pw::MakeLParam(x, y));
      }
      return result;
    case pw::kWmLButtonUp:
      DebugTrace("WM_LBUTTONDOWN  ReleaseCapture\n");
      pw::ReleaseCapture();
      return result;
    default:
      return result;
  }
}

int CommonDlg::OnMessage(std::uint32_t, WParam, LParam) {
  return 0;
}
int CommonDlg::OnCommand(WParam, LParam) {
  return 0;
}
int CommonDlg::OnNotify(WParam, LParam) {
  return 0;
}
void CommonDlg::OnPaint() {}
void CommonDlg::OnCreate() {}

int CommonDlg::GetDpiX() {
  return pw::WindowDpi(window_);
}

int CommonDlg::Scale(int value) {
  return value * GetDpiX() / 96;
}

void CommonDlg::FillColor(pw::Canvas* dc, const pw::Rect& rect, pw::ColorRef colour) {
  if (dc != nullptr)
    dc->FillRect(rect, colour);
}

bool BMData::Load(int resource_id) {
  bitmap_.reset();
  width_ = height_ = 0;
  pixels_.clear();
  pw::BitmapHandle picture = LoadSkinBitmap(resource_id);
  if (!picture)
    return false;
  std::size_t count = static_cast<std::size_t>(picture->width()) * picture->height();
  std::vector<std::uint32_t> pixels;
  try {
    pixels.assign(count, 0);
  } catch (const std::bad_alloc&) {
    WriteLog("BMData::Load(%d): no memory for %zu pixels", resource_id, count);
    return false;
  }
  picture->CopyBits(pixels.data(), count);
  bitmap_ = std::move(picture);
  width_ = bitmap_->width();
  height_ = bitmap_->height();
  pixels_ = std::move(pixels);
  return true;
}

pw::BitmapHandle LoadSkinBitmap(int resource_id) {
  auto bytes = pw::FindResource(resource_id, kSkinBitmapType);
  if (bytes.empty()) {
    WriteLog("LoadSkinBitmap(%d): no such picture resource", resource_id);
    return nullptr;
  }
  pw::BitmapHandle picture = pw::Bitmap::Decode(bytes);
  if (!picture) {
    WriteLog("LoadSkinBitmap(%d): the picture resource is unreadable (%zu bytes)", resource_id,
             bytes.size());
  }
  return picture;
}

void DebugTrace(const char* text) {
  static const bool enabled = std::getenv("ZEL_DEBUG_TRACE") != nullptr;
  if (enabled && text != nullptr)
    std::fputs(text, stderr);
}

}  // namespace zel
