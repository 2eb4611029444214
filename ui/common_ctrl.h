// Painted controls: labels, buttons, links, check boxes and progress bars
// that are not windows. Each knows its rectangle in the owner's client area,
// draws itself into the canvas the owner paints, and follows the mouse
// through the three calls the owner forwards. A click reaches the owner as
// WM_COMMAND with the control's id.
//
// Owners paint from more than one thread (the window's and a repaint
// thread) while the window's thread changes the controls, so the state that
// painting reads is atomic or kept under the control's own lock.
#ifndef ZEL_UI_COMMON_CTRL_H_
#define ZEL_UI_COMMON_CTRL_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/font.h"
#include "platform/window.h"

namespace zel {

using platform::BitmapHandle;
using platform::ColorRef;
using platform::FontHandle;
using platform::Hwnd;

class CommonRect {
 public:
  CommonRect() = default;
  CommonRect(int left, int top, int right, int bottom) { Set(left, top, right, bottom); }
  virtual ~CommonRect() = default;

  void Set(int left, int top, int right, int bottom);
  // Moves every edge inwards by |n|; left and top never go below 0.
  void Inset(int n);

  int left() const { return left_; }
  int top() const { return top_; }
  int right() const { return right_; }
  int bottom() const { return bottom_; }
  int Width() const { return origin_.right; }
  int Height() const { return origin_.bottom; }
  platform::Rect rect() const { return {left_, top_, right_, bottom_}; }
  // The same size at the origin.
  platform::Rect OriginRect() const { return origin_; }

 private:
  int left_ = 0;
  int top_ = 0;
  int right_ = 0;
  int bottom_ = 0;
  platform::Rect origin_;
};

// Button states.
inline constexpr int kStateNormal = 0;
inline constexpr int kStateHover = 1;
inline constexpr int kStatePressed = 2;
inline constexpr int kStateDisabled = 3;

inline constexpr unsigned kDefaultTextFormat =
    platform::kDtCenter | platform::kDtVCenter | platform::kDtSingleLine;

class CommonCtrl {
 public:
  CommonCtrl(Hwnd owner, int left, int top, int right, int bottom);
  CommonCtrl(const CommonCtrl&) = delete;
  CommonCtrl& operator=(const CommonCtrl&) = delete;
  virtual ~CommonCtrl() = default;

  // Draws into |dc|; without one the owner is asked to repaint. Returns 1
  // when something was drawn or requested, 0 otherwise.
  virtual int Draw(platform::Canvas* dc) = 0;
  virtual void SetId(int id);
  virtual int GetId();
  virtual void SetCaption(const std::wstring& text);
  virtual std::wstring GetCaption();
  virtual void SetFont(FontHandle font);
  virtual void SetTextColor(ColorRef colour);
  virtual void SetFormat(unsigned format);
  virtual void FillSolid(platform::Canvas* dc, const platform::Rect& rect, ColorRef colour);
  virtual void SetVisible(bool visible);
  virtual bool IsVisible();
  virtual void SetEnabled(bool enabled);
  virtual bool IsEnabled();
  virtual Hwnd GetOwnerWindow();
  virtual CommonRect GetRect();
  virtual void SetRect(int left, int top, int right, int bottom);
  // Edges inclusive.
  virtual bool HitTest(int x, int y);
  virtual void SetDrawPictures(int draw);
  virtual int GetDrawPictures();
  virtual void SetStateColors(ColorRef normal, ColorRef hover, ColorRef pressed, ColorRef disabled);
  virtual void SetStatePictures(BitmapHandle normal, BitmapHandle hover, BitmapHandle pressed,
                                BitmapHandle disabled);
  // Copies the picture's top-left |width| x |height| pixels to (x, y).
  // Returns 1 and draws nothing without a canvas or a picture, else 0.
  virtual int DrawPictureAt(platform::Canvas* dc, const BitmapHandle& picture, int x, int y,
                            int width, int height);
  virtual int DrawPicture(platform::Canvas* dc, const BitmapHandle& picture);

  int state() const { return state_.load(); }
  bool pressed() const { return pressed_.load(); }
  ColorRef text_color() const { return text_color_.load(); }
  unsigned format() const { return format_.load(); }

 protected:
  // What painting needs, copied under the lock.
  struct Look {
    CommonRect rect;
    std::wstring text;
    FontHandle font;
    std::array<BitmapHandle, 4> pictures;
    std::array<ColorRef, 4> state_colors{};
  };
  Look Snapshot();
  // Draws |text| in |rect| with the control's format and current colour.
  void DrawTextIn(platform::Canvas* dc, const std::wstring& text, platform::Rect rect,
                  const FontHandle& font);
  // The owner's repaint, for draws without a canvas.
  int RequestRepaint();

  std::mutex lock_;  // guards rect_, text_, font_, pictures_, state_colors_
  std::atomic<int> state_{kStateNormal};
  std::atomic<bool> pressed_{false};
  std::array<ColorRef, 4> state_colors_{};
  std::array<BitmapHandle, 4> pictures_;
  std::atomic<unsigned> format_{kDefaultTextFormat};
  std::atomic<int> id_{-1};
  const Hwnd owner_;
  CommonRect rect_;
  std::wstring text_;
  std::atomic<bool> visible_{true};
  std::atomic<bool> enabled_{true};
  std::atomic<int> draw_pictures_{0};
  FontHandle font_;
  std::atomic<ColorRef> text_color_{0};
};

class StaticCtrl : public CommonCtrl {
 public:
  using CommonCtrl::CommonCtrl;
  int Draw(platform::Canvas* dc) override;
};

class ProcessCtrl : public CommonCtrl {
 public:
  using CommonCtrl::CommonCtrl;
  int Draw(platform::Canvas* dc) override;
  virtual void SetRange(int minimum, int maximum);
  // Stores the position and asks the owner to repaint.
  virtual void SetPos(int position);
  virtual void SetBorder(int width, ColorRef colour);
  virtual void SetBarColors(ColorRef done, ColorRef remaining);

  int position() const { return position_.load(); }
  // Pixels of the inset width that the bar fills at the current position.
  static int FilledWidth(int position, int minimum, int maximum, int inset_width);

 private:
  std::atomic<int> minimum_{0};
  std::atomic<int> maximum_{100};
  std::atomic<int> position_{0};
  std::atomic<int> border_width_{0};
  std::atomic<ColorRef> border_color_{0};
  std::atomic<ColorRef> done_color_{0};
  std::atomic<ColorRef> remaining_color_{0};
};

class ButtonCtrlEx : public CommonCtrl {
 public:
  ButtonCtrlEx(Hwnd owner, int left, int top, int right, int bottom);
  int Draw(platform::Canvas* dc) override;
  // Disabling also shows the disabled look; enabling keeps the look until
  // the next mouse move.
  void SetEnabled(bool enabled) override;
  // Each returns 1 when the event concerns this control.
  virtual int OnMouseMove(int x, int y);
  virtual int OnLButtonDown(int x, int y);
  // A release inside after a press inside sends the owner WM_COMMAND (id)
  // and returns after the owner has handled it.
  virtual int OnLButtonUp(int x, int y);

 protected:
  // The state's picture, or none for a state outside 0 to 3; updates the
  // current text colour.
  BitmapHandle PickLook(const Look& look, const std::array<BitmapHandle, 4>& pictures);
};

class ButtonColorCtrlEx : public ButtonCtrlEx {
 public:
  using ButtonCtrlEx::ButtonCtrlEx;
  int Draw(platform::Canvas* dc) override;
  // A colour of 0 means that fill is skipped.
  virtual void SetOuterColors(ColorRef normal, ColorRef hover, ColorRef pressed, ColorRef disabled);
  virtual void SetFrameWidth(int width);
  virtual void SetInnerColors(ColorRef normal, ColorRef hover, ColorRef pressed, ColorRef disabled);

 private:
  std::array<std::atomic<ColorRef>, 4> inner_{};
  std::array<std::atomic<ColorRef>, 4> outer_{};
  std::atomic<int> frame_width_{0};
};

class HyLinkCtrlEx : public ButtonCtrlEx {
 public:
  using ButtonCtrlEx::ButtonCtrlEx;
  int Draw(platform::Canvas* dc) override;
  virtual void SetHoverFont(FontHandle font);

 private:
  FontHandle hover_font_;  // under lock_
};

class CheckButtonCtrl : public ButtonCtrlEx {
 public:
  using ButtonCtrlEx::ButtonCtrlEx;
  int Draw(platform::Canvas* dc) override;
  // The owner flips the box when it gets the command; a click does not.
  virtual void SetChecked(bool checked);
  virtual bool IsChecked();
  virtual void SetCheckedPictures(BitmapHandle normal, BitmapHandle hover, BitmapHandle pressed,
                                  BitmapHandle disabled);

 protected:
  std::array<BitmapHandle, 4> CurrentPictures();

  std::array<BitmapHandle, 4> checked_pictures_;  // under lock_
  std::atomic<bool> checked_{false};
};

class CheckButtonCtrlEx : public CheckButtonCtrl {
 public:
  using CheckButtonCtrl::CheckButtonCtrl;
  int Draw(platform::Canvas* dc) override;
  // Relative to the control's top-left corner.
  virtual void SetBoxPlacement(int x, int y, int width, int height);
  virtual void SetTextPlacement(int x, int y, int width, int height);

 private:
  platform::Rect box_;   // x, y, x + width, y + height; under lock_
  platform::Rect text_;  // likewise
};

// How owners forward the mouse: on a move with the left button held (or
// after a press the owner saw) every control is offered a press, otherwise
// a release, and then the move; a press and a release are offered as such.
// Returns the sum of the controls' answers (always 0 for a move); a non-zero
// sum on a press means a control took it. |mouse_down| is the owner's flag.
int ForwardMouseMessage(const std::vector<ButtonCtrlEx*>& controls, std::uint32_t message,
                        platform::WParam wparam, platform::LParam lparam, bool* mouse_down);

}  // namespace zel

#endif  // ZEL_UI_COMMON_CTRL_H_
