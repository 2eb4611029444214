#include "ui/common_ctrl.h"

#include <algorithm>
#include <cmath>

namespace zel {

namespace pw = platform;

// ---- CommonRect ----

void CommonRect::Set(int left, int top, int right, int bottom) {
  left_ = left;
  top_ = top;
  right_ = right;
  bottom_ = bottom;
  origin_ = {0, 0, right_ - left_, bottom_ - top_};
}

void CommonRect::Inset(int n) {
  Set(std::max(0, left_ + n), std::max(0, top_ + n), right_ - n, bottom_ - n);
}

// ---- CommonCtrl ----

CommonCtrl::CommonCtrl(Hwnd owner, int left, int top, int right, int bottom)
    : owner_(owner), rect_(left, top, right, bottom) {}

void CommonCtrl::SetId(int id) {
  id_ = id;
}
int CommonCtrl::GetId() {
  return id_;
}

void CommonCtrl::SetCaption(const std::wstring& text) {
  std::lock_guard<std::mutex> hold(lock_);
  text_ = text;
}

std::wstring CommonCtrl::GetCaption() {
  std::lock_guard<std::mutex> hold(lock_);
  return text_;
}

void CommonCtrl::SetFont(FontHandle font) {
  std::lock_guard<std::mutex> hold(lock_);
  font_ = std::move(font);
}

void CommonCtrl::SetTextColor(ColorRef colour) {
  text_color_ = colour;
}
void CommonCtrl::SetFormat(unsigned format) {
  format_ = format;
}

void CommonCtrl::FillSolid(pw::Canvas* dc, const pw::Rect& rect, ColorRef colour) {
  if (dc != nullptr)
    dc->FillRect(rect, colour);
}

void CommonCtrl::SetVisible(bool visible) {
  visible_ = visible;
}
bool CommonCtrl::IsVisible() {
  return visible_;
}
void CommonCtrl::SetEnabled(bool enabled) {
  enabled_ = enabled;
}
bool CommonCtrl::IsEnabled() {
  return enabled_;
}
Hwnd CommonCtrl::GetOwnerWindow() {
  return owner_;
}

CommonRect CommonCtrl::GetRect() {
  std::lock_guard<std::mutex> hold(lock_);
  return rect_;
}

void CommonCtrl::SetRect(int left, int top, int right, int bottom) {
  std::lock_guard<std::mutex> hold(lock_);
  rect_.Set(left, top, right, bottom);
}

bool CommonCtrl::HitTest(int x, int y) {
  CommonRect r = GetRect();
  return r.left() <= x && x <= r.right() && r.top() <= y && y <= r.bottom();
}

void CommonCtrl::SetDrawPictures(int draw) {
  draw_pictures_ = draw;
}
int CommonCtrl::GetDrawPictures() {
  return draw_pictures_;
}

void CommonCtrl::SetStateColors(ColorRef normal, ColorRef hover, ColorRef pressed,
                                ColorRef disabled) {
  std::lock_guard<std::mutex> hold(lock_);
  state_colors_ = {normal, hover, pressed, disabled};
}

void CommonCtrl::SetStatePictures(BitmapHandle normal, BitmapHandle hover, BitmapHandle pressed,
                                  BitmapHandle disabled) {
  std::lock_guard<std::mutex> hold(lock_);
  pictures_ = {std::move(normal), std::move(hover), std::move(pressed), std::move(disabled)};
}

int CommonCtrl::DrawPictureAt(pw::Canvas* dc, const BitmapHandle& picture, int x, int y, int width,
                              int height) {
  if (dc == nullptr || !picture)
    return 1;
  dc->DrawBitmap(*picture, x, y, width, height);
  return 0;
}

int CommonCtrl::DrawPicture(pw::Canvas* dc, const BitmapHandle& picture) {
  CommonRect r = GetRect();
  return DrawPictureAt(dc, picture, r.left(), r.top(), r.Width(), r.Height());
}

CommonCtrl::Look CommonCtrl::Snapshot() {
  std::lock_guard<std::mutex> hold(lock_);
  return {rect_, text_, font_, pictures_, state_colors_};
}

// The text is drawn straight into the owner's off-screen frame, which the
// owner copies to the window itself; nothing needs invalidating.
void CommonCtrl::DrawTextIn(pw::Canvas* dc, const std::wstring& text, pw::Rect rect,
                            const FontHandle& font) {
  if (dc == nullptr || text.empty())
    return;
  dc->DrawText(text, &rect, format_, font.get(), text_color_);
}

int CommonCtrl::RequestRepaint() {
  pw::InvalidateRect(owner_, nullptr);
  return 1;
}

// ---- StaticCtrl ----

int StaticCtrl::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  if (dc == nullptr)
    return RequestRepaint();
  Look look = Snapshot();
  if (draw_pictures_ != 0)
    DrawPicture(dc, look.pictures[0]);
  pw::Rect area = look.rect.rect();
  unsigned format = format_;
  if ((format & pw::kDtEditControl) && !look.text.empty()) {
    // Centres wrapped text vertically.
    pw::Rect measured = pw::MeasureText(look.text, area, format, look.font.get());
    if (measured.height() < area.height())
      area.top += (area.height() - measured.height()) / 2;
  }
  DrawTextIn(dc, look.text, area, look.font);
  return 1;
}

// ---- ProcessCtrl ----

void ProcessCtrl::SetRange(int minimum, int maximum) {
  minimum_ = minimum;
  maximum_ = maximum;
}

void ProcessCtrl::SetPos(int position) {
  position_ = position;
  Draw(nullptr);
}

void ProcessCtrl::SetBorder(int width, ColorRef colour) {
  border_width_ = width;
  border_color_ = colour;
}

void ProcessCtrl::SetBarColors(ColorRef done, ColorRef remaining) {
  done_color_ = done;
  remaining_color_ = remaining;
}

int ProcessCtrl::FilledWidth(int position, int minimum, int maximum, int inset_width) {
  // An empty range or a position outside it would divide by zero or paint
  // outside the bar.
  if (maximum == minimum || inset_width <= 0)
    return 0;
  double filled = (static_cast<double>(position) - minimum) * 1.0 * inset_width /
                  (static_cast<double>(maximum) - minimum);
  return static_cast<int>(std::clamp(std::trunc(filled), 0.0, static_cast<double>(inset_width)));
}

int ProcessCtrl::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  if (dc == nullptr)
    return RequestRepaint();
  Look look = Snapshot();
  CommonRect inset = look.rect;
  int border = border_width_;
  if (border > 0) {
    FillSolid(dc, look.rect.rect(), border_color_);
    inset.Inset(border);
  }
  int filled = FilledWidth(position_, minimum_, maximum_, inset.Width());
  if (draw_pictures_ != 0) {
    if (look.pictures[0]) {
      DrawPictureAt(dc, look.pictures[0], inset.left(), inset.top(), inset.Width(), inset.Height());
    }
    if (look.pictures[1]) {
      DrawPictureAt(dc, look.pictures[1], inset.left(), inset.top(), filled, inset.Height());
    }
  } else {
    FillSolid(dc, {inset.left(), inset.top(), inset.left() + filled, inset.bottom()}, done_color_);
    FillSolid(dc, {inset.left() + filled, inset.top(), inset.right(), inset.bottom()},
              remaining_color_);
  }
  return 1;
}

// ---- ButtonCtrlEx ----

ButtonCtrlEx::ButtonCtrlEx(Hwnd owner, int left, int top, int right, int bottom)
    : CommonCtrl(owner, left, top, right, bottom) {
  state_colors_ = {0x333333, 0x666666, 0x111111, 0x999999};
}

void ButtonCtrlEx::SetEnabled(bool enabled) {
  enabled_ = enabled;
  if (!enabled)
    state_ = kStateDisabled;
}

BitmapHandle ButtonCtrlEx::PickLook(const Look& look, const std::array<BitmapHandle, 4>& pictures) {
  int s = state_;
  if (s < 0 || s > 3)
    return nullptr;
  text_color_ = look.state_colors[s];
  return pictures[s];
}

int ButtonCtrlEx::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  Look look = Snapshot();
  BitmapHandle picture = PickLook(look, look.pictures);
  if (dc == nullptr)
    return 0;
  if (draw_pictures_ != 0)
    DrawPicture(dc, picture);
  if (look.text.empty())
    return 1;
  DrawTextIn(dc, look.text, look.rect.rect(), look.font);
  return 1;
}

int ButtonCtrlEx::OnMouseMove(int x, int y) {
  if (!enabled_ || !visible_)
    return 0;
  if (HitTest(x, y)) {
    state_ = pressed_ ? kStatePressed : kStateHover;
    return 1;
  }
  state_ = kStateNormal;
  pressed_ = false;
  return 0;
}

int ButtonCtrlEx::OnLButtonDown(int x, int y) {
  if (!enabled_ || !visible_)
    return 0;
  if (HitTest(x, y)) {
    pressed_ = true;
    state_ = kStatePressed;
    return 1;
  }
  state_ = kStateNormal;
  pressed_ = false;
  return 0;
}

int ButtonCtrlEx::OnLButtonUp(int x, int y) {
  if (!enabled_ || !visible_ || !pressed_)
    return 0;
  if (!HitTest(x, y)) {
    pressed_ = false;
    state_ = kStateNormal;
    return 0;
  }
  pressed_ = false;
  state_ = kStateHover;
  pw::SendMessage(owner_, pw::kWmCommand,
                  static_cast<pw::WParam>(static_cast<std::uint32_t>(id_.load())), 0);
  return 1;
}

// ---- ButtonColorCtrlEx ----

void ButtonColorCtrlEx::SetOuterColors(ColorRef normal, ColorRef hover, ColorRef pressed,
                                       ColorRef disabled) {
  outer_[0] = normal;
  outer_[1] = hover;
  outer_[2] = pressed;
  outer_[3] = disabled;
}

void ButtonColorCtrlEx::SetFrameWidth(int width) {
  frame_width_ = width;
}

void ButtonColorCtrlEx::SetInnerColors(ColorRef normal, ColorRef hover, ColorRef pressed,
                                       ColorRef disabled) {
  inner_[0] = normal;
  inner_[1] = hover;
  inner_[2] = pressed;
  inner_[3] = disabled;
}

int ButtonColorCtrlEx::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  Look look = Snapshot();
  int s = state_;
  PickLook(look, look.pictures);
  if (dc == nullptr)
    return 0;
  if (s >= 0 && s <= 3) {
    pw::Rect whole = look.rect.rect();
    if (ColorRef outer = outer_[s]; outer != 0)
      FillSolid(dc, whole, outer);
    if (ColorRef inner = inner_[s]; inner != 0) {
      int f = frame_width_;
      FillSolid(dc, {whole.left + f, whole.top + f, whole.right - f, whole.bottom - f}, inner);
    }
  }
  if (look.text.empty())
    return 1;
  DrawTextIn(dc, look.text, look.rect.rect(), look.font);
  return 1;
}

// ---- HyLinkCtrlEx ----

void HyLinkCtrlEx::SetHoverFont(FontHandle font) {
  std::lock_guard<std::mutex> hold(lock_);
  hover_font_ = std::move(font);
}

int HyLinkCtrlEx::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  Look look = Snapshot();
  FontHandle hover;
  {
    std::lock_guard<std::mutex> hold(lock_);
    hover = hover_font_;
  }
  BitmapHandle picture = PickLook(look, look.pictures);
  if (dc == nullptr)
    return 0;
  if (draw_pictures_ != 0)
    DrawPicture(dc, picture);
  if (look.text.empty())
    return 1;
  int s = state_;
  bool hot = s == kStateHover || s == kStatePressed;
  DrawTextIn(dc, look.text, look.rect.rect(), hot ? hover : look.font);
  return 1;
}

// ---- CheckButtonCtrl ----

void CheckButtonCtrl::SetChecked(bool checked) {
  checked_ = checked;
}
bool CheckButtonCtrl::IsChecked() {
  return checked_;
}

void CheckButtonCtrl::SetCheckedPictures(BitmapHandle normal, BitmapHandle hover,
                                         BitmapHandle pressed, BitmapHandle disabled) {
  std::lock_guard<std::mutex> hold(lock_);
  checked_pictures_ = {std::move(normal), std::move(hover), std::move(pressed),
                       std::move(disabled)};
}

std::array<BitmapHandle, 4> CheckButtonCtrl::CurrentPictures() {
  std::lock_guard<std::mutex> hold(lock_);
  return checked_ ? checked_pictures_ : pictures_;
}

int CheckButtonCtrl::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  Look look = Snapshot();
  BitmapHandle picture = PickLook(look, CurrentPictures());
  if (dc == nullptr)
    return 0;
  if (draw_pictures_ != 0)
    DrawPicture(dc, picture);
  if (look.text.empty())
    return 1;
  DrawTextIn(dc, look.text, look.rect.rect(), look.font);
  return 1;
}

// ---- CheckButtonCtrlEx ----

void CheckButtonCtrlEx::SetBoxPlacement(int x, int y, int width, int height) {
  std::lock_guard<std::mutex> hold(lock_);
  box_ = {x, y, x + width, y + height};
}

void CheckButtonCtrlEx::SetTextPlacement(int x, int y, int width, int height) {
  std::lock_guard<std::mutex> hold(lock_);
  text_ = {x, y, x + width, y + height};
}

int CheckButtonCtrlEx::Draw(pw::Canvas* dc) {
  if (!visible_)
    return 0;
  Look look = Snapshot();
  pw::Rect box, text;
  {
    std::lock_guard<std::mutex> hold(lock_);
    box = box_;
    text = text_;
  }
  BitmapHandle picture = PickLook(look, CurrentPictures());
  if (dc == nullptr)
    return 0;
  int left = look.rect.left(), top = look.rect.top();
  if (draw_pictures_ != 0) {
    DrawPictureAt(dc, picture, left + box.left, top + box.top, box.width(), box.height());
  }
  if (look.text.empty())
    return 1;
  DrawTextIn(dc, look.text,
             {left + text.left, top + text.top, left + text.right, top + text.bottom}, look.font);
  return 1;
}

// ---- Owners ----

int ForwardMouseMessage(const std::vector<ButtonCtrlEx*>& controls, std::uint32_t message,
                        pw::WParam wparam, pw::LParam lparam, bool* mouse_down) {
  int x = pw::XFromLParam(lparam), y = pw::YFromLParam(lparam);
  int sum = 0;
  switch (message) {
    case pw::kWmMouseMove: {
      bool held = (wparam & pw::kMkLButton) || (mouse_down != nullptr && *mouse_down);
      for (ButtonCtrlEx* c : controls) {
        if (held) {
          c->OnLButtonDown(x, y);
        } else {
          c->OnLButtonUp(x, y);
        }
      }
      for (ButtonCtrlEx* c : controls)
        c->OnMouseMove(x, y);
      return 0;
    }
    case pw::kWmLButtonDown:
      if (mouse_down != nullptr)
        *mouse_down = true;
      for (ButtonCtrlEx* c : controls)
        sum += c->OnLButtonDown(x, y);
      return sum;
    case pw::kWmLButtonUp:
      if (mouse_down != nullptr)
        *mouse_down = false;
      for (ButtonCtrlEx* c : controls)
        sum += c->OnLButtonUp(x, y);
      return sum;
    default:
      return 0;
  }
}

}  // namespace zel
