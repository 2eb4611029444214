// Fonts for drawing text into canvases, described the way a LOGFONT is.
// Face names the program uses ("微软雅黑", "ArialMT") are mapped through
// fontconfig aliases to fonts that exist on the machine.
#ifndef ZEL_PLATFORM_FONT_H_
#define ZEL_PLATFORM_FONT_H_

#include <memory>
#include <string>

namespace zel::platform {

struct FontSpec {
  std::wstring face;
  // As LOGFONT.lfHeight: negative = character (em) height in pixels,
  // positive = cell height, 0 = a default size.
  int height = 0;
  int weight = 0;  // 0 or 400 normal, 700 bold
  bool italic = false;
  bool underline = false;
};

class Font {
 public:
  explicit Font(const FontSpec& wanted);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  const FontSpec& description() const { return wanted_; }
  // Em height in pixels used for layout.
  int pixel_size() const { return pixel_size_; }
  // The toolkit's description (a PangoFontDescription*), for the drawing code.
  void* native() const { return description_; }

 private:
  FontSpec wanted_;
  int pixel_size_ = 0;
  void* description_ = nullptr;
};

using FontHandle = std::shared_ptr<const Font>;

// CreateFontIndirectW. Never fails: an unknown face falls back to the
// default sans face at text layout time.
FontHandle CreateFont(const FontSpec& wanted);

// MulDiv: a * b / c rounded to nearest, computed in 64 bits; -1 when c is 0.
int MulDiv(int a, int b, int c);

// Loads the program's face aliases into the process's fontconfig setup.
// Called by the drawing and windowing code before any text is laid out;
// safe to call more than once and from any thread.
void EnsureFontAliases();

// The family fontconfig picks for |face| (for diagnostics and tests).
std::string ResolvedFontFamily(const std::wstring& face);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_FONT_H_
