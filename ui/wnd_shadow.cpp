#include "ui/wnd_shadow.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>
#include <new>

#include "shell/log.h"

namespace zel {

namespace pw = platform;

namespace {

struct Process {
  std::mutex lock;
  bool initialised = false;
  bool available = false;
  CWndShadow::Api api;
  std::map<Hwnd, CWndShadow*> shadows;  // main window -> its shadow
};

Process& State() {
  static Process state;
  return state;
}

CWndShadow* ShadowOf(Hwnd main) {
  Process& p = State();
  std::lock_guard<std::mutex> hold(p.lock);
  auto it = p.shadows.find(main);
  return it == p.shadows.end() ? nullptr : it->second;
}

const CWndShadow::Api& Entry() {
  return State().api;
}

std::uint32_t Premultiplied(pw::ColorRef colour, std::uint32_t alpha) {
  std::uint32_t r = (colour & 0xFF) * alpha / 255;
  std::uint32_t g = ((colour >> 8) & 0xFF) * alpha / 255;
  std::uint32_t b = ((colour >> 16) & 0xFF) * alpha / 255;
  return alpha << 24 | r << 16 | g << 8 | b;
}

struct Span {
  int start;
  int end;  // exclusive
};

bool DefaultMove(Hwnd shadow, int x, int y) {
  pw::Rect r = pw::GetWindowRect(shadow);
  return pw::MoveWindow(shadow, x, y, r.width(), r.height(), false);
}

bool DefaultShow(Hwnd shadow, int command) {
  pw::ShowWindow(shadow, command);
  return true;
}

}  // namespace

CWndShadow::Api CWndShadow::PlatformApi() {
  Api api;
  api.available = pw::LayeredWindowsAvailable;
  api.create = pw::CreateLayeredWindow;
  api.update = pw::UpdateLayeredWindow;
  api.move = DefaultMove;
  api.show = DefaultShow;
  api.destroy = pw::DestroyWindow;
  api.composition_enabled = nullptr;  // no composition service to ask on this platform
  return api;
}

bool CWndShadow::Initialize(void*, const Api* api) {
  Process& p = State();
  std::lock_guard<std::mutex> hold(p.lock);
  if (p.initialised)
    return false;
  p.initialised = true;
  p.api = api != nullptr ? *api : PlatformApi();
  p.available = p.api.available != nullptr && p.api.create != nullptr && p.api.update != nullptr &&
                p.api.move != nullptr && p.api.show != nullptr && p.api.destroy != nullptr &&
                p.api.available();
  return p.available;
}

void CWndShadow::ResetForTesting() {
  Process& p = State();
  std::lock_guard<std::mutex> hold(p.lock);
  p.initialised = false;
  p.available = false;
  p.api = Api();
  p.shadows.clear();
}

CWndShadow::~CWndShadow() {
  // A shadow that goes before its main window unhooks it, so the hook never
  // reaches a dead object.
  if (main_ == nullptr)
    return;
  {
    Process& p = State();
    std::lock_guard<std::mutex> hold(p.lock);
    auto it = p.shadows.find(main_);
    if (it != p.shadows.end() && it->second == this)
      p.shadows.erase(it);
  }
  if (pw::IsWindow(main_) && previous_proc_ != nullptr &&
      pw::GetWindowProc(main_) == &CWndShadow::HookProc) {
    pw::SetWindowProc(main_, previous_proc_);
  }
  if (shadow_ != nullptr && Entry().destroy != nullptr)
    Entry().destroy(shadow_);
}

void CWndShadow::Create(Hwnd main) {
  if (created_ != 0)
    return;
  {
    Process& p = State();
    std::lock_guard<std::mutex> hold(p.lock);
    if (!p.available)
      return;
    created_ = 1;
    main_ = main;
    p.shadows[main] = this;
  }
  shadow_ = Entry().create(main);
  if (shadow_ == nullptr) {
    WriteLog("CWndShadow::Create: the shadow window cannot be made");
    return;
  }
  status_ = kEnabled | kShadowVisible;
  Show(main);
  previous_proc_ = pw::SetWindowProc(main, &CWndShadow::HookProc);
}

void CWndShadow::Show(Hwnd main) {
  if ((status_ & kEnabled) && !(status_ & kDisabledByComposition)) {
    std::uint32_t style = pw::GetWindowStyle(main);
    if (style & pw::kWsVisible) {
      status_ |= kParentVisible;
      if (!(style & (pw::kWsMaximize | pw::kWsMinimize)))
        status_ |= kShadowVisible;
    }
  }
  if (shadow_ == nullptr || Entry().show == nullptr)
    return;
  if (status_ & kShadowVisible) {
    Entry().show(shadow_, pw::kSwShowNa);
    Update(main);
  } else {
    Entry().show(shadow_, pw::kSwHide);
  }
}

pw::Rect CWndShadow::ShadowRect(const pw::Rect& main_rect) const {
  int x = x_offset_ + main_rect.left - size_;
  int y = y_offset_ + main_rect.top - size_;
  return {x, y, x + main_rect.width() + 2 * size_, y + main_rect.height() + 2 * size_};
}

void CWndShadow::Update(Hwnd main) {
  if (shadow_ == nullptr)
    return;
  pw::Rect main_rect = pw::GetWindowRect(main);
  pw::Rect place = ShadowRect(main_rect);
  if (place.width() <= 0 || place.height() <= 0)
    return;
  std::vector<std::uint32_t> pixels;
  try {
    pixels.assign(static_cast<std::size_t>(place.width()) * place.height(), 0);
  } catch (const std::bad_alloc&) {
    return;  // skips this update
  }
  MakeShadow(pixels.data(), main, main_rect);
  Entry().update(shadow_, place.left, place.top, place.width(), place.height(), pixels.data(),
                 true);
}

void CWndShadow::MakeShadow(std::uint32_t* pixels, Hwnd, const pw::Rect& main_rect) {
  // Windows here have no shape region: the full rectangle is the shape.
  std::vector<std::uint32_t> shadow =
      ComputeShadow(main_rect.width(), main_rect.height(), darkness_, sharpness_, size_, x_offset_,
                    y_offset_, colour_);
  std::copy(shadow.begin(), shadow.end(), pixels);
}

std::vector<std::uint32_t> CWndShadow::ComputeShadow(int w, int h, int darkness, int sharpness,
                                                     int size, int x_offset, int y_offset,
                                                     pw::ColorRef colour) {
  if (w <= 0 || h <= 0 || size < 0)
    return {};
  const int W = w + 2 * size, H = h + 2 * size;
  std::vector<std::uint32_t> out(static_cast<std::size_t>(W) * H, 0);
  auto pixel = [&](int row, int column) -> std::uint32_t& {
    return out[static_cast<std::size_t>(H - 1 - row) * W + column];  // rows bottom-up
  };

  // 1. The shape's span per shadow row; rows off the window are empty.
  const Span kEmpty{w, 0};
  std::vector<Span> window_spans(h, Span{0, w});
  std::vector<Span> spans(H, kEmpty);
  for (int y = 0; y < h; ++y)
    spans[y + size] = {window_spans[y].start + size, window_spans[y].end + size};
  auto span_at = [&](const std::vector<Span>& s, int row) {
    return row < 0 || row >= H ? kEmpty : s[row];
  };

  // 2. Erosion to leave room for a soft edge wider than the margin.
  for (int n = 0; n < sharpness - size; ++n) {
    std::vector<Span> eroded(H);
    for (int t = 0; t < H; ++t) {
      Span a = span_at(spans, t - 1), b = spans[t], c = span_at(spans, t + 1);
      eroded[t] = {std::max({a.start, b.start, c.start}) + 1, std::min({a.end, b.end, c.end}) - 1};
    }
    spans = std::move(eroded);
  }

  // 3. The kernel.
  const int r = std::max(sharpness, size);
  const int inner = size > sharpness ? size - sharpness : 0;
  const int k = 2 * r + 1;
  std::vector<std::uint32_t> kernel(static_cast<std::size_t>(k) * k, 0);
  for (int a = 0; a < k; ++a) {
    for (int b = 0; b < k; ++b) {
      double d = std::sqrt(static_cast<double>((a - r) * (a - r) + (b - r) * (b - r)));
      std::uint32_t alpha = 0;
      if (d < inner) {
        alpha = static_cast<std::uint32_t>(darkness);
      } else if (d <= r) {
        alpha = static_cast<std::uint32_t>((1 - (d - inner) / (sharpness + 1)) * darkness);
      } else {
        continue;
      }
      kernel[static_cast<std::size_t>(a) * k + b] = Premultiplied(colour, alpha);
    }
  }
  auto stamp = [&](int row, int column) {
    for (int a = 0; a < k; ++a) {
      int t = row - r + a;
      if (t < 0 || t >= H)
        continue;
      for (int b = 0; b < k; ++b) {
        int x = column - r + b;
        if (x < 0 || x >= W)
          continue;
        std::uint32_t& p = pixel(t, x);
        p = std::max(p, kernel[static_cast<std::size_t>(a) * k + b]);
      }
    }
  };

  // 4. The soft edge, stamped along each row's ends.
  for (int t = r; t <= H - r - 1; ++t) {
    Span s = spans[t];
    if (s.start >= s.end)
      continue;
    Span up = span_at(spans, t - 1), down = span_at(spans, t + 1);
    int x = s.start;
    for (; x <= std::max(up.start, down.start) && x < s.end; ++x)
      stamp(t, x);
    for (x = std::max(x, std::min(up.end, down.end) - 1); x < s.end; ++x)
      stamp(t, x);
  }

  // 5. The solid interior, and nothing under the window itself.
  const std::uint32_t solid = Premultiplied(colour, static_cast<std::uint32_t>(darkness));
  int first = std::min(r, std::max(0, size - y_offset));
  int last = std::max(H - r, std::min(h + size - y_offset, h + 2 * size));
  for (int t = first; t < last && t < H; ++t) {
    Span s = spans[t];
    int wy = t - size + y_offset;
    auto fill = [&](int from, int to, std::uint32_t value) {
      for (int x = std::max(from, 0); x < std::min(to, W); ++x)
        pixel(t, x) = value;
    };
    if (wy < 0 || wy >= h) {
      fill(s.start, s.end, solid);
    } else {
      int ws = window_spans[wy].start + size - x_offset;
      int we = window_spans[wy].end + size - x_offset;
      fill(s.start, std::min(ws, s.end), solid);
      fill(std::max(ws, 0), std::min(we, W), 0);
      fill(std::max(we, s.start), s.end, solid);
    }
  }
  return out;
}

void CWndShadow::MoveShadow(Hwnd main) {
  if (shadow_ == nullptr || Entry().move == nullptr)
    return;
  pw::Rect place = ShadowRect(pw::GetWindowRect(main));
  Entry().move(shadow_, place.left, place.top);
}

pw::LResult CWndShadow::HookProc(Hwnd window, std::uint32_t message, pw::WParam wparam,
                                 pw::LParam lparam) {
  CWndShadow* self = ShadowOf(window);
  if (self == nullptr)
    return 0;
  pw::WindowProc previous = self->previous_proc_;
  bool active = (self->status_ & kEnabled) && !(self->status_ & kDisabledByComposition);
  switch (message) {
    case pw::kWmDestroy:
      if (self->shadow_ != nullptr && Entry().destroy != nullptr)
        Entry().destroy(self->shadow_);
      self->shadow_ = nullptr;
      break;
    case pw::kWmMove:
      if (self->status_ & kShadowVisible)
        self->MoveShadow(window);
      break;
    case pw::kWmSize:
      if (!active)
        break;
      if (wparam == pw::kSizeMaximized || wparam == pw::kSizeMinimized) {
        if (self->shadow_ != nullptr)
          Entry().show(self->shadow_, pw::kSwHide);
        self->status_ &= ~kShadowVisible;
      } else if (pw::GetWindowStyle(window) & pw::kWsVisible) {
        self->status_ |= kParentVisible;
        std::uint32_t size = static_cast<std::uint32_t>(lparam);
        if (!(self->status_ & kShadowVisible)) {
          self->status_ |= kShadowVisible;
          self->Update(window);
          if (self->shadow_ != nullptr)
            Entry().show(self->shadow_, pw::kSwShowNa);
          self->update_pending_ = 1;
        } else if (pw::LoWord(size) > pw::LoWord(self->last_size_) ||
                   pw::HiWord(size) > pw::HiWord(self->last_size_)) {
          self->update_pending_ = 1;
        } else {
          self->Update(window);
        }
      }
      self->last_size_ = static_cast<std::uint32_t>(lparam);
      break;
    case pw::kWmPaint:
      if (self->update_pending_) {
        self->Update(window);
        self->update_pending_ = 0;
      }
      break;
    case pw::kWmShowWindow: {
      if (!active)
        break;
      pw::LResult result = pw::CallWindowProc(previous, window, message, wparam, lparam);
      if (wparam != 0) {
        self->update_pending_ = 1;
        self->Show(window);
      } else {
        if (self->shadow_ != nullptr)
          Entry().show(self->shadow_, pw::kSwHide);
        self->status_ &= ~(kShadowVisible | kParentVisible);
      }
      return result;
    }
    case pw::kWmNcDestroy: {
      Process& p = State();
      std::lock_guard<std::mutex> hold(p.lock);
      p.shadows.erase(window);
      self->main_ = nullptr;
      break;
    }
    case pw::kWmExitSizeMove:
      if (self->status_ & kShadowVisible)
        self->Update(window);
      break;
    case pw::kWmDwmCompositionChanged: {
      bool on = false;
      if (Entry().composition_enabled != nullptr && Entry().composition_enabled(&on)) {
        if (on) {
          self->status_ |= kDisabledByComposition;
        } else {
          self->status_ &= ~kDisabledByComposition;
        }
      }
      self->Show(window);
      break;
    }
    default:
      break;
  }
  return pw::CallWindowProc(previous, window, message, wparam, lparam);
}

CWndShadow& MainWindowShadow() {
  static CWndShadow shadow;
  return shadow;
}

}  // namespace zel
