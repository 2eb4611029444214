// The windowing layer: windows that deliver the Win32 dialog message flow
// (init, create, paint, command, timers, mouse, close, show, size, move) to a
// window procedure, modal and modeless dialogs, synchronous and posted
// messages from any thread, a few real child controls (edit box, push
// button, group box, list view, list box), the shell's folder picker and
// message box, opening web pages, and per-pixel-alpha (layered) windows.
//
// Message numbers, command ids and flags have their Windows values, so code
// above this layer reads like the dialog code it stands in for.
//
// Threads: the first thread that calls InitWindowSystem (or opens a window)
// is the window thread. Window procedures always run there. Every function
// here may be called from any thread; those that must touch the toolkit are
// carried out on the window thread and wait for it (SendMessage semantics).
#ifndef ZEL_PLATFORM_WINDOW_H_
#define ZEL_PLATFORM_WINDOW_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/font.h"

namespace zel::platform {

// A window handle: an id, never a pointer to dereference. A handle of a
// destroyed window stays invalid; every call with it does nothing.
struct WindowTag;
using Hwnd = WindowTag*;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
using WindowProc = LResult (*)(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam);
// A dialog procedure: non-zero means the message was handled.
using DialogProc = WindowProc;

// Messages.
inline constexpr std::uint32_t kWmCreate = 0x0001;
inline constexpr std::uint32_t kWmDestroy = 0x0002;
inline constexpr std::uint32_t kWmMove = 0x0003;
inline constexpr std::uint32_t kWmSize = 0x0005;
inline constexpr std::uint32_t kWmPaint = 0x000F;
inline constexpr std::uint32_t kWmClose = 0x0010;
inline constexpr std::uint32_t kWmEraseBkgnd = 0x0014;
inline constexpr std::uint32_t kWmShowWindow = 0x0018;
inline constexpr std::uint32_t kWmNcDestroy = 0x0082;
inline constexpr std::uint32_t kWmNcLButtonDown = 0x00A1;
inline constexpr std::uint32_t kWmInitDialog = 0x0110;
inline constexpr std::uint32_t kWmCommand = 0x0111;
inline constexpr std::uint32_t kWmTimer = 0x0113;
inline constexpr std::uint32_t kWmMouseMove = 0x0200;
inline constexpr std::uint32_t kWmLButtonDown = 0x0201;
inline constexpr std::uint32_t kWmLButtonUp = 0x0202;
inline constexpr std::uint32_t kWmExitSizeMove = 0x0232;
inline constexpr std::uint32_t kWmDwmCompositionChanged = 0x031E;
inline constexpr std::uint32_t kWmUser = 0x0400;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr WParam kMkLButton = 0x0001;
inline constexpr WParam kHtCaption = 2;
inline constexpr WParam kSizeRestored = 0;
inline constexpr WParam kSizeMinimized = 1;
inline constexpr WParam kSizeMaximized = 2;

// ShowWindow commands.
inline constexpr int kSwHide = 0;
inline constexpr int kSwShowNormal = 1;
inline constexpr int kSwMaximize = 3;
inline constexpr int kSwShow = 5;
inline constexpr int kSwMinimize = 6;
inline constexpr int kSwShowNa = 8;
inline constexpr int kSwRestore = 9;

// Style bits reported by GetWindowStyle.
inline constexpr std::uint32_t kWsVisible = 0x10000000;
inline constexpr std::uint32_t kWsMinimize = 0x20000000;
inline constexpr std::uint32_t kWsMaximize = 0x01000000;

constexpr LParam MakeLParam(int low, int high) {
  return static_cast<LParam>(static_cast<std::uint32_t>((low & 0xFFFF) | ((high & 0xFFFF) << 16)));
}
constexpr int LoWord(std::uintptr_t v) {
  return static_cast<int>(v & 0xFFFF);
}
constexpr int HiWord(std::uintptr_t v) {
  return static_cast<int>((v >> 16) & 0xFFFF);
}
// GET_X_LPARAM / GET_Y_LPARAM: the signed coordinates.
constexpr int XFromLParam(LParam v) {
  return static_cast<std::int16_t>(v & 0xFFFF);
}
constexpr int YFromLParam(LParam v) {
  return static_cast<std::int16_t>((v >> 16) & 0xFFFF);
}

// Connects to the display; false when there is none (then no window can
// be made and DialogBox returns -1). The caller's thread becomes the window
// thread.
bool InitWindowSystem();
bool IsWindowThread();
// Serves window messages for about |ms| milliseconds on the window thread
// (tests and start-up code that wait for the display to settle).
void PumpMessages(int ms);

// An empty dialog template: the size in pixels and the caption.
struct DialogTemplate {
  int width = 0;
  int height = 0;
  std::wstring title;
};

// DialogBoxParamW: makes the window, sends it WM_CREATE and WM_INITDIALOG
// (lparam = |init_param|), shows it and serves messages until EndDialog;
// then destroys it and returns EndDialog's value. -1 when no window can be
// made. Must run on the window thread.
LResult DialogBox(const DialogTemplate& tmpl, Hwnd owner, DialogProc proc, LParam init_param);
// CreateDialogParamW: the same window, modeless and shown; its messages are
// served by whatever loop runs (another dialog's modal loop, PumpMessages).
Hwnd CreateDialog(const DialogTemplate& tmpl, Hwnd owner, DialogProc proc, LParam init_param);
// Ends a modal dialog with |result|; hides a modeless one.
bool EndDialog(Hwnd window, LResult result);
// WM_DESTROY, then the children go, then WM_NCDESTROY.
bool DestroyWindow(Hwnd window);
bool IsWindow(Hwnd window);

// Runs the window's procedure and returns its result; 0 for a window that
// does not exist. From another thread it waits until the window thread has
// handled it.
LResult SendMessage(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam);
// Queues the message; it is dropped if the window is gone by then.
bool PostMessage(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam);

// The window's procedure. A dialog's first procedure is the dialog manager,
// which calls the dialog procedure and then does the default handling
// (WM_CLOSE not handled becomes WM_COMMAND IDCANCEL; WM_NCLBUTTONDOWN with
// HTCAPTION starts moving the window with the pointer). SetWindowProc
// returns the previous one, for CallWindowProc.
WindowProc GetWindowProc(Hwnd window);
WindowProc SetWindowProc(Hwnd window, WindowProc proc);
LResult CallWindowProc(WindowProc proc, Hwnd window, std::uint32_t message, WParam wparam,
                       LParam lparam);

// WM_TIMER with wparam = |id| every |ms| milliseconds; setting an id again
// restarts it.
bool SetTimer(Hwnd window, std::uintptr_t id, std::uint32_t ms);
bool KillTimer(Hwnd window, std::uintptr_t id);

// Mouse capture: while set, moves and the release reach |window| wherever
// the pointer is.
void SetCapture(Hwnd window);
void ReleaseCapture();
Hwnd GetCapture();

// Screen rectangle of the window; client rectangle (0, 0, width, height).
Rect GetWindowRect(Hwnd window);
Rect GetClientRect(Hwnd window);
bool MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint);
bool ShowWindow(Hwnd window, int command);
bool IsWindowVisible(Hwnd window);
std::uint32_t GetWindowStyle(Hwnd window);  // kWsVisible, kWsMinimize, kWsMaximize
bool ClientToScreen(Hwnd window, int* x, int* y);
// Asks for a WM_PAINT; |rect| is advisory (the whole window is repainted).
void InvalidateRect(Hwnd window, const Rect* rect);
bool SetWindowText(Hwnd window, const std::wstring& text);
std::wstring GetWindowText(Hwnd window);
// Window icon from a picture resource (type "ICON" or "BITMAP").
bool SetWindowIconResource(Hwnd window, int resource_id);

// Primary screen size (SM_CXSCREEN, SM_CYSCREEN).
int ScreenWidth();
int ScreenHeight();
// Logical pixels per inch of the window's screen (LOGPIXELSX/LOGPIXELSY);
// 96 when unknown.
int WindowDpi(Hwnd window);

// BitBlt from an off-screen canvas into the window's client area. Any
// thread; the window shows it at its next frame.
bool CopyToWindow(Hwnd window, const Canvas& source, int dx, int dy, int width, int height,
                  int sx = 0, int sy = 0);
// What the window's client area holds now (tests, diagnostics); null for no
// window.
std::unique_ptr<Canvas> CaptureWindow(Hwnd window);
// What the screen shows inside |rect| (screen coordinates), read back from
// the display; null without one.
std::unique_ptr<Canvas> CaptureScreen(const Rect& rect);

// ---- Real child controls, placed over the painted client area ----

// A single-line edit box. WS_VISIBLE (0x10000000) in |style| shows it.
Hwnd CreateEditBox(Hwnd parent, const Rect& rect, std::uint32_t style);
// WM_SETFONT for child controls.
void SetWindowFont(Hwnd window, const FontHandle& font);
// EM_SETRECT: the text area inside the control, in its own coordinates.
void SetEditTextRect(Hwnd edit, const Rect& rect);
// A push button that sends the parent WM_COMMAND (id) when clicked.
Hwnd CreatePushButton(Hwnd parent, int id, const std::wstring& text, const Rect& rect);
Hwnd CreateGroupBox(Hwnd parent, const std::wstring& text, const Rect& rect);
struct ListColumn {
  std::wstring title;
  int width = 100;
};
// A report-style list view.
Hwnd CreateListView(Hwnd parent, int id, const Rect& rect, const std::vector<ListColumn>& columns);
void ListViewDeleteAll(Hwnd list);
void ListViewAddRow(Hwnd list, const std::vector<std::wstring>& cells);
int ListViewRowCount(Hwnd list);
std::vector<std::wstring> ListViewRow(Hwnd list, int row);
// A list box of text lines with a vertical scroll bar.
Hwnd CreateListBox(Hwnd parent, int id, const Rect& rect);
// From other threads the line is queued for the window thread (never waits).
void ListBoxAddString(Hwnd list, const std::wstring& text);
int ListBoxCount(Hwnd list);

// ---- Shell services tied to the window system ----

// The folder picker; nothing when cancelled or without a display.
std::optional<std::wstring> BrowseForFolder(Hwnd owner, const std::wstring& title,
                                            const std::wstring& initial_folder);
// The plain system message box with one OK button; returns kIdOk, or 0 when
// it cannot be shown.
int SystemMessageBox(Hwnd owner, const std::wstring& text, const std::wstring& caption);
// Opens |url| with the desktop's handler; false when none takes it.
bool OpenUrl(const std::wstring& url);

// ---- Layered windows: per-pixel alpha, click-through ----

// True when the screen composites translucent windows (the stand-in for
// UpdateLayeredWindow existing).
bool LayeredWindowsAvailable();
// A hidden click-through popup owned by |owner|; null when unavailable.
Hwnd CreateLayeredWindow(Hwnd owner);
// UpdateLayeredWindow with ULW_ALPHA: places the window at (x, y) with the
// given size and shows |pixels| (width * height premultiplied 0xAARRGGBB,
// rows bottom-up when |bottom_up|, as a DIB with positive height stores them).
bool UpdateLayeredWindow(Hwnd window, int x, int y, int width, int height,
                         const std::uint32_t* pixels, bool bottom_up);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_WINDOW_H_
