// GTK 3 stands in for the Win32 window manager and dialog manager. Each
// top-level window is a borderless GtkWindow holding a GtkFixed: a drawing
// area that shows the window's backing store (what the program copied in),
// with the real child controls placed above it.
#include "platform/window.h"

#include <cairo.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/resources.h"
#include "platform/text.h"

namespace zel::platform {
namespace {

enum class Kind { kDialog, kLayered, kEdit, kButton, kGroup, kListView, kListBox };

struct WindowImpl {
  std::uintptr_t id = 0;
  Kind kind = Kind::kDialog;
  GtkWidget* toplevel = nullptr;  // GtkWindow (top-level kinds)
  GtkWidget* fixed = nullptr;     // child container (dialogs)
  GtkWidget* area = nullptr;      // drawing area (dialogs, layered)
  GtkWidget* widget = nullptr;    // the control (children); the tree view for lists
  GtkListStore* store_model = nullptr;
  Hwnd owner = nullptr;
  Hwnd parent = nullptr;
  std::vector<Hwnd> children;
  int control_id = -1;

  WindowProc proc = nullptr;
  DialogProc dialog_proc = nullptr;
  bool modal = false;
  bool ended = false;
  LResult result = 0;
  bool destroyed = false;

  // Geometry and state, read from any thread.
  std::mutex state_lock;
  Rect rect;
  bool visible = false;
  bool minimized = false;
  bool maximized = false;
  std::wstring text;

  // The backing store: what the client area shows.
  std::mutex store_lock;
  std::unique_ptr<Canvas> store;
  std::vector<std::uint32_t> layered_pixels;  // premultiplied ARGB, top-down
  std::atomic<bool> redraw_queued{false};

  std::atomic<bool> invalid{true};  // a WM_PAINT is due at the next draw
  std::map<std::uintptr_t, guint> timers;
  guint32 last_press_time = 0;
  GtkCssProvider* css = nullptr;
};

struct Registry {
  std::mutex lock;
  std::unordered_map<std::uintptr_t, std::shared_ptr<WindowImpl>> windows;
  std::uintptr_t next_id = 0x100;
};

Registry& Windows() {
  static Registry* registry = new Registry;  // Outlives painting threads at exit.
  return *registry;
}

std::atomic<bool> g_initialised{false};
std::atomic<bool> g_display_ok{false};
std::thread::id g_window_thread;
std::mutex g_init_lock;
std::atomic<std::uintptr_t> g_capture{0};

// Work handed to the window thread goes through the toolkit's queue, whose
// locking the race checker cannot see; the hand-over also passes this lock.
std::mutex g_handoff;
void Publish() {
  std::lock_guard<std::mutex> hold(g_handoff);
}
void Receive() {
  std::lock_guard<std::mutex> hold(g_handoff);
}

std::shared_ptr<WindowImpl> Find(Hwnd window) {
  auto id = reinterpret_cast<std::uintptr_t>(window);
  Registry& r = Windows();
  std::lock_guard<std::mutex> hold(r.lock);
  auto it = r.windows.find(id);
  if (it == r.windows.end())
    return nullptr;
  return it->second;
}

Hwnd HandleOf(const WindowImpl& impl) {
  return reinterpret_cast<Hwnd>(impl.id);
}

std::shared_ptr<WindowImpl> Register(Kind kind) {
  auto impl = std::make_shared<WindowImpl>();
  impl->kind = kind;
  Registry& r = Windows();
  std::lock_guard<std::mutex> hold(r.lock);
  impl->id = r.next_id;
  r.next_id += 0x10;
  r.windows[impl->id] = impl;
  return impl;
}

void Unregister(std::uintptr_t id) {
  Registry& r = Windows();
  std::lock_guard<std::mutex> hold(r.lock);
  r.windows.erase(id);
}

// Runs |fn| on the window thread and waits for it. Gives up waiting (and
// returns false) when the window thread stops serving messages for good:
// that is noticed by |alive| turning false.
bool RunOnWindowThread(const std::function<void()>& fn,
                       const std::function<bool()>& alive = nullptr) {
  if (!g_initialised.load() || IsWindowThread()) {
    fn();
    return true;
  }
  struct Call {
    std::function<void()> fn;
    std::mutex lock;
    std::condition_variable done_cv;
    bool done = false;
  };
  auto call = std::make_shared<Call>();
  call->fn = fn;
  auto* holder = new std::shared_ptr<Call>(call);
  Publish();
  g_idle_add_full(
      G_PRIORITY_HIGH_IDLE,
      [](gpointer data) -> gboolean {
        Receive();
        auto& c = *static_cast<std::shared_ptr<Call>*>(data);
        c->fn();
        std::lock_guard<std::mutex> hold(c->lock);
        c->done = true;
        c->done_cv.notify_all();
        return G_SOURCE_REMOVE;
      },
      holder, [](gpointer data) { delete static_cast<std::shared_ptr<Call>*>(data); });
  std::unique_lock<std::mutex> hold(call->lock);
  while (!call->done) {
    if (call->done_cv.wait_for(hold, std::chrono::milliseconds(100)) == std::cv_status::timeout) {
      if (alive && !alive())
        return false;
    }
  }
  return true;
}

void QueueRedraw(const std::shared_ptr<WindowImpl>& impl) {
  if (impl->redraw_queued.exchange(true))
    return;
  auto* id = new std::uintptr_t(impl->id);
  Publish();
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        Receive();
        auto w = Find(reinterpret_cast<Hwnd>(*static_cast<std::uintptr_t*>(data)));
        if (w) {
          w->redraw_queued = false;
          if (!w->destroyed && w->area != nullptr)
            gtk_widget_queue_draw(w->area);
        }
        return G_SOURCE_REMOVE;
      },
      id, [](gpointer data) { delete static_cast<std::uintptr_t*>(data); });
}

LResult Dispatch(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam) {
  auto impl = Find(window);
  if (!impl || impl->destroyed || impl->proc == nullptr)
    return 0;
  return impl->proc(window, message, wparam, lparam);
}

void BeginMoveDrag(const std::shared_ptr<WindowImpl>& impl, int screen_x, int screen_y) {
  if (impl->toplevel == nullptr)
    return;
  gtk_window_begin_move_drag(GTK_WINDOW(impl->toplevel), 1, screen_x, screen_y,
                             impl->last_press_time);
}

// The dialog manager: the dialog procedure first, then the defaults.
LResult DialogManagerProc(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam) {
  auto impl = Find(window);
  if (!impl || impl->dialog_proc == nullptr)
    return 0;
  LResult r = impl->dialog_proc(window, message, wparam, lparam);
  if (r != 0)
    return r;
  switch (message) {
    case kWmClose:
      Dispatch(window, kWmCommand, kIdCancel, 0);
      break;
    case kWmNcLButtonDown:
      if (wparam == kHtCaption)
        BeginMoveDrag(impl, XFromLParam(lparam), YFromLParam(lparam));
      break;
    default:
      break;
  }
  return r;
}

void ResizeStore(WindowImpl& impl, int width, int height) {
  std::lock_guard<std::mutex> hold(impl.store_lock);
  if (impl.store && impl.store->width() == width && impl.store->height() == height)
    return;
  auto fresh = std::make_unique<Canvas>(std::max(width, 0), std::max(height, 0));
  fresh->FillRect({0, 0, width, height}, 0xFFFFFF);
  if (impl.store)
    fresh->CopyFrom(*impl.store, 0, 0, impl.store->width(), impl.store->height());
  impl.store = std::move(fresh);
}

gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto impl = Find(static_cast<Hwnd>(data));
  if (!impl || impl->destroyed)
    return FALSE;
  if (impl->kind == Kind::kLayered) {
    std::lock_guard<std::mutex> hold(impl->store_lock);
    Rect r;
    {
      std::lock_guard<std::mutex> s(impl->state_lock);
      r = impl->rect;
    }
    if (impl->layered_pixels.size() ==
            static_cast<std::size_t>(r.width()) * static_cast<std::size_t>(r.height()) &&
        !impl->layered_pixels.empty()) {
      cairo_surface_t* s = cairo_image_surface_create_for_data(
          reinterpret_cast<unsigned char*>(impl->layered_pixels.data()), CAIRO_FORMAT_ARGB32,
          r.width(), r.height(), r.width() * 4);
      cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
      cairo_set_source_surface(cr, s, 0, 0);
      cairo_paint(cr);
      cairo_surface_destroy(s);
    } else {
      cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
      cairo_paint(cr);
    }
    return TRUE;
  }
  if (impl->invalid.exchange(false)) {
    Dispatch(static_cast<Hwnd>(data), kWmPaint, 0, 0);
    if (impl->destroyed)
      return TRUE;
  }
  std::lock_guard<std::mutex> hold(impl->store_lock);
  if (!impl->store || impl->store->native() == nullptr)
    return TRUE;
  auto* surface = static_cast<cairo_surface_t*>(impl->store->native());
  cairo_surface_mark_dirty(surface);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, surface, 0, 0);
  cairo_paint(cr);
  return TRUE;
}

gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  if (event->type != GDK_BUTTON_PRESS || event->button != 1)
    return FALSE;
  auto impl = Find(static_cast<Hwnd>(data));
  if (!impl)
    return FALSE;
  impl->last_press_time = event->time;
  Dispatch(static_cast<Hwnd>(data), kWmLButtonDown, kMkLButton,
           MakeLParam(static_cast<int>(event->x), static_cast<int>(event->y)));
  return TRUE;
}

gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer data) {
  if (event->button != 1)
    return FALSE;
  Dispatch(static_cast<Hwnd>(data), kWmLButtonUp, 0,
           MakeLParam(static_cast<int>(event->x), static_cast<int>(event->y)));
  return TRUE;
}

gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer data) {
  WParam keys = (event->state & GDK_BUTTON1_MASK) ? kMkLButton : 0;
  Dispatch(static_cast<Hwnd>(data), kWmMouseMove, keys,
           MakeLParam(static_cast<int>(event->x), static_cast<int>(event->y)));
  return TRUE;
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  switch (event->keyval) {
    case GDK_KEY_Escape:
      Dispatch(static_cast<Hwnd>(data), kWmCommand, kIdCancel, 0);
      return TRUE;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
      Dispatch(static_cast<Hwnd>(data), kWmCommand, kIdOk, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  Dispatch(static_cast<Hwnd>(data), kWmClose, 0, 0);
  return TRUE;  // the program decides; the toolkit never destroys on its own
}

gboolean OnConfigure(GtkWidget*, GdkEventConfigure* event, gpointer data) {
  auto impl = Find(static_cast<Hwnd>(data));
  if (!impl)
    return FALSE;
  bool moved = false;
  bool resized = false;
  {
    std::lock_guard<std::mutex> hold(impl->state_lock);
    moved = impl->rect.left != event->x || impl->rect.top != event->y;
    resized = impl->rect.width() != event->width || impl->rect.height() != event->height;
    if (impl->kind != Kind::kLayered) {
      impl->rect = {event->x, event->y, event->x + event->width, event->y + event->height};
    } else if (moved) {
      int w = impl->rect.width(), h = impl->rect.height();
      impl->rect = {event->x, event->y, event->x + w, event->y + h};
      resized = false;
    }
  }
  if (resized) {
    ResizeStore(*impl, event->width, event->height);
    impl->invalid = true;
    Dispatch(static_cast<Hwnd>(data), kWmSize, kSizeRestored,
             MakeLParam(event->width, event->height));
  }
  if (moved)
    Dispatch(static_cast<Hwnd>(data), kWmMove, 0, MakeLParam(event->x, event->y));
  return FALSE;
}

gboolean OnWindowState(GtkWidget*, GdkEventWindowState* event, gpointer data) {
  auto impl = Find(static_cast<Hwnd>(data));
  if (!impl)
    return FALSE;
  bool minimized = event->new_window_state & GDK_WINDOW_STATE_ICONIFIED;
  bool maximized = event->new_window_state & GDK_WINDOW_STATE_MAXIMIZED;
  bool was_minimized, was_maximized;
  Rect r;
  {
    std::lock_guard<std::mutex> hold(impl->state_lock);
    was_minimized = impl->minimized;
    was_maximized = impl->maximized;
    impl->minimized = minimized;
    impl->maximized = maximized;
    r = impl->rect;
  }
  if (minimized != was_minimized || maximized != was_maximized) {
    WParam kind = minimized ? kSizeMinimized : maximized ? kSizeMaximized : kSizeRestored;
    Dispatch(static_cast<Hwnd>(data), kWmSize, kind, MakeLParam(r.width(), r.height()));
  }
  return FALSE;
}

void ConnectDialogSignals(GtkWidget* toplevel, GtkWidget* area, Hwnd handle) {
  gtk_widget_add_events(area,
                        GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK | GDK_POINTER_MOTION_MASK);
  g_signal_connect(area, "draw", G_CALLBACK(OnDraw), handle);
  g_signal_connect(area, "button-press-event", G_CALLBACK(OnButtonPress), handle);
  g_signal_connect(area, "button-release-event", G_CALLBACK(OnButtonRelease), handle);
  g_signal_connect(area, "motion-notify-event", G_CALLBACK(OnMotion), handle);
  g_signal_connect(toplevel, "key-press-event", G_CALLBACK(OnKeyPress), handle);
  g_signal_connect(toplevel, "delete-event", G_CALLBACK(OnDelete), handle);
  g_signal_connect(toplevel, "configure-event", G_CALLBACK(OnConfigure), handle);
  g_signal_connect(toplevel, "window-state-event", G_CALLBACK(OnWindowState), handle);
}

std::shared_ptr<WindowImpl> MakeDialog(const DialogTemplate& tmpl, Hwnd owner, DialogProc proc) {
  if (!InitWindowSystem())
    return nullptr;
  auto impl = Register(Kind::kDialog);
  Hwnd handle = HandleOf(*impl);
  impl->owner = owner;
  impl->dialog_proc = proc;
  impl->proc = DialogManagerProc;
  impl->text = tmpl.title;
  int w = std::max(tmpl.width, 1), h = std::max(tmpl.height, 1);
  impl->rect = {0, 0, w, h};
  ResizeStore(*impl, w, h);

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_title(GTK_WINDOW(window), WideToUtf8(tmpl.title).c_str());
  if (auto o = Find(owner); o && o->toplevel != nullptr) {
    gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(o->toplevel));
  }
  GtkWidget* fixed = gtk_fixed_new();
  GtkWidget* area = gtk_drawing_area_new();
  gtk_widget_set_size_request(area, w, h);
  gtk_fixed_put(GTK_FIXED(fixed), area, 0, 0);
  gtk_container_add(GTK_CONTAINER(window), fixed);
  gtk_widget_set_can_focus(window, TRUE);
  impl->toplevel = window;
  impl->fixed = fixed;
  impl->area = area;
  ConnectDialogSignals(window, area, handle);
  gtk_widget_show(area);
  gtk_widget_show(fixed);
  gtk_window_move(GTK_WINDOW(window), 0, 0);
  return impl;
}

void StartDialog(const std::shared_ptr<WindowImpl>& impl, LParam init_param) {
  Hwnd handle = HandleOf(*impl);
  Dispatch(handle, kWmCreate, 0, 0);
  if (impl->destroyed)
    return;
  Dispatch(handle, kWmInitDialog, 0, init_param);
  if (impl->destroyed || impl->ended)
    return;
  ShowWindow(handle, kSwShow);
}

void DestroyOnWindowThread(Hwnd window) {
  auto impl = Find(window);
  if (!impl || impl->destroyed)
    return;
  Dispatch(window, kWmDestroy, 0, 0);
  for (Hwnd child : std::vector<Hwnd>(impl->children))
    DestroyOnWindowThread(child);
  for (auto& [id, source] : impl->timers)
    g_source_remove(source);
  impl->timers.clear();
  if (g_capture.load() == impl->id)
    g_capture = 0;
  Dispatch(window, kWmNcDestroy, 0, 0);
  impl->destroyed = true;
  GtkWidget* top = impl->toplevel != nullptr ? impl->toplevel : impl->widget;
  if (impl->kind == Kind::kListView || impl->kind == Kind::kListBox) {
    top = gtk_widget_get_parent(impl->widget);  // the scrolled window
  }
  if (top != nullptr)
    gtk_widget_destroy(top);
  if (impl->css != nullptr)
    g_object_unref(impl->css);
  impl->css = nullptr;
  if (auto parent = Find(impl->parent)) {
    auto& c = parent->children;
    c.erase(std::remove(c.begin(), c.end(), window), c.end());
  }
  Unregister(impl->id);
  g_main_context_wakeup(nullptr);
}

void ApplyCss(WindowImpl& impl, GtkWidget* widget, const std::string& css) {
  if (impl.css == nullptr) {
    impl.css = gtk_css_provider_new();
    gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                   GTK_STYLE_PROVIDER(impl.css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  gtk_css_provider_load_from_data(impl.css, css.c_str(), -1, nullptr);
}

std::shared_ptr<WindowImpl> MakeChild(Hwnd parent, Kind kind, const Rect& rect, GtkWidget* widget,
                                      GtkWidget* outer) {
  auto p = Find(parent);
  if (!p || p->fixed == nullptr) {
    g_object_ref_sink(outer);
    g_object_unref(outer);
    return nullptr;
  }
  auto impl = Register(kind);
  impl->parent = parent;
  impl->widget = widget;
  impl->rect = rect;
  impl->visible = true;
  gtk_widget_set_size_request(outer, std::max(rect.width(), 1), std::max(rect.height(), 1));
  gtk_fixed_put(GTK_FIXED(p->fixed), outer, rect.left, rect.top);
  gtk_widget_show_all(outer);
  p->children.push_back(HandleOf(*impl));
  return impl;
}

GtkWidget* OuterOf(const WindowImpl& impl) {
  if (impl.kind == Kind::kListView || impl.kind == Kind::kListBox) {
    return gtk_widget_get_parent(impl.widget);
  }
  return impl.widget;
}

}  // namespace

// A failed connection is tried again at the next call: the display may
// come up later.
bool InitWindowSystem() {
  if (g_display_ok.load())
    return true;
  std::lock_guard<std::mutex> hold(g_init_lock);
  if (g_display_ok.load())
    return true;
  EnsureFontAliases();
  if (gtk_init_check(nullptr, nullptr) == TRUE) {
    g_window_thread = std::this_thread::get_id();
    g_initialised = true;
    g_display_ok = true;
  }
  return g_display_ok.load();
}

bool IsWindowThread() {
  return g_initialised.load() && std::this_thread::get_id() == g_window_thread;
}

void PumpMessages(int ms) {
  if (!InitWindowSystem() || !IsWindowThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until) {
    while (gtk_events_pending())
      gtk_main_iteration_do(FALSE);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

LResult DialogBox(const DialogTemplate& tmpl, Hwnd owner, DialogProc proc, LParam init_param) {
  if (!InitWindowSystem() || !IsWindowThread() || proc == nullptr)
    return -1;
  auto impl = MakeDialog(tmpl, owner, proc);
  if (!impl)
    return -1;
  impl->modal = true;
  gtk_window_set_modal(GTK_WINDOW(impl->toplevel), TRUE);
  StartDialog(impl, init_param);
  while (!impl->ended && !impl->destroyed)
    gtk_main_iteration_do(TRUE);
  LResult result = impl->result;
  DestroyOnWindowThread(HandleOf(*impl));
  return result;
}

Hwnd CreateDialog(const DialogTemplate& tmpl, Hwnd owner, DialogProc proc, LParam init_param) {
  if (!InitWindowSystem() || proc == nullptr)
    return nullptr;
  Hwnd handle = nullptr;
  RunOnWindowThread([&] {
    auto impl = MakeDialog(tmpl, owner, proc);
    if (!impl)
      return;
    handle = HandleOf(*impl);
    StartDialog(impl, init_param);
  });
  return handle;
}

bool EndDialog(Hwnd window, LResult result) {
  auto impl = Find(window);
  if (!impl || impl->kind != Kind::kDialog)
    return false;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    impl->result = result;
    impl->ended = true;
    if (!impl->modal)
      ShowWindow(window, kSwHide);
    g_main_context_wakeup(nullptr);
  });
  return true;
}

bool DestroyWindow(Hwnd window) {
  if (!Find(window))
    return false;
  RunOnWindowThread([&] { DestroyOnWindowThread(window); });
  return true;
}

bool IsWindow(Hwnd window) {
  auto impl = Find(window);
  return impl && !impl->destroyed;
}

LResult SendMessage(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam) {
  if (!IsWindow(window))
    return 0;
  LResult result = 0;
  RunOnWindowThread([&] { result = Dispatch(window, message, wparam, lparam); },
                    [window] { return IsWindow(window); });
  return result;
}

bool PostMessage(Hwnd window, std::uint32_t message, WParam wparam, LParam lparam) {
  if (!IsWindow(window) || !g_initialised.load())
    return false;
  struct Posted {
    Hwnd window;
    std::uint32_t message;
    WParam wparam;
    LParam lparam;
  };
  Publish();
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        Receive();
        auto* p = static_cast<Posted*>(data);
        Dispatch(p->window, p->message, p->wparam, p->lparam);
        return G_SOURCE_REMOVE;
      },
      new Posted{window, message, wparam, lparam},
      [](gpointer data) { delete static_cast<Posted*>(data); });
  return true;
}

WindowProc GetWindowProc(Hwnd window) {
  auto impl = Find(window);
  return impl ? impl->proc : nullptr;
}

WindowProc SetWindowProc(Hwnd window, WindowProc proc) {
  auto impl = Find(window);
  if (!impl || proc == nullptr)
    return nullptr;
  WindowProc previous = nullptr;
  RunOnWindowThread([&] {
    previous = impl->proc;
    impl->proc = proc;
  });
  return previous;
}

LResult CallWindowProc(WindowProc proc, Hwnd window, std::uint32_t message, WParam wparam,
                       LParam lparam) {
  if (proc == nullptr || !IsWindow(window))
    return 0;
  return proc(window, message, wparam, lparam);
}

bool SetTimer(Hwnd window, std::uintptr_t id, std::uint32_t ms) {
  auto impl = Find(window);
  if (!impl)
    return false;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    if (auto it = impl->timers.find(id); it != impl->timers.end())
      g_source_remove(it->second);
    struct Tick {
      Hwnd window;
      std::uintptr_t id;
    };
    impl->timers[id] = g_timeout_add_full(
        G_PRIORITY_DEFAULT, std::max<std::uint32_t>(ms, 1),
        [](gpointer data) -> gboolean {
          Receive();
          auto* t = static_cast<Tick*>(data);
          Dispatch(t->window, kWmTimer, t->id, 0);
          return G_SOURCE_CONTINUE;
        },
        new Tick{window, id}, [](gpointer data) { delete static_cast<Tick*>(data); });
  });
  return true;
}

bool KillTimer(Hwnd window, std::uintptr_t id) {
  auto impl = Find(window);
  if (!impl)
    return false;
  bool found = false;
  RunOnWindowThread([&] {
    auto it = impl->timers.find(id);
    if (it == impl->timers.end())
      return;
    g_source_remove(it->second);
    impl->timers.erase(it);
    found = true;
  });
  return found;
}

// While a button is held the toolkit already sends every move and the
// release to the pressed window, which is what capture means here.
void SetCapture(Hwnd window) {
  if (IsWindow(window))
    g_capture = reinterpret_cast<std::uintptr_t>(window);
}
void ReleaseCapture() {
  g_capture = 0;
}
Hwnd GetCapture() {
  Hwnd w = reinterpret_cast<Hwnd>(g_capture.load());
  return IsWindow(w) ? w : nullptr;
}

Rect GetWindowRect(Hwnd window) {
  auto impl = Find(window);
  if (!impl)
    return {};
  std::lock_guard<std::mutex> hold(impl->state_lock);
  if (impl->parent != nullptr) {
    Rect parent = GetWindowRect(impl->parent);
    return {parent.left + impl->rect.left, parent.top + impl->rect.top,
            parent.left + impl->rect.right, parent.top + impl->rect.bottom};
  }
  return impl->rect;
}

Rect GetClientRect(Hwnd window) {
  auto impl = Find(window);
  if (!impl)
    return {};
  std::lock_guard<std::mutex> hold(impl->state_lock);
  return {0, 0, impl->rect.width(), impl->rect.height()};
}

bool MoveWindow(Hwnd window, int x, int y, int width, int height, bool repaint) {
  auto impl = Find(window);
  if (!impl)
    return false;
  width = std::max(width, 1);
  height = std::max(height, 1);
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    Rect old;
    {
      std::lock_guard<std::mutex> hold(impl->state_lock);
      old = impl->rect;
      impl->rect = {x, y, x + width, y + height};
    }
    if (impl->parent != nullptr) {
      auto p = Find(impl->parent);
      GtkWidget* outer = OuterOf(*impl);
      if (p && p->fixed != nullptr && outer != nullptr) {
        gtk_fixed_move(GTK_FIXED(p->fixed), outer, x, y);
        gtk_widget_set_size_request(outer, width, height);
      }
      return;
    }
    if (impl->area != nullptr)
      gtk_widget_set_size_request(impl->area, width, height);
    if (impl->toplevel != nullptr) {
      gtk_window_move(GTK_WINDOW(impl->toplevel), x, y);
      gtk_window_resize(GTK_WINDOW(impl->toplevel), width, height);
    }
    bool resized = old.width() != width || old.height() != height;
    if (resized) {
      ResizeStore(*impl, width, height);
      Dispatch(window, kWmSize, kSizeRestored, MakeLParam(width, height));
    }
    if (old.left != x || old.top != y)
      Dispatch(window, kWmMove, 0, MakeLParam(x, y));
    if ((repaint || resized) && impl->area != nullptr && !impl->destroyed) {
      impl->invalid = true;
      gtk_widget_queue_draw(impl->area);
    }
  });
  return true;
}

bool ShowWindow(Hwnd window, int command) {
  auto impl = Find(window);
  if (!impl)
    return false;
  bool was_visible = false;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    {
      std::lock_guard<std::mutex> hold(impl->state_lock);
      was_visible = impl->visible;
    }
    GtkWidget* target = impl->toplevel != nullptr ? impl->toplevel : OuterOf(*impl);
    if (target == nullptr)
      return;
    bool is_top = impl->toplevel != nullptr;
    switch (command) {
      case kSwHide:
        if (!was_visible)
          return;
        if (is_top)
          Dispatch(window, kWmShowWindow, 0, 0);
        {
          std::lock_guard<std::mutex> hold(impl->state_lock);
          impl->visible = false;
        }
        if (!impl->destroyed)
          gtk_widget_hide(target);
        return;
      case kSwMinimize:
        if (is_top)
          gtk_window_iconify(GTK_WINDOW(target));
        return;
      case kSwMaximize:
        if (is_top)
          gtk_window_maximize(GTK_WINDOW(target));
        [[fallthrough]];
      default:
        if (command == kSwRestore && is_top)
          gtk_window_deiconify(GTK_WINDOW(target));
        if (was_visible)
          return;
        if (is_top)
          Dispatch(window, kWmShowWindow, 1, 0);
        if (impl->destroyed)
          return;
        {
          std::lock_guard<std::mutex> hold(impl->state_lock);
          impl->visible = true;
        }
        if (is_top) {
          Rect r = impl->rect;
          gtk_window_move(GTK_WINDOW(target), r.left, r.top);
          if (command == kSwShowNa)
            gtk_window_set_focus_on_map(GTK_WINDOW(target), FALSE);
          impl->invalid = true;
        }
        gtk_widget_show(target);
        return;
    }
  });
  return was_visible;
}

bool IsWindowVisible(Hwnd window) {
  auto impl = Find(window);
  if (!impl)
    return false;
  std::lock_guard<std::mutex> hold(impl->state_lock);
  return impl->visible;
}

std::uint32_t GetWindowStyle(Hwnd window) {
  auto impl = Find(window);
  if (!impl)
    return 0;
  std::lock_guard<std::mutex> hold(impl->state_lock);
  std::uint32_t style = 0;
  if (impl->visible)
    style |= kWsVisible;
  if (impl->minimized)
    style |= kWsMinimize;
  if (impl->maximized)
    style |= kWsMaximize;
  return style;
}

bool ClientToScreen(Hwnd window, int* x, int* y) {
  if (x == nullptr || y == nullptr || !IsWindow(window))
    return false;
  Rect r = GetWindowRect(window);
  *x += r.left;
  *y += r.top;
  return true;
}

void InvalidateRect(Hwnd window, const Rect*) {
  auto impl = Find(window);
  if (!impl || impl->area == nullptr || impl->destroyed)
    return;
  // Never waits for the window thread: painting threads call this too.
  impl->invalid = true;
  if (g_initialised.load())
    QueueRedraw(impl);
}

bool SetWindowText(Hwnd window, const std::wstring& text) {
  auto impl = Find(window);
  if (!impl)
    return false;
  {
    std::lock_guard<std::mutex> hold(impl->state_lock);
    impl->text = text;
  }
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    std::string utf8 = WideToUtf8(text);
    switch (impl->kind) {
      case Kind::kDialog:
        gtk_window_set_title(GTK_WINDOW(impl->toplevel), utf8.c_str());
        break;
      case Kind::kEdit:
        gtk_entry_set_text(GTK_ENTRY(impl->widget), utf8.c_str());
        break;
      case Kind::kButton:
        gtk_button_set_label(GTK_BUTTON(impl->widget), utf8.c_str());
        break;
      case Kind::kGroup:
        gtk_frame_set_label(GTK_FRAME(impl->widget), utf8.c_str());
        break;
      default:
        break;
    }
  });
  return true;
}

std::wstring GetWindowText(Hwnd window) {
  auto impl = Find(window);
  if (!impl)
    return {};
  if (impl->kind == Kind::kEdit) {
    std::wstring text;
    RunOnWindowThread([&] {
      if (!impl->destroyed)
        text = Utf8ToWide(gtk_entry_get_text(GTK_ENTRY(impl->widget)));
    });
    return text;
  }
  std::lock_guard<std::mutex> hold(impl->state_lock);
  return impl->text;
}

bool SetWindowIconResource(Hwnd window, int resource_id) {
  auto impl = Find(window);
  if (!impl || impl->toplevel == nullptr)
    return false;
  auto bytes = FindResource(resource_id, "ICON");
  if (bytes.empty())
    bytes = FindResource(resource_id, "BITMAP");
  if (bytes.empty())
    return false;
  bool ok = false;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    if (gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), nullptr) &&
        gdk_pixbuf_loader_close(loader, nullptr)) {
      if (GdkPixbuf* icon = gdk_pixbuf_loader_get_pixbuf(loader)) {
        gtk_window_set_icon(GTK_WINDOW(impl->toplevel), icon);
        ok = true;
      }
    } else {
      gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
  });
  return ok;
}

namespace {

// The primary monitor's rectangle (the first one when none is primary);
// empty without a window system.
GdkRectangle PrimaryMonitorGeometry() {
  GdkRectangle geometry{0, 0, 0, 0};
  if (!InitWindowSystem())
    return geometry;
  RunOnWindowThread([&] {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr)
      monitor = gdk_display_get_monitor(display, 0);
    if (monitor != nullptr)
      gdk_monitor_get_geometry(monitor, &geometry);
  });
  return geometry;
}

}  // namespace

int ScreenWidth() {
  return PrimaryMonitorGeometry().width;
}

int ScreenHeight() {
  return PrimaryMonitorGeometry().height;
}

int WindowDpi(Hwnd) {
  if (!InitWindowSystem())
    return 96;
  double dpi = 96.0;
  RunOnWindowThread([&] {
    GdkScreen* screen = gdk_screen_get_default();
    double r = screen != nullptr ? gdk_screen_get_resolution(screen) : -1.0;
    if (r > 0)
      dpi = r;
  });
  return static_cast<int>(dpi + 0.5);
}

bool CopyToWindow(Hwnd window, const Canvas& source, int dx, int dy, int width, int height, int sx,
                  int sy) {
  auto impl = Find(window);
  if (!impl || impl->destroyed)
    return false;
  {
    std::lock_guard<std::mutex> hold(impl->store_lock);
    if (!impl->store)
      return false;
    impl->store->CopyFrom(source, dx, dy, width, height, sx, sy);
  }
  if (g_initialised.load())
    QueueRedraw(impl);
  return true;
}

std::unique_ptr<Canvas> CaptureWindow(Hwnd window) {
  auto impl = Find(window);
  if (!impl)
    return nullptr;
  std::lock_guard<std::mutex> hold(impl->store_lock);
  if (!impl->store)
    return nullptr;
  auto copy = std::make_unique<Canvas>(impl->store->width(), impl->store->height());
  copy->CopyFrom(*impl->store, 0, 0, impl->store->width(), impl->store->height());
  return copy;
}

std::unique_ptr<Canvas> CaptureScreen(const Rect& rect) {
  if (!InitWindowSystem() || rect.empty())
    return nullptr;
  std::unique_ptr<Canvas> shot;
  RunOnWindowThread([&] {
    GdkWindow* root = gdk_get_default_root_window();
    if (root == nullptr)
      return;
    GdkPixbuf* pixbuf =
        gdk_pixbuf_get_from_window(root, rect.left, rect.top, rect.width(), rect.height());
    if (pixbuf == nullptr)
      return;
    int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    int channels = gdk_pixbuf_get_n_channels(pixbuf), stride = gdk_pixbuf_get_rowstride(pixbuf);
    const guchar* data = gdk_pixbuf_read_pixels(pixbuf);
    shot = std::make_unique<Canvas>(w, h);
    for (int y = 0; y < h; ++y) {
      const guchar* row = data + static_cast<std::size_t>(y) * stride;
      for (int x = 0; x < w; ++x) {
        const guchar* p = row + static_cast<std::size_t>(x) * channels;
        shot->pixels()[static_cast<std::size_t>(y) * w + x] =
            static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
      }
    }
    g_object_unref(pixbuf);
  });
  return shot;
}

// ---- Child controls ----

Hwnd CreateEditBox(Hwnd parent, const Rect& rect, std::uint32_t style) {
  Hwnd handle = nullptr;
  RunOnWindowThread([&] {
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_has_frame(GTK_ENTRY(entry), TRUE);
    auto impl = MakeChild(parent, Kind::kEdit, rect, entry, entry);
    if (!impl)
      return;
    ApplyCss(*impl, entry, "entry { min-height: 0; border-radius: 0; }");
    handle = HandleOf(*impl);
    if (!(style & kWsVisible))
      ShowWindow(handle, kSwHide);
  });
  return handle;
}

void SetWindowFont(Hwnd window, const FontHandle& font) {
  auto impl = Find(window);
  if (!impl || !font || impl->widget == nullptr)
    return;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    std::string css = "* { font-family: \"" + WideToUtf8(font->description().face) +
                      "\"; font-size: " + std::to_string(font->pixel_size()) + "px; }";
    ApplyCss(*impl, impl->widget, css);
  });
}

void SetEditTextRect(Hwnd edit, const Rect& rect) {
  auto impl = Find(edit);
  if (!impl || impl->kind != Kind::kEdit)
    return;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    std::string css = "entry { min-height: 0; border-radius: 0; padding: " +
                      std::to_string(std::max(rect.top, 0)) + "px " +
                      std::to_string(std::max(impl->rect.width() - rect.right, 0)) + "px 0px " +
                      std::to_string(std::max(rect.left, 0)) + "px; }";
    gtk_css_provider_load_from_data(impl->css, css.c_str(), -1, nullptr);
  });
}

Hwnd CreatePushButton(Hwnd parent, int id, const std::wstring& text, const Rect& rect) {
  Hwnd handle = nullptr;
  RunOnWindowThread([&] {
    GtkWidget* button = gtk_button_new_with_label(WideToUtf8(text).c_str());
    auto impl = MakeChild(parent, Kind::kButton, rect, button, button);
    if (!impl)
      return;
    impl->control_id = id;
    impl->text = text;
    handle = HandleOf(*impl);
    g_signal_connect(button, "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
                       auto self = Find(static_cast<Hwnd>(data));
                       if (self) {
                         Dispatch(self->parent, kWmCommand,
                                  static_cast<WParam>(self->control_id & 0xFFFF), 0);
                       }
                     }),
                     handle);
  });
  return handle;
}

Hwnd CreateGroupBox(Hwnd parent, const std::wstring& text, const Rect& rect) {
  Hwnd handle = nullptr;
  RunOnWindowThread([&] {
    GtkWidget* frame = gtk_frame_new(WideToUtf8(text).c_str());
    auto impl = MakeChild(parent, Kind::kGroup, rect, frame, frame);
    if (impl) {
      impl->text = text;
      handle = HandleOf(*impl);
    }
  });
  return handle;
}

Hwnd CreateListView(Hwnd parent, int id, const Rect& rect, const std::vector<ListColumn>& columns) {
  Hwnd handle = nullptr;
  RunOnWindowThread([&] {
    int n = std::max<int>(static_cast<int>(columns.size()), 1);
    std::vector<GType> types(n, G_TYPE_STRING);
    GtkListStore* model = gtk_list_store_newv(n, types.data());
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(model));
    g_object_unref(model);  // the view keeps it
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
      GtkCellRenderer* cell = gtk_cell_renderer_text_new();
      GtkTreeViewColumn* column = gtk_tree_view_column_new_with_attributes(
          WideToUtf8(columns[i].title).c_str(), cell, "text", i, nullptr);
      gtk_tree_view_column_set_sizing(column, GTK_TREE_VIEW_COLUMN_FIXED);
      gtk_tree_view_column_set_fixed_width(column, std::max(columns[i].width, 1));
      gtk_tree_view_column_set_resizable(column, TRUE);
      gtk_tree_view_append_column(GTK_TREE_VIEW(view), column);
    }
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    auto impl = MakeChild(parent, Kind::kListView, rect, view, scroll);
    if (!impl)
      return;
    impl->store_model = model;
    impl->control_id = id;
    handle = HandleOf(*impl);
  });
  return handle;
}

void ListViewDeleteAll(Hwnd list) {
  auto impl = Find(list);
  if (!impl || impl->store_model == nullptr)
    return;
  RunOnWindowThread([&] {
    if (!impl->destroyed)
      gtk_list_store_clear(impl->store_model);
  });
}

void ListViewAddRow(Hwnd list, const std::vector<std::wstring>& cells) {
  auto impl = Find(list);
  if (!impl || impl->store_model == nullptr)
    return;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    GtkTreeIter iter;
    gtk_list_store_append(impl->store_model, &iter);
    int n = gtk_tree_model_get_n_columns(GTK_TREE_MODEL(impl->store_model));
    for (int i = 0; i < n && i < static_cast<int>(cells.size()); ++i) {
      gtk_list_store_set(impl->store_model, &iter, i, WideToUtf8(cells[i]).c_str(), -1);
    }
  });
}

int ListViewRowCount(Hwnd list) {
  auto impl = Find(list);
  if (!impl || impl->store_model == nullptr)
    return 0;
  int count = 0;
  RunOnWindowThread([&] {
    if (!impl->destroyed) {
      count = gtk_tree_model_iter_n_children(GTK_TREE_MODEL(impl->store_model), nullptr);
    }
  });
  return count;
}

std::vector<std::wstring> ListViewRow(Hwnd list, int row) {
  auto impl = Find(list);
  std::vector<std::wstring> cells;
  if (!impl || impl->store_model == nullptr)
    return cells;
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    GtkTreeModel* model = GTK_TREE_MODEL(impl->store_model);
    GtkTreeIter iter;
    if (!gtk_tree_model_iter_nth_child(model, &iter, nullptr, row))
      return;
    int n = gtk_tree_model_get_n_columns(model);
    for (int i = 0; i < n; ++i) {
      gchar* value = nullptr;
      gtk_tree_model_get(model, &iter, i, &value, -1);
      cells.push_back(value != nullptr ? Utf8ToWide(value) : std::wstring());
      g_free(value);
    }
  });
  return cells;
}

Hwnd CreateListBox(Hwnd parent, int id, const Rect& rect) {
  Hwnd handle = CreateListView(parent, id, rect, {{L"", std::max(rect.width() - 20, 1)}});
  if (auto impl = Find(handle)) {
    impl->kind = Kind::kListBox;
    RunOnWindowThread(
        [&] { gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(impl->widget), FALSE); });
  }
  return handle;
}

// Log lines arrive from every thread; a writer must never wait for the
// window thread (which may itself be waiting for that writer), so lines from
// other threads are queued, in order.
void ListBoxAddString(Hwnd list, const std::wstring& text) {
  if (!g_initialised.load() || IsWindowThread()) {
    ListViewAddRow(list, {text});
    return;
  }
  struct Line {
    Hwnd list;
    std::wstring text;
  };
  Publish();
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer data) -> gboolean {
        Receive();
        auto* line = static_cast<Line*>(data);
        ListViewAddRow(line->list, {line->text});
        return G_SOURCE_REMOVE;
      },
      new Line{list, text}, [](gpointer data) { delete static_cast<Line*>(data); });
}

int ListBoxCount(Hwnd list) {
  return ListViewRowCount(list);
}

// ---- Shell services ----

std::optional<std::wstring> BrowseForFolder(Hwnd owner, const std::wstring& title,
                                            const std::wstring& initial_folder) {
  if (!InitWindowSystem())
    return std::nullopt;
  std::optional<std::wstring> chosen;
  RunOnWindowThread([&] {
    auto o = Find(owner);
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        WideToUtf8(title).c_str(), o ? GTK_WINDOW(o->toplevel) : nullptr,
        GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel", GTK_RESPONSE_CANCEL, "_OK",
        GTK_RESPONSE_ACCEPT, nullptr);
    if (!initial_folder.empty()) {
      gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog),
                                          WideToUtf8(initial_folder).c_str());
    }
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
      if (gchar* path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
        chosen = Utf8ToWide(path);
        g_free(path);
      }
    }
    gtk_widget_destroy(dialog);
  });
  return chosen;
}

int SystemMessageBox(Hwnd owner, const std::wstring& text, const std::wstring& caption) {
  if (!InitWindowSystem())
    return 0;
  int result = 0;
  RunOnWindowThread([&] {
    auto o = Find(owner);
    GtkWidget* dialog =
        gtk_message_dialog_new(o ? GTK_WINDOW(o->toplevel) : nullptr, GTK_DIALOG_MODAL,
                               GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s", WideToUtf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), WideToUtf8(caption).c_str());
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    result = kIdOk;
  });
  return result;
}

bool OpenUrl(const std::wstring& url) {
  std::string uri = WideToUtf8(url);
  if (uri.empty())
    return false;
  return g_app_info_launch_default_for_uri(uri.c_str(), nullptr, nullptr) == TRUE;
}

// ---- Layered windows ----

bool LayeredWindowsAvailable() {
  if (!InitWindowSystem())
    return false;
  bool composited = false;
  RunOnWindowThread([&] {
    GdkScreen* screen = gdk_screen_get_default();
    composited = screen != nullptr && gdk_screen_is_composited(screen) &&
                 gdk_screen_get_rgba_visual(screen) != nullptr;
  });
  return composited;
}

Hwnd CreateLayeredWindow(Hwnd owner) {
  if (!LayeredWindowsAvailable())
    return nullptr;
  Hwnd handle = nullptr;
  RunOnWindowThread([&] {
    auto impl = Register(Kind::kLayered);
    handle = HandleOf(*impl);
    impl->owner = owner;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_POPUP);
    gtk_widget_set_visual(window, gdk_screen_get_rgba_visual(gdk_screen_get_default()));
    gtk_widget_set_app_paintable(window, TRUE);
    gtk_window_set_accept_focus(GTK_WINDOW(window), FALSE);
    if (auto o = Find(owner); o && o->toplevel != nullptr) {
      gtk_window_set_transient_for(GTK_WINDOW(window), GTK_WINDOW(o->toplevel));
    }
    impl->toplevel = window;
    impl->area = window;
    g_signal_connect(window, "draw", G_CALLBACK(OnDraw), handle);
    g_signal_connect(window, "configure-event", G_CALLBACK(OnConfigure), handle);
    // Click-through: an empty input shape once the window exists.
    g_signal_connect(window, "realize", G_CALLBACK(+[](GtkWidget* w, gpointer) {
                       cairo_region_t* none = cairo_region_create();
                       gdk_window_input_shape_combine_region(gtk_widget_get_window(w), none, 0, 0);
                       cairo_region_destroy(none);
                     }),
                     nullptr);
  });
  return handle;
}

bool UpdateLayeredWindow(Hwnd window, int x, int y, int width, int height,
                         const std::uint32_t* pixels, bool bottom_up) {
  auto impl = Find(window);
  if (!impl || impl->kind != Kind::kLayered || pixels == nullptr || width <= 0 || height <= 0) {
    return false;
  }
  {
    std::lock_guard<std::mutex> hold(impl->store_lock);
    impl->layered_pixels.assign(static_cast<std::size_t>(width) * height, 0);
    for (int row = 0; row < height; ++row) {
      const std::uint32_t* src =
          pixels + static_cast<std::size_t>(bottom_up ? height - 1 - row : row) * width;
      std::memcpy(impl->layered_pixels.data() + static_cast<std::size_t>(row) * width, src,
                  static_cast<std::size_t>(width) * 4);
    }
    std::lock_guard<std::mutex> s(impl->state_lock);
    impl->rect = {x, y, x + width, y + height};
  }
  RunOnWindowThread([&] {
    if (impl->destroyed)
      return;
    gtk_window_move(GTK_WINDOW(impl->toplevel), x, y);
    gtk_window_resize(GTK_WINDOW(impl->toplevel), width, height);
    gtk_widget_queue_draw(impl->toplevel);
  });
  return true;
}

}  // namespace zel::platform
