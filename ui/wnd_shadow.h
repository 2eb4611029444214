// A soft drop shadow for the borderless main window: a click-through
// companion window with per-pixel alpha, a fixed margin larger than the main
// window, kept in place by hooking the main window's procedure. Without
// layered windows (no compositing on the screen) no shadow exists and the
// main window works unchanged.
#ifndef ZEL_UI_WND_SHADOW_H_
#define ZEL_UI_WND_SHADOW_H_

#include <cstdint>
#include <vector>

#include "platform/canvas.h"
#include "platform/window.h"

namespace zel {

using platform::Hwnd;

class CWndShadow {
 public:
  // Status bits.
  static constexpr std::uint8_t kEnabled = 1;
  static constexpr std::uint8_t kShadowVisible = 2;
  static constexpr std::uint8_t kParentVisible = 4;
  static constexpr std::uint8_t kDisabledByComposition = 8;

  // The layered-window entry points, found at run time. |composition_enabled|
  // may be null (no desktop composition service).
  struct Api {
    bool (*available)() = nullptr;
    Hwnd (*create)(Hwnd owner) = nullptr;
    bool (*update)(Hwnd shadow, int x, int y, int width, int height, const std::uint32_t* pixels,
                   bool bottom_up) = nullptr;
    bool (*move)(Hwnd shadow, int x, int y) = nullptr;
    bool (*show)(Hwnd shadow, int command) = nullptr;
    bool (*destroy)(Hwnd shadow) = nullptr;
    bool (*composition_enabled)(bool* enabled) = nullptr;
  };
  // The platform's entry points.
  static Api PlatformApi();

  CWndShadow() = default;
  CWndShadow(const CWndShadow&) = delete;
  CWndShadow& operator=(const CWndShadow&) = delete;
  virtual ~CWndShadow();

  // Once per process, before the main window exists. False when it has run
  // before or when layered windows are not available (then no shadow is ever
  // made). |api| replaces the platform's entry points (tests).
  static bool Initialize(void* instance, const Api* api = nullptr);
  // Forgets Initialize (tests).
  static void ResetForTesting();

  // From the main window's procedure on every message; acts the first time.
  void Create(Hwnd main);
  void Show(Hwnd main);
  void Update(Hwnd main);
  // Fills |pixels| (shadow width x height, zeroed, rows bottom-up) for a main
  // window of |main_rect|'s size.
  void MakeShadow(std::uint32_t* pixels, Hwnd main, const platform::Rect& main_rect);

  // The shadow for a rectangular window of |width| x |height|: premultiplied
  // 0xAARRGGBB, (width + 2 size) x (height + 2 size), rows bottom-up.
  static std::vector<std::uint32_t> ComputeShadow(int width, int height, int darkness,
                                                  int sharpness, int size, int x_offset,
                                                  int y_offset, platform::ColorRef colour);
  // Where the shadow window goes for a main window at |main_rect|.
  platform::Rect ShadowRect(const platform::Rect& main_rect) const;

  Hwnd shadow_window() const { return shadow_; }
  std::uint8_t status() const { return status_; }
  bool created() const { return created_ != 0; }
  bool update_pending() const { return update_pending_ != 0; }

 private:
  static platform::LResult HookProc(Hwnd window, std::uint32_t message, platform::WParam wparam,
                                    platform::LParam lparam);
  void MoveShadow(Hwnd main);

  Hwnd shadow_ = nullptr;  // none
  platform::WindowProc previous_proc_ = nullptr;
  std::uint8_t status_ = 0;
  std::uint8_t darkness_ = 30;
  std::uint8_t sharpness_ = 30;
  std::int8_t size_ = 30;
  std::int8_t x_offset_ = 0;
  std::int8_t y_offset_ = 0;
  std::uint32_t last_size_ = 50;
  std::uint8_t update_pending_ = 0;
  platform::ColorRef colour_ = 0x323232;
  std::uint32_t created_ = 0;
  Hwnd main_ = nullptr;
};

// The process's one shadow (for the main window).
CWndShadow& MainWindowShadow();

}  // namespace zel

#endif  // ZEL_UI_WND_SHADOW_H_
