// Off-screen drawing: pictures (bitmaps) and canvases (a memory device
// context holding a 32-bit bitmap). Pixels are 0xRRGGBB with blue in the
// lowest byte; the top byte of canvas pixels carries no meaning. Colours of
// fills and text are COLORREF values (0x00BBGGRR), as the Windows calls take
// them.
#ifndef ZEL_PLATFORM_CANVAS_H_
#define ZEL_PLATFORM_CANVAS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/font.h"

namespace zel::platform {

using ColorRef = std::uint32_t;

constexpr ColorRef Rgb(unsigned r, unsigned g, unsigned b) {
  return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr std::uint32_t ColorRefToPixel(ColorRef c) {
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}
constexpr ColorRef PixelToColorRef(std::uint32_t p) {
  return ColorRefToPixel(p & 0xFFFFFF);
}

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};

// DrawTextW format flags (the values Windows uses). Vertical placement
// (kDtVCenter, kDtBottom) applies to single-line text only, as there.
inline constexpr unsigned kDtLeft = 0x0000;
inline constexpr unsigned kDtCenter = 0x0001;
inline constexpr unsigned kDtRight = 0x0002;
inline constexpr unsigned kDtVCenter = 0x0004;
inline constexpr unsigned kDtBottom = 0x0008;
inline constexpr unsigned kDtWordBreak = 0x0010;
inline constexpr unsigned kDtSingleLine = 0x0020;
inline constexpr unsigned kDtNoClip = 0x0100;
inline constexpr unsigned kDtCalcRect = 0x0400;
inline constexpr unsigned kDtEditControl = 0x2000;
inline constexpr unsigned kDtEndEllipsis = 0x8000;

// A picture loaded once and then only read. Rows top-down; pixels
// 0x00RRGGBB for 24-bit pictures and premultiplied 0xAARRGGBB for 32-bit ones.
class Bitmap {
 public:
  // Decodes a PNG file image; null when the bytes are not a readable picture.
  static std::shared_ptr<Bitmap> Decode(std::span<const std::uint8_t> bytes);
  // |pixels| has width * height entries; null for a non-positive size.
  static std::shared_ptr<Bitmap> FromPixels(int width, int height, const std::uint32_t* pixels,
                                            bool has_alpha);
  ~Bitmap() = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  int bits_per_pixel() const { return has_alpha_ ? 32 : 24; }
  // width * height values.
  const std::uint32_t* pixels() const { return pixels_.data(); }
  // The pixels as GetBitmapBits gives them for a 32-bit display: rows
  // top-down, 4 bytes each; 24-bit pictures have a zero top byte.
  void CopyBits(std::uint32_t* out, std::size_t count) const;

 private:
  Bitmap(int width, int height, bool has_alpha);

  int width_ = 0;
  int height_ = 0;
  bool has_alpha_ = false;
  std::vector<std::uint32_t> pixels_;
};

using BitmapHandle = std::shared_ptr<const Bitmap>;

// A memory device context with its bitmap, width * height pixels, black
// when made. Drawing is clipped to the canvas. One canvas must not be drawn
// from two threads at once; different canvases may.
class Canvas {
 public:
  Canvas(int width, int height);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  // Moving keeps the pixel buffer (and so the surface over it) in place.
  Canvas(Canvas&& other) noexcept;
  Canvas& operator=(Canvas&&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  // Rows top-down, width() pixels a row, no padding.
  std::uint32_t* pixels();
  const std::uint32_t* pixels() const;
  // The pixel at (x, y) as 0xRRGGBB; 0 outside the canvas.
  std::uint32_t PixelAt(int x, int y) const;

  // FillRect with a solid brush of |colour|.
  void FillRect(const Rect& rect, ColorRef colour);
  // SetBitmapBits: copies up to width * height pixels (0xRRGGBB), row by row.
  void SetPixels(const std::uint32_t* pixels, std::size_t count);
  // BitBlt SRCCOPY of |picture|'s (sx, sy, w, h) to (dx, dy). The part outside
  // the picture is left alone.
  void DrawBitmap(const Bitmap& picture, int dx, int dy, int w, int h, int sx = 0, int sy = 0);
  // TransparentBlt: like DrawBitmap, skipping pixels equal to |key|.
  void DrawBitmapTransparent(const Bitmap& picture, int dx, int dy, ColorRef key = 0xFFFFFF);
  // BitBlt SRCCOPY from another canvas.
  void CopyFrom(const Canvas& source, int dx, int dy, int w, int h, int sx = 0, int sy = 0);

  // DrawTextW with a transparent background. Without |font| a default face is
  // used. Text never leaves |rect| (even with kDtNoClip). With kDtCalcRect
  // nothing is drawn and |rect|'s right and bottom are set to the measured
  // extent. Returns the height of the text.
  int DrawText(std::wstring_view text, Rect* rect, unsigned format, const Font* font,
               ColorRef colour);

  // For the windowing layer: the cairo surface over pixels().
  void* native() const { return surface_; }

  // Writes the canvas as a PNG file (diagnostics, screenshots).
  bool SavePng(const std::string& path) const;

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<std::uint32_t> pixels_;
  void* surface_ = nullptr;
};

// Measures |text| as DrawText would lay it out in |rect| without drawing.
Rect MeasureText(std::wstring_view text, const Rect& rect, unsigned format, const Font* font);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_CANVAS_H_
