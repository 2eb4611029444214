// The base of every skinned window: turns the window's messages into virtual
// operations, centres the window at its DPI-scaled design size, ends the
// dialog on OK/Cancel and lets the user drag the window by any point that no
// painted control claims. Also the skin pictures: bitmap resources of the
// program, kept with a copy of their pixels for the per-pixel painters.
#ifndef ZEL_UI_COMMON_DLG_H_
#define ZEL_UI_COMMON_DLG_H_

#include <cstdint>
#include <vector>

#include "platform/canvas.h"
#include "platform/window.h"

namespace zel {

using platform::Hwnd;
using platform::LParam;
using platform::WParam;

class CommonDlg {
 public:
  // Close flag bits.
  static constexpr std::uint32_t kCloseOnCancel = 1;
  static constexpr std::uint32_t kCloseOnOk = 2;

  CommonDlg() = default;
  CommonDlg(const CommonDlg&) = delete;
  CommonDlg& operator=(const CommonDlg&) = delete;

  virtual ~CommonDlg() = default;
  // Stores the handle and centres the window on the primary screen; with the
  // fixed-size flag the window takes Scale(design size). Returns 1.
  virtual int OnInitDialog(Hwnd window);
  // The dispatcher: OnMessage first for every message, then the per-message
  // handling (init, create, paint, OK/Cancel, press capture or drag).
  virtual int DialogProc(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam);
  virtual int OnMessage(std::uint32_t message, WParam wparam, LParam lparam);
  virtual int OnCommand(WParam wparam, LParam lparam);
  // A spare hook for derived windows; nothing in the base calls it.
  virtual int OnNotify(WParam wparam, LParam lparam);
  virtual void OnPaint();
  virtual void OnCreate();
  // Logical pixels per inch of the window's screen.
  virtual int GetDpiX();
  // value * GetDpiX() / 96, multiplication first.
  virtual int Scale(int value);
  virtual void FillColor(platform::Canvas* dc, const platform::Rect& rect,
                         platform::ColorRef colour);

  Hwnd window() const { return window_; }
  bool fixed_size() const { return fixed_size_; }
  int design_width() const { return design_width_; }
  int design_height() const { return design_height_; }
  std::uint32_t close_flags() const { return close_flags_; }

  // Where OnInitDialog puts a window: |window_rect| (or the scaled design
  // rectangle) centred on a |screen_width| x |screen_height| screen.
  static platform::Rect CentredRect(int screen_width, int screen_height,
                                    const platform::Rect& window_rect);

 protected:
  Hwnd window_ = nullptr;
  bool fixed_size_ = false;
  int design_width_ = 0;
  int design_height_ = 0;
  std::uint32_t close_flags_ = kCloseOnCancel | kCloseOnOk;
};

// One skin picture with a copy of its pixels (0x00RRGGBB, rows top-down).
class BMData {
 public:
  BMData() = default;
  BMData(const BMData&) = delete;
  BMData& operator=(const BMData&) = delete;
  virtual ~BMData() = default;

  // Replaces what is held by picture |resource_id|; false (and nothing
  // held) when it cannot be loaded.
  bool Load(int resource_id);

  int width() const { return width_; }
  int height() const { return height_; }
  const std::uint32_t* pixels() const { return pixels_.empty() ? nullptr : pixels_.data(); }
  const platform::BitmapHandle& bitmap() const { return bitmap_; }

 private:
  platform::BitmapHandle bitmap_;
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> pixels_;
};

// Resource type of the skin pictures.
inline constexpr const char kSkinBitmapType[] = "BITMAP";

// The program's picture resource |resource_id|; null (and a log line) when
// it is missing or unreadable.
platform::BitmapHandle LoadSkinBitmap(int resource_id);

// Debugger output (OutputDebugString's role): written to standard error
// when ZEL_DEBUG_TRACE is set.
void DebugTrace(const char* text);

}  // namespace zel

#endif  // ZEL_UI_COMMON_DLG_H_
