#include "platform/canvas.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/text.h"

namespace zel::platform {
namespace {

// Pango's font maps and contexts are not thread-safe, and painting runs on
// the window's thread and on repaint threads; every layout goes through this.
struct TextEngine {
  std::mutex lock;
  PangoFontMap* map = nullptr;
  PangoContext* context = nullptr;
  PangoFontDescription* fallback = nullptr;
};

TextEngine& Engine() {
  static TextEngine* engine = [] {
    EnsureFontAliases();
    auto* e = new TextEngine;  // Lives until exit; painting threads may outlive statics.
    e->map = pango_cairo_font_map_new();
    e->context = pango_font_map_create_context(e->map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    pango_cairo_context_set_font_options(e->context, options);
    cairo_font_options_destroy(options);
    e->fallback = pango_font_description_from_string("sans-serif");
    pango_font_description_set_absolute_size(e->fallback, 13.0 * PANGO_SCALE);
    return e;
  }();
  return *engine;
}

struct Line {
  PangoLayoutLine* line;  // owned by the layout
  int width;
  int height;
  int baseline;  // from the line's top
};

// A laid-out text: the lines and their sizes, in pixels.
class TextLayout {
 public:
  TextLayout(TextEngine& engine, std::wstring_view text, int box_width, unsigned format,
             const Font* font) {
    std::string utf8 = WideToUtf8(text);
    if (format & kDtSingleLine) {
      std::replace(utf8.begin(), utf8.end(), '\n', ' ');
      std::replace(utf8.begin(), utf8.end(), '\r', ' ');
    } else {
      utf8.erase(std::remove(utf8.begin(), utf8.end(), '\r'), utf8.end());
    }
    layout_ = pango_layout_new(engine.context);
    pango_layout_set_font_description(
        layout_, font != nullptr ? static_cast<const PangoFontDescription*>(font->native())
                                 : engine.fallback);
    if (font != nullptr && font->description().underline) {
      PangoAttrList* attrs = pango_attr_list_new();
      pango_attr_list_insert(attrs, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
      pango_layout_set_attributes(layout_, attrs);
      pango_attr_list_unref(attrs);
    }
    if (!(format & kDtSingleLine) && (format & kDtWordBreak) && box_width > 0) {
      pango_layout_set_width(layout_, box_width * PANGO_SCALE);
      pango_layout_set_wrap(layout_, PANGO_WRAP_WORD_CHAR);
    }
    pango_layout_set_text(layout_, utf8.c_str(), static_cast<int>(utf8.size()));
    if (utf8.empty())
      return;
    int count = pango_layout_get_line_count(layout_);
    for (int i = 0; i < count; ++i) {
      PangoLayoutLine* line = pango_layout_get_line_readonly(layout_, i);
      PangoRectangle ink, logical;
      pango_layout_line_get_pixel_extents(line, &ink, &logical);
      lines_.push_back({line, logical.width, logical.height, -logical.y});
      height_ += logical.height;
      width_ = std::max(width_, logical.width);
    }
  }
  ~TextLayout() { g_object_unref(layout_); }
  TextLayout(const TextLayout&) = delete;
  TextLayout& operator=(const TextLayout&) = delete;

  const std::vector<Line>& lines() const { return lines_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  PangoLayout* layout_ = nullptr;
  std::vector<Line> lines_;
  int width_ = 0;
  int height_ = 0;
};

int LineX(const Rect& rect, int line_width, unsigned format) {
  if (format & kDtCenter)
    return rect.left + (rect.width() - line_width) / 2;
  if (format & kDtRight)
    return rect.right - line_width;
  return rect.left;
}

// Top of the first line: vertical placement is for single-line text only.
int FirstLineY(const Rect& rect, int text_height, unsigned format) {
  if (!(format & kDtSingleLine))
    return rect.top;
  if (format & kDtVCenter)
    return rect.top + (rect.height() - text_height) / 2;
  if (format & kDtBottom)
    return rect.bottom - text_height;
  return rect.top;
}

cairo_surface_t* SurfaceOver(std::uint32_t* pixels, int width, int height, cairo_format_t format) {
  if (width <= 0 || height <= 0)
    return nullptr;
  return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(pixels), format,
                                             width, height, width * 4);
}

struct PngReader {
  std::span<const std::uint8_t> bytes;
  std::size_t offset = 0;
};

cairo_status_t ReadPng(void* closure, unsigned char* data, unsigned int length) {
  auto* reader = static_cast<PngReader*>(closure);
  if (reader->bytes.size() - reader->offset < length)
    return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, reader->bytes.data() + reader->offset, length);
  reader->offset += length;
  return CAIRO_STATUS_SUCCESS;
}

// Clips a w x h copy from (sx, sy) of a source to (dx, dy) of a target:
// first to the source, then to the target. False when nothing is left.
bool ClipCopy(int source_w, int source_h, int target_w, int target_h, int* dx, int* dy, int* w,
              int* h, int* sx, int* sy) {
  if (*sx < 0) {
    *dx -= *sx;
    *w += *sx;
    *sx = 0;
  }
  if (*sy < 0) {
    *dy -= *sy;
    *h += *sy;
    *sy = 0;
  }
  *w = std::min(*w, source_w - *sx);
  *h = std::min(*h, source_h - *sy);
  if (*dx < 0) {
    *sx -= *dx;
    *w += *dx;
    *dx = 0;
  }
  if (*dy < 0) {
    *sy -= *dy;
    *h += *dy;
    *dy = 0;
  }
  *w = std::min(*w, target_w - *dx);
  *h = std::min(*h, target_h - *dy);
  return *w > 0 && *h > 0;
}

}  // namespace

// ---- Bitmap ----

Bitmap::Bitmap(int width, int height, bool has_alpha)
    : width_(width),
      height_(height),
      has_alpha_(has_alpha),
      pixels_(static_cast<std::size_t>(width) * height) {}

std::shared_ptr<Bitmap> Bitmap::Decode(std::span<const std::uint8_t> bytes) {
  static constexpr std::uint8_t kPngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kPngMagic, 8) != 0)
    return nullptr;
  PngReader reader{bytes};
  cairo_surface_t* surface = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return nullptr;
  }
  cairo_surface_flush(surface);
  int w = cairo_image_surface_get_width(surface);
  int h = cairo_image_surface_get_height(surface);
  cairo_format_t format = cairo_image_surface_get_format(surface);
  std::shared_ptr<Bitmap> picture;
  if (w > 0 && h > 0 && (format == CAIRO_FORMAT_RGB24 || format == CAIRO_FORMAT_ARGB32)) {
    bool alpha = format == CAIRO_FORMAT_ARGB32;
    picture.reset(new Bitmap(w, h, alpha));
    const unsigned char* data = cairo_image_surface_get_data(surface);
    int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < h; ++y) {
      const auto* row =
          reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
      std::uint32_t* out = picture->pixels_.data() + static_cast<std::size_t>(y) * w;
      for (int x = 0; x < w; ++x)
        out[x] = alpha ? row[x] : (row[x] & 0xFFFFFF);
    }
  }
  cairo_surface_destroy(surface);
  return picture;
}

std::shared_ptr<Bitmap> Bitmap::FromPixels(int width, int height, const std::uint32_t* pixels,
                                           bool has_alpha) {
  if (width <= 0 || height <= 0 || pixels == nullptr)
    return nullptr;
  std::shared_ptr<Bitmap> picture(new Bitmap(width, height, has_alpha));
  for (std::size_t i = 0; i < picture->pixels_.size(); ++i) {
    picture->pixels_[i] = has_alpha ? pixels[i] : (pixels[i] & 0xFFFFFF);
  }
  return picture;
}

void Bitmap::CopyBits(std::uint32_t* out, std::size_t count) const {
  std::size_t n = std::min(count, pixels_.size());
  std::memcpy(out, pixels_.data(), n * sizeof(std::uint32_t));
}

// ---- Canvas ----

Canvas::Canvas(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      pixels_(static_cast<std::size_t>(width_) * height_, 0) {
  surface_ = SurfaceOver(pixels_.data(), width_, height_, CAIRO_FORMAT_RGB24);
}

Canvas::Canvas(Canvas&& other) noexcept
    : width_(other.width_),
      height_(other.height_),
      pixels_(std::move(other.pixels_)),
      surface_(other.surface_) {
  other.surface_ = nullptr;
  other.width_ = other.height_ = 0;
}

Canvas::~Canvas() {
  if (surface_ != nullptr)
    cairo_surface_destroy(static_cast<cairo_surface_t*>(surface_));
}

std::uint32_t* Canvas::pixels() {
  return pixels_.data();
}
const std::uint32_t* Canvas::pixels() const {
  return pixels_.data();
}

std::uint32_t Canvas::PixelAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_)
    return 0;
  return pixels_[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFF;
}

void Canvas::FillRect(const Rect& rect, ColorRef colour) {
  int l = std::max(rect.left, 0), t = std::max(rect.top, 0);
  int r = std::min(rect.right, width_), b = std::min(rect.bottom, height_);
  if (l >= r || t >= b)
    return;
  std::uint32_t pixel = ColorRefToPixel(colour);
  for (int y = t; y < b; ++y) {
    std::uint32_t* row = pixels_.data() + static_cast<std::size_t>(y) * width_;
    std::fill(row + l, row + r, pixel);
  }
}

void Canvas::SetPixels(const std::uint32_t* pixels, std::size_t count) {
  if (pixels == nullptr)
    return;
  std::size_t n = std::min(count, pixels_.size());
  std::memcpy(pixels_.data(), pixels, n * sizeof(std::uint32_t));
}

void Canvas::DrawBitmap(const Bitmap& picture, int dx, int dy, int w, int h, int sx, int sy) {
  if (!ClipCopy(picture.width(), picture.height(), width_, height_, &dx, &dy, &w, &h, &sx, &sy))
    return;
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* src =
        picture.pixels() + static_cast<std::size_t>(sy + y) * picture.width() + sx;
    std::memcpy(pixels_.data() + static_cast<std::size_t>(dy + y) * width_ + dx, src,
                static_cast<std::size_t>(w) * sizeof(std::uint32_t));
  }
}

void Canvas::DrawBitmapTransparent(const Bitmap& picture, int dx, int dy, ColorRef key) {
  std::uint32_t key_pixel = ColorRefToPixel(key);
  for (int y = 0; y < picture.height(); ++y) {
    int ty = dy + y;
    if (ty < 0 || ty >= height_)
      continue;
    const std::uint32_t* src = picture.pixels() + static_cast<std::size_t>(y) * picture.width();
    std::uint32_t* dst = pixels_.data() + static_cast<std::size_t>(ty) * width_;
    for (int x = 0; x < picture.width(); ++x) {
      int tx = dx + x;
      if (tx < 0 || tx >= width_)
        continue;
      if ((src[x] & 0xFFFFFF) == key_pixel)
        continue;
      dst[tx] = src[x];
    }
  }
}

void Canvas::CopyFrom(const Canvas& source, int dx, int dy, int w, int h, int sx, int sy) {
  if (!ClipCopy(source.width_, source.height_, width_, height_, &dx, &dy, &w, &h, &sx, &sy))
    return;
  for (int y = 0; y < h; ++y) {
    std::memmove(pixels_.data() + static_cast<std::size_t>(dy + y) * width_ + dx,
                 source.pixels_.data() + static_cast<std::size_t>(sy + y) * source.width_ + sx,
                 static_cast<std::size_t>(w) * sizeof(std::uint32_t));
  }
}

int Canvas::DrawText(std::wstring_view text, Rect* rect, unsigned format, const Font* font,
                     ColorRef colour) {
  if (rect == nullptr)
    return 0;
  TextEngine& engine = Engine();
  std::lock_guard<std::mutex> hold(engine.lock);
  TextLayout layout(engine, text, rect->width(), format, font);
  if (format & kDtCalcRect) {
    rect->right = rect->left + layout.width();
    rect->bottom = rect->top + layout.height();
    return layout.height();
  }
  int y = FirstLineY(*rect, layout.height(), format);
  int result = (format & kDtSingleLine) && (format & (kDtVCenter | kDtBottom))
                   ? y - rect->top + layout.height()
                   : layout.height();
  if (surface_ == nullptr || layout.lines().empty() || rect->empty())
    return result;
  cairo_t* cr = cairo_create(static_cast<cairo_surface_t*>(surface_));
  cairo_rectangle(cr, rect->left, rect->top, rect->width(), rect->height());
  cairo_clip(cr);
  cairo_set_source_rgb(cr, (colour & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                       ((colour >> 16) & 0xFF) / 255.0);
  pango_cairo_update_context(cr, engine.context);
  for (const Line& line : layout.lines()) {
    // An edit control shows no partly visible last line.
    if ((format & kDtEditControl) && y + line.height > rect->bottom && y > rect->top)
      break;
    if (y >= rect->bottom)
      break;
    cairo_move_to(cr, LineX(*rect, line.width, format), y + line.baseline);
    pango_cairo_show_layout_line(cr, line.line);
    y += line.height;
  }
  cairo_destroy(cr);
  cairo_surface_mark_dirty(static_cast<cairo_surface_t*>(surface_));
  return result;
}

bool Canvas::SavePng(const std::string& path) const {
  if (surface_ == nullptr)
    return false;
  cairo_surface_flush(static_cast<cairo_surface_t*>(surface_));
  return cairo_surface_write_to_png(static_cast<cairo_surface_t*>(surface_), path.c_str()) ==
         CAIRO_STATUS_SUCCESS;
}

Rect MeasureText(std::wstring_view text, const Rect& rect, unsigned format, const Font* font) {
  Canvas none(0, 0);
  Rect out = rect;
  none.DrawText(text, &out, format | kDtCalcRect, font, 0);
  return out;
}

}  // namespace zel::platform

// The toolkit keeps process-lifetime caches (fontconfig, Pango, GTK) that it
// never frees; they are not leaks of ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig\nleak:libpango\nleak:libgtk-3\nleak:libgdk-3\nleak:libglib-2.0\n"
         "leak:libgobject-2.0\nleak:libcairo\nleak:libharfbuzz\nleak:libgio-2.0\nleak:libX11\n"
         "leak:libfreetype\nleak:libatk\nleak:libgdk_pixbuf\n";
}
