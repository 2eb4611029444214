// Draws the installer's skin pictures (resources/skin/<id>.png) with cairo.
// Run once after changing the artwork and commit the pictures:
//   skin-gen pictures resources/skin
//   skin-gen sheet resources/skin docs/skin-contact-sheet.png
//
// Pictures that the painters key on pure white (0xFFFFFF = transparent) are
// drawn on white; the rest are opaque.
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/font.h"
#include "platform/resources.h"
#include "ui/common_ctrl.h"
#include "ui/skin_message_box.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
  double r, g, b;
};

// The Telviska palette.
constexpr Rgb kBlue{27 / 255.0, 137 / 255.0, 244 / 255.0};    // install button frame
constexpr Rgb kSky{63 / 255.0, 160 / 255.0, 255 / 255.0};     // install button fill
constexpr Rgb kIndigo{74 / 255.0, 71 / 255.0, 181 / 255.0};   // message box band
constexpr Rgb kDeep{18 / 255.0, 60 / 255.0, 160 / 255.0};     // finish picture top
constexpr Rgb kViolet{98 / 255.0, 64 / 255.0, 196 / 255.0};   // finish picture accent
constexpr Rgb kGlyph{118 / 255.0, 128 / 255.0, 142 / 255.0};  // window buttons on white

void Source(cairo_t* cr, Rgb c, double a = 1.0) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, a);
}

Rgb Mix(Rgb a, Rgb b, double t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Grey(Rgb c) {
  double l = 0.30 * c.r + 0.59 * c.g + 0.11 * c.b;
  return {l, l, l};
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
  cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
  cairo_arc(cr, x + r, y + r, r, kPi, 1.5 * kPi);
  cairo_close_path(cr);
}

struct Picture {
  int id;
  int width;
  int height;
  bool alpha;
  std::function<void(cairo_t*, int, int)> draw;
  std::string note;
};

// ---- The product emblem ----

struct EmblemLook {
  bool glow = true;
  bool track = true;
  bool done_ring = false;
  bool grey = false;
};

Rgb Tone(Rgb c, const EmblemLook& look) {
  return look.grey ? Mix(Grey(c), Rgb{1, 1, 1}, 0.15) : c;
}

// The mark: a bold "T" whose stem sweeps into a spark, white on the disc.
void DrawMark(cairo_t* cr, double cx, double cy, double s) {
  cairo_save(cr);
  cairo_translate(cr, cx, cy);
  cairo_scale(cr, s, s);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_source_rgba(cr, 0, 0, 0, 0.16);  // soft drop under the mark
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1)
      cairo_set_source_rgb(cr, 1, 1, 1);
    double d = pass == 0 ? 0.035 : 0.0;
    cairo_set_line_width(cr, 0.2);
    cairo_move_to(cr, -0.43 + d, -0.36 + d);
    cairo_line_to(cr, 0.30 + d, -0.36 + d);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 0.21);
    cairo_move_to(cr, -0.06 + d, -0.30 + d);
    cairo_curve_to(cr, -0.06 + d, 0.05 + d, -0.08 + d, 0.30 + d, 0.20 + d, 0.40 + d);
    cairo_stroke(cr);
    cairo_arc(cr, 0.50 + d, -0.37 + d, 0.105, 0, 2 * kPi);
    cairo_fill(cr);
  }
  cairo_restore(cr);
}

void DrawDisc(cairo_t* cr, double cx, double cy, double r, const EmblemLook& look) {
  cairo_pattern_t* g = cairo_pattern_create_linear(cx - r, cy - r, cx + r, cy + r);
  Rgb a = Tone(Mix(kSky, Rgb{0.35, 0.8, 1.0}, 0.35), look), b = Tone(kBlue, look),
      c = Tone(kIndigo, look);
  cairo_pattern_add_color_stop_rgb(g, 0.0, a.r, a.g, a.b);
  cairo_pattern_add_color_stop_rgb(g, 0.5, b.r, b.g, b.b);
  cairo_pattern_add_color_stop_rgb(g, 1.0, c.r, c.g, c.b);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  // Glossy upper highlight.
  cairo_save(cr);
  cairo_arc(cr, cx, cy, r, 0, 2 * kPi);
  cairo_clip(cr);
  cairo_pattern_t* gloss = cairo_pattern_create_linear(0, cy - r, 0, cy + 0.1 * r);
  cairo_pattern_add_color_stop_rgba(gloss, 0, 1, 1, 1, 0.34);
  cairo_pattern_add_color_stop_rgba(gloss, 1, 1, 1, 1, 0.0);
  cairo_save(cr);
  cairo_translate(cr, cx, cy - 0.42 * r);
  cairo_scale(cr, 1.0, 0.62);
  cairo_arc(cr, 0, 0, 0.9 * r, 0, 2 * kPi);
  cairo_restore(cr);
  cairo_set_source(cr, gloss);
  cairo_fill(cr);
  cairo_pattern_destroy(gloss);
  cairo_restore(cr);
  // A fine inner rim.
  cairo_arc(cr, cx, cy, r - 1.5, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.25);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
  DrawMark(cr, cx + 0.02 * r, cy + 0.04 * r, r * 0.92);
}

void DrawEmblem(cairo_t* cr, int w, int h, const EmblemLook& look) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  double cx = w / 2.0 - 0.5, cy = h / 2.0 - 0.5;
  double scale = w / 311.0;
  double disc = 92 * scale;
  double ring = 138 * scale;
  if (look.glow) {
    cairo_pattern_t* halo =
        cairo_pattern_create_radial(cx, cy, disc * 0.9, cx, cy, ring - 8 * scale);
    Rgb c = Tone(Mix(kSky, Rgb{1, 1, 1}, 0.55), look);
    cairo_pattern_add_color_stop_rgba(halo, 0.0, c.r, c.g, c.b, 0.85);
    cairo_pattern_add_color_stop_rgba(halo, 0.45, c.r, c.g, c.b, 0.28);
    cairo_pattern_add_color_stop_rgba(halo, 1.0, c.r, c.g, c.b, 0.0);
    cairo_arc(cr, cx, cy, ring - 8 * scale, 0, 2 * kPi);
    cairo_set_source(cr, halo);
    cairo_fill(cr);
    cairo_pattern_destroy(halo);
    // Orbiting sparkles.
    const double dots[][3] = {{-0.62, -0.50, 3.2},
                              {0.70, 0.35, 2.4},
                              {0.20, -0.80, 2.0},
                              {-0.45, 0.72, 2.6},
                              {0.82, -0.30, 1.8}};
    for (const auto& d : dots) {
      Rgb s = Tone(kSky, look);
      cairo_arc(cr, cx + d[0] * ring * 0.78, cy + d[1] * ring * 0.78, d[2] * scale, 0, 2 * kPi);
      Source(cr, s, 0.55);
      cairo_fill(cr);
    }
  }
  if (look.track) {
    cairo_set_line_width(cr, 7 * scale);
    Rgb t = Tone(Rgb{0.88, 0.92, 0.97}, look);
    cairo_arc(cr, cx, cy, ring, 0, 2 * kPi);
    Source(cr, t);
    cairo_stroke(cr);
  }
  if (look.done_ring) {
    cairo_pattern_t* g = cairo_pattern_create_linear(cx - ring, cy + ring, cx + ring, cy - ring);
    Rgb a = Tone(kBlue, look), b = Tone(kSky, look), c = Tone(kIndigo, look);
    cairo_pattern_add_color_stop_rgb(g, 0.0, c.r, c.g, c.b);
    cairo_pattern_add_color_stop_rgb(g, 0.5, a.r, a.g, a.b);
    cairo_pattern_add_color_stop_rgb(g, 1.0, b.r, b.g, b.b);
    cairo_set_line_width(cr, 9 * scale);
    cairo_arc(cr, cx, cy, ring, 0, 2 * kPi);
    cairo_set_source(cr, g);
    cairo_stroke(cr);
    cairo_pattern_destroy(g);
    // Thin outer hairline for finish.
    cairo_set_line_width(cr, 1.2 * scale);
    cairo_arc(cr, cx, cy, ring + 9 * scale, 0, 2 * kPi);
    Source(cr, Tone(kSky, look), 0.45);
    cairo_stroke(cr);
  }
  if (look.glow) {
    // Soft shadow under the disc.
    cairo_pattern_t* sh = cairo_pattern_create_radial(cx, cy + 6 * scale, disc * 0.9, cx,
                                                      cy + 6 * scale, disc * 1.12);
    Rgb c = Tone(kIndigo, look);
    cairo_pattern_add_color_stop_rgba(sh, 0, c.r, c.g, c.b, 0.28);
    cairo_pattern_add_color_stop_rgba(sh, 1, c.r, c.g, c.b, 0.0);
    cairo_arc(cr, cx, cy + 6 * scale, disc * 1.12, 0, 2 * kPi);
    cairo_set_source(cr, sh);
    cairo_fill(cr);
    cairo_pattern_destroy(sh);
  }
  DrawDisc(cr, cx, cy, disc, look);
}

// ---- Words ----

void DrawWords(cairo_t* cr, const std::string& text, const char* font, double x, double y,
               Rgb colour, double alpha = 1.0, bool centred = false) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* d = pango_font_description_from_string(font);
  pango_layout_set_font_description(layout, d);
  pango_layout_set_text(layout, text.c_str(), -1);
  int tw = 0, th = 0;
  pango_layout_get_pixel_size(layout, &tw, &th);
  cairo_move_to(cr, centred ? x - tw / 2.0 : x, y);
  Source(cr, colour, alpha);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(d);
  g_object_unref(layout);
}

// 126 x 44: emblem and wordmark; |light| for dark backgrounds.
void DrawLogo(cairo_t* cr, int w, int h, bool light) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  if (light) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w, 0);
    cairo_pattern_add_color_stop_rgb(g, 0, kDeep.r, kDeep.g, kDeep.b);
    cairo_pattern_add_color_stop_rgb(g, 1, kBlue.r, kBlue.g, kBlue.b);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
  }
  EmblemLook look;
  look.glow = false;
  look.track = false;
  DrawDisc(cr, 27, 23, 13, look);
  DrawWords(cr, "Telviska", "Liberation Sans Bold 15px", 45, 12.5,
            light ? Rgb{1, 1, 1} : Rgb{0.16, 0.2, 0.3});
}

// ---- Window buttons (17 x 21) ----

enum class Glyph { kClose, kMinimise };

void DrawFinish(cairo_t* cr, int w, int h);

// The finish picture's pixels under a window button at (x, 0), so that the
// button sits on the picture seamlessly.
void PaintFinishAt(cairo_t* cr, int x) {
  cairo_surface_t* finish = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 622, 405);
  cairo_t* f = cairo_create(finish);
  DrawFinish(f, 622, 405);
  cairo_destroy(f);
  cairo_set_source_surface(cr, finish, -x, 0);
  cairo_paint(cr);
  cairo_surface_destroy(finish);
}

void DrawWindowButton(cairo_t* cr, int w, int h, Glyph glyph, Rgb background, Rgb fill,
                      double fill_alpha, Rgb ink, int finish_x = -1) {
  Source(cr, background);
  cairo_paint(cr);
  if (finish_x >= 0)
    PaintFinishAt(cr, finish_x);
  if (fill_alpha > 0) {
    RoundedRect(cr, 0.5, 2.5, w - 1, h - 5, 3);
    Source(cr, fill, fill_alpha);
    cairo_fill(cr);
  }
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, 1.6);
  Source(cr, ink);
  double cx = w / 2.0, cy = h / 2.0;
  if (glyph == Glyph::kClose) {
    cairo_move_to(cr, cx - 4, cy - 4);
    cairo_line_to(cr, cx + 4, cy + 4);
    cairo_move_to(cr, cx + 4, cy - 4);
    cairo_line_to(cr, cx - 4, cy + 4);
  } else {
    cairo_move_to(cr, cx - 4.5, cy + 0.5);
    cairo_line_to(cr, cx + 4.5, cy + 0.5);
  }
  cairo_stroke(cr);
}

// ---- Push buttons ----

void DrawPushButton(cairo_t* cr, int w, int h, Rgb top, Rgb bottom, double radius, Rgb background,
                    bool pressed) {
  Source(cr, background);
  cairo_paint(cr);
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, 0, h);
  cairo_pattern_add_color_stop_rgb(g, 0, top.r, top.g, top.b);
  cairo_pattern_add_color_stop_rgb(g, 1, bottom.r, bottom.g, bottom.b);
  RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, radius);
  cairo_set_source(cr, g);
  cairo_fill_preserve(cr);
  cairo_pattern_destroy(g);
  cairo_set_line_width(cr, 1);
  Source(cr, Mix(bottom, Rgb{0, 0, 0}, 0.12), 0.6);
  cairo_stroke(cr);
  if (!pressed) {
    cairo_move_to(cr, radius, 1.5);
    cairo_line_to(cr, w - radius, 1.5);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_stroke(cr);
  }
}

// ---- Check boxes (14 x 14) and the panel chevron (13 x 7) ----

void DrawCheckBox(cairo_t* cr, int w, int h, bool checked, bool hover) {
  cairo_set_source_rgb(cr, 1, 0xFE / 255.0, 0xFC / 255.0);  // the panel's background
  cairo_paint(cr);
  RoundedRect(cr, 0.5, 0.5, w - 1, h - 1, 2.5);
  if (checked) {
    Source(cr, hover ? kSky : kBlue);
    cairo_fill(cr);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, 1.8);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_move_to(cr, 3.4, 7.2);
    cairo_line_to(cr, 5.9, 9.8);
    cairo_line_to(cr, 10.8, 4.2);
    cairo_stroke(cr);
  } else {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1);
    Source(cr, hover ? kBlue : Rgb{0.72, 0.75, 0.8});
    cairo_stroke(cr);
  }
}

void DrawChevron(cairo_t* cr, int w, int h, bool up, bool hover) {
  cairo_set_source_rgb(cr, 0xFD / 255.0, 0xFB / 255.0, 0xF7 / 255.0);  // the bottom band
  cairo_paint(cr);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_set_line_width(cr, 1.6);
  Rgb ink = hover ? Rgb{120 / 255.0, 163 / 255.0, 227 / 255.0}
                  : Rgb{163 / 255.0, 192 / 255.0, 206 / 255.0};
  Source(cr, ink);
  double y0 = up ? h - 1.5 : 1.5, y1 = up ? 1.5 : h - 1.5;
  cairo_move_to(cr, 1.5, y0);
  cairo_line_to(cr, w / 2.0, y1);
  cairo_line_to(cr, w - 1.5, y0);
  cairo_stroke(cr);
}

// 26 x 26 folder button (32-bit, opaque over the panel).
void DrawBrowse(cairo_t* cr, int w, int h, int state) {  // 0 normal, 1 hover, 2 pressed
  cairo_set_source_rgb(cr, 1, 0xFE / 255.0, 0xFC / 255.0);
  cairo_paint(cr);
  Rgb fill = state == 0   ? Rgb{0.95, 0.96, 0.98}
             : state == 1 ? Rgb{0.89, 0.94, 1.0}
                          : Rgb{0.80, 0.88, 0.99};
  cairo_rectangle(cr, 0.5, 0.5, w - 1, h - 1);
  Source(cr, fill);
  cairo_fill_preserve(cr);
  cairo_set_line_width(cr, 1);
  Source(cr, state == 0 ? Rgb{0.78, 0.8, 0.84} : kBlue);
  cairo_stroke(cr);
  // Folder.
  Rgb ink = state == 0 ? Rgb{0.45, 0.5, 0.58} : kBlue;
  cairo_move_to(cr, 6, 9);
  cairo_line_to(cr, 11, 9);
  cairo_line_to(cr, 12.5, 10.5);
  cairo_line_to(cr, 20, 10.5);
  cairo_line_to(cr, 20, 18.5);
  cairo_line_to(cr, 6, 18.5);
  cairo_close_path(cr);
  Source(cr, ink);
  cairo_set_line_width(cr, 1.4);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke(cr);
  cairo_move_to(cr, 6, 12.5);
  cairo_line_to(cr, 20, 12.5);
  cairo_stroke(cr);
}

// ---- The finish picture (622 x 405) ----

void DrawFinish(cairo_t* cr, int w, int h) {
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w * 0.6, h);
  cairo_pattern_add_color_stop_rgb(g, 0.0, kDeep.r, kDeep.g, kDeep.b);
  cairo_pattern_add_color_stop_rgb(g, 0.55, kBlue.r * 0.85, kBlue.g * 0.85, kBlue.b * 0.95);
  cairo_pattern_add_color_stop_rgb(g, 1.0, kViolet.r, kViolet.g, kViolet.b);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  // Flowing light ribbons.
  for (int i = 0; i < 9; ++i) {
    double t = i / 8.0;
    cairo_move_to(cr, -20, 250 + 40 * t);
    cairo_curve_to(cr, 160, 170 + 70 * t, 380, 360 - 90 * t, w + 20, 210 + 30 * t);
    cairo_set_line_width(cr, 1.2 + 0.8 * (1 - t));
    cairo_set_source_rgba(cr, 1, 1, 1, 0.05 + 0.07 * (1 - std::abs(t - 0.5) * 2));
    cairo_stroke(cr);
  }
  // Soft lights.
  const double bokeh[][4] = {{80, 70, 70, 0.10},   {520, 90, 110, 0.08}, {560, 300, 60, 0.10},
                             {140, 320, 90, 0.06}, {430, 40, 30, 0.12},  {30, 200, 40, 0.08},
                             {610, 200, 50, 0.07}, {250, 60, 18, 0.14}};
  for (const auto& b : bokeh) {
    cairo_pattern_t* p = cairo_pattern_create_radial(b[0], b[1], 0, b[0], b[1], b[2]);
    cairo_pattern_add_color_stop_rgba(p, 0, 1, 1, 1, b[3] * 1.6);
    cairo_pattern_add_color_stop_rgba(p, 0.7, 1, 1, 1, b[3]);
    cairo_pattern_add_color_stop_rgba(p, 1, 1, 1, 1, 0);
    cairo_arc(cr, b[0], b[1], b[2], 0, 2 * kPi);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
  }
  // The emblem, glowing, and the wordmark.
  double cx = 311, cy = 150;
  cairo_pattern_t* halo = cairo_pattern_create_radial(cx, cy, 40, cx, cy, 150);
  cairo_pattern_add_color_stop_rgba(halo, 0, 0.7, 0.85, 1, 0.45);
  cairo_pattern_add_color_stop_rgba(halo, 1, 0.7, 0.85, 1, 0);
  cairo_arc(cr, cx, cy, 150, 0, 2 * kPi);
  cairo_set_source(cr, halo);
  cairo_fill(cr);
  cairo_pattern_destroy(halo);
  cairo_set_line_width(cr, 2);
  cairo_arc(cr, cx, cy, 92, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 1);
  cairo_arc(cr, cx, cy, 104, 0, 2 * kPi);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.15);
  cairo_stroke(cr);
  EmblemLook look;
  look.glow = false;
  look.track = false;
  DrawDisc(cr, cx, cy, 76, look);
  DrawWords(cr, "Telviska", "Liberation Sans Bold 34px", cx, 246, {1, 1, 1}, 1.0, true);
  DrawWords(cr, "ready when you are", "Liberation Sans 14px", cx, 290, {1, 1, 1}, 0.75, true);
}

// ---- The message box icon (30 x 30, on white) ----

void DrawNotice(cairo_t* cr, int w, int h) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  double cx = w / 2.0, cy = h / 2.0;
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w, h);
  cairo_pattern_add_color_stop_rgb(g, 0, kSky.r, kSky.g, kSky.b);
  cairo_pattern_add_color_stop_rgb(g, 1, kIndigo.r, kIndigo.g, kIndigo.b);
  cairo_arc(cr, cx, cy, 14, 0, 2 * kPi);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
  cairo_set_line_width(cr, 3.2);
  cairo_move_to(cr, cx, cy - 7);
  cairo_line_to(cr, cx, cy + 2);
  cairo_stroke(cr);
  cairo_arc(cr, cx, cy + 7.2, 1.9, 0, 2 * kPi);
  cairo_fill(cr);
}

// ---- Bars and lines ----

void DrawBar(cairo_t* cr, int w, int h, bool fill) {
  cairo_set_source_rgb(cr, 0xFD / 255.0, 0xFB / 255.0, 0xF7 / 255.0);
  cairo_paint(cr);
  RoundedRect(cr, 0, 0, w, h, h / 2.0);
  if (fill) {
    cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w, 0);
    cairo_pattern_add_color_stop_rgb(g, 0, kSky.r, kSky.g, kSky.b);
    cairo_pattern_add_color_stop_rgb(g, 1, kIndigo.r, kIndigo.g, kIndigo.b);
    cairo_set_source(cr, g);
    cairo_fill(cr);
    cairo_pattern_destroy(g);
    cairo_rectangle(cr, 0, 1, w, h / 2.0 - 1);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.22);
    cairo_fill(cr);
  } else {
    cairo_set_source_rgb(cr, 0.89, 0.91, 0.94);
    cairo_fill(cr);
  }
}

void DrawLine(cairo_t* cr, int w, int h, Rgb colour) {
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w, 0);
  cairo_pattern_add_color_stop_rgb(g, 0, 1, 1, 1);
  cairo_pattern_add_color_stop_rgb(g, 0.5, colour.r, colour.g, colour.b);
  cairo_pattern_add_color_stop_rgb(g, 1, 1, 1, 1);
  cairo_rectangle(cr, 0, 0, w, h);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);
}

// 342 x 228: the product at a glance, a card for promotional pages.
void DrawCard(cairo_t* cr, int w, int h) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  RoundedRect(cr, 10.5, 10.5, w - 21, h - 21, 10);
  cairo_set_source_rgb(cr, 0.965, 0.975, 0.99);
  cairo_fill_preserve(cr);
  cairo_set_source_rgb(cr, 0.86, 0.89, 0.94);
  cairo_set_line_width(cr, 1);
  cairo_stroke(cr);
  cairo_save(cr);
  RoundedRect(cr, 10.5, 10.5, w - 21, 30, 10);
  cairo_rectangle(cr, 10.5, 25, w - 21, 15.5);
  cairo_clip(cr);
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, w, 0);
  cairo_pattern_add_color_stop_rgb(g, 0, kBlue.r, kBlue.g, kBlue.b);
  cairo_pattern_add_color_stop_rgb(g, 1, kIndigo.r, kIndigo.g, kIndigo.b);
  cairo_set_source(cr, g);
  cairo_paint(cr);
  cairo_pattern_destroy(g);
  cairo_restore(cr);
  for (int i = 0; i < 3; ++i) {
    cairo_arc(cr, 26 + i * 12, 26, 3.5, 0, 2 * kPi);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
    cairo_fill(cr);
  }
  EmblemLook look;
  look.glow = false;
  look.track = false;
  DrawDisc(cr, 82, 120, 42, look);
  for (int i = 0; i < 4; ++i) {
    RoundedRect(cr, 146, 84 + i * 22, i == 0 ? 150 : 170 - i * 25, 9, 4.5);
    cairo_set_source_rgb(cr, i == 0 ? 0.55 : 0.84, i == 0 ? 0.62 : 0.87, i == 0 ? 0.75 : 0.92);
    cairo_fill(cr);
  }
  RoundedRect(cr, 146, 176, 84, 22, 11);
  Source(cr, kBlue);
  cairo_fill(cr);
}

void DrawDot(cairo_t* cr, int w, int h) {
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_arc(cr, w / 2.0, h / 2.0, 3.6, 0, 2 * kPi);
  Source(cr, kBlue);
  cairo_fill(cr);
}

std::vector<Picture> AllPictures() {
  std::vector<Picture> p;
  auto emblem = [](EmblemLook look) {
    return [look](cairo_t* cr, int w, int h) { DrawEmblem(cr, w, h, look); };
  };
  p.push_back({185, 622, 405, false, DrawFinish, "finish background"});
  p.push_back({190, 311, 311, false, emblem({true, true, false, false}), "emblem"});
  p.push_back({183, 311, 311, false, emblem({true, true, true, false}), "emblem, ring done"});
  p.push_back({132, 311, 311, false, emblem({false, false, false, false}), "emblem, no glow"});
  p.push_back({182, 311, 311, false, emblem({true, true, false, true}), "emblem, grey"});
  p.push_back({133, 255, 255, false, emblem({true, true, true, false}), "emblem, small"});
  p.push_back({184, 9, 9, false, DrawDot, "bullet"});
  p.push_back({135, 622, 1, false,
               [](cairo_t* cr, int w, int h) {
                 DrawLine(cr, w, h, {0.85, 0.87, 0.9});
               },
               "separator"});
  p.push_back({153, 622, 1, false, [](cairo_t* cr, int w, int h) { DrawLine(cr, w, h, kBlue); },
               "accent line"});
  p.push_back({154, 342, 228, false, DrawCard, "product card"});
  p.push_back({155, 602, 10, false, [](cairo_t* cr, int w, int h) { DrawBar(cr, w, h, false); },
               "bar track"});
  p.push_back({156, 602, 10, false, [](cairo_t* cr, int w, int h) { DrawBar(cr, w, h, true); },
               "bar fill"});
  p.push_back({187, 126, 44, false, [](cairo_t* cr, int w, int h) { DrawLogo(cr, w, h, false); },
               "logo x64"});
  p.push_back({188, 126, 44, false, [](cairo_t* cr, int w, int h) { DrawLogo(cr, w, h, true); },
               "logo x64, dark"});
  p.push_back({138, 126, 44, false, [](cairo_t* cr, int w, int h) { DrawLogo(cr, w, h, false); },
               "logo x86"});
  p.push_back({139, 126, 44, false, [](cairo_t* cr, int w, int h) { DrawLogo(cr, w, h, true); },
               "logo x86, dark"});
  const Rgb white{1, 1, 1};
  auto push = [&](int id, Rgb top, Rgb bottom, bool pressed, Rgb background, const char* note) {
    p.push_back({id, 100, 32, false,
                 [=](cairo_t* cr, int w, int h) {
                   DrawPushButton(cr, w, h, top, bottom, 4, background, pressed);
                 },
                 note});
  };
  push(161, kSky, kBlue, false, white, "button normal");
  push(162, Mix(kSky, white, 0.2), kSky, false, white, "button hover");
  push(163, kBlue, Mix(kBlue, kIndigo, 0.5), true, white, "button pressed");
  push(176, Mix(kIndigo, kSky, 0.25), kIndigo, false, {0xF7 / 255.0, 0xFB / 255.0, 0xFD / 255.0},
       "box button normal");
  push(174, Mix(kIndigo, kSky, 0.5), Mix(kIndigo, kSky, 0.2), false,
       {0xF7 / 255.0, 0xFB / 255.0, 0xFD / 255.0}, "box button hover");
  push(177, Mix(kIndigo, Rgb{0, 0, 0}, 0.15), kIndigo, true,
       {0xF7 / 255.0, 0xFB / 255.0, 0xFD / 255.0}, "box button pressed");
  auto box = [&](int id, Glyph glyph, Rgb background, Rgb fill, double alpha, Rgb ink,
                 const char* note, int finish_x = -1) {
    p.push_back({id, 17, 21, false,
                 [=](cairo_t* cr, int w, int h) {
                   DrawWindowButton(cr, w, h, glyph, background, fill, alpha, ink, finish_x);
                 },
                 note});
  };
  Rgb finish_top = kDeep;
  box(140, Glyph::kClose, white, white, 0, kGlyph, "close");
  box(143, Glyph::kClose, white, {0.91, 0.36, 0.33}, 1, white, "close hover");
  box(142, Glyph::kClose, white, {0.75, 0.25, 0.23}, 1, white, "close pressed");
  box(144, Glyph::kMinimise, white, white, 0, kGlyph, "minimise");
  box(147, Glyph::kMinimise, white, {0.90, 0.93, 0.97}, 1, kBlue, "minimise hover");
  box(146, Glyph::kMinimise, white, {0.80, 0.86, 0.95}, 1, kIndigo, "minimise pressed");
  box(148, Glyph::kClose, finish_top, white, 0, white, "close, finish", 600);
  box(149, Glyph::kMinimise, finish_top, white, 0, white, "minimise, finish", 580);
  box(150, Glyph::kClose, finish_top, white, 0.25, white, "close, finish hover", 600);
  box(151, Glyph::kMinimise, finish_top, white, 0.25, white, "minimise, finish hover", 580);
  box(179, Glyph::kClose, kIndigo, white, 0, white, "box close");
  box(178, Glyph::kClose, kIndigo, white, 0.22, white, "box close hover");
  box(180, Glyph::kClose, kIndigo, {0, 0, 0}, 0.25, white, "box close pressed");
  p.push_back({175, 30, 30, false, DrawNotice, "box icon"});
  for (int i = 0; i < 4; ++i) {
    bool checked = i >= 2, hover = i % 2 == 1;
    p.push_back({157 + i, 14, 14, false,
                 [=](cairo_t* cr, int w, int h) { DrawCheckBox(cr, w, h, checked, hover); },
                 checked ? (hover ? "checked hover" : "checked")
                         : (hover ? "unchecked hover" : "unchecked")});
    p.push_back({165 + i, 13, 7, false,
                 [=](cairo_t* cr, int w, int h) { DrawChevron(cr, w, h, checked, hover); },
                 checked ? "panel open" : "panel closed"});
  }
  p.push_back(
      {171, 26, 26, true, [](cairo_t* cr, int w, int h) { DrawBrowse(cr, w, h, 0); }, "browse"});
  p.push_back({170, 26, 26, true, [](cairo_t* cr, int w, int h) { DrawBrowse(cr, w, h, 1); },
               "browse hover"});
  p.push_back({169, 26, 26, true, [](cairo_t* cr, int w, int h) { DrawBrowse(cr, w, h, 2); },
               "browse pressed"});
  p.push_back({107, 64, 64, true,
               [](cairo_t* cr, int w, int h) {
                 cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
                 cairo_paint(cr);
                 cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
                 EmblemLook look;
                 look.glow = false;
                 look.track = false;
                 DrawDisc(cr, w / 2.0, h / 2.0, w / 2.0 - 2, look);
               },
               "window icon"});
  return p;
}

// 32-bit pictures keep their alpha channel even when fully opaque (cairo
// would store those as 24-bit).
bool WriteRgbaPng(cairo_surface_t* s, const std::string& path) {
  cairo_surface_flush(s);
  int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
  guchar* out = gdk_pixbuf_get_pixels(pixbuf);
  int out_stride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < w; ++x) {
      std::uint32_t p = row[x], a = p >> 24;
      guchar* o = out + y * out_stride + x * 4;
      for (int c = 0; c < 3; ++c) {
        std::uint32_t v = (p >> (16 - 8 * c)) & 0xFF;
        o[c] = static_cast<guchar>(a == 0 ? 0 : std::min<std::uint32_t>(255, v * 255 / a));
      }
      o[3] = static_cast<guchar>(a);
    }
  }
  gboolean ok = gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
  g_object_unref(pixbuf);
  return ok == TRUE;
}

int WritePictures(const std::string& folder) {
  std::filesystem::create_directories(folder);
  for (const Picture& p : AllPictures()) {
    cairo_surface_t* s = cairo_image_surface_create(
        p.alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, p.width, p.height);
    cairo_t* cr = cairo_create(s);
    p.draw(cr, p.width, p.height);
    cairo_destroy(cr);
    std::string path = folder + "/" + std::to_string(p.id) + ".png";
    bool written = p.alpha ? WriteRgbaPng(s, path)
                           : cairo_surface_write_to_png(s, path.c_str()) == CAIRO_STATUS_SUCCESS;
    if (!written) {
      std::fprintf(stderr, "skin-gen: cannot write %s\n", path.c_str());
      return 1;
    }
    cairo_surface_destroy(s);
  }
  return 0;
}

// ---- The contact sheet: every picture, then the controls at work ----

std::vector<std::vector<std::uint8_t>> g_files;  // resource bytes live until exit

void RegisterFolder(const std::string& folder) {
  static std::vector<zel::platform::ResourceEntry> entries;
  for (const Picture& p : AllPictures()) {
    std::ifstream in(folder + "/" + std::to_string(p.id) + ".png", std::ios::binary);
    g_files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  int i = 0;
  for (const Picture& p : AllPictures()) {
    entries.push_back({p.id, "BITMAP", g_files[i].data(), g_files[i].size()});
    ++i;
  }
  zel::platform::RegisterResources(entries.data(), entries.size());
}

// The wizard's pages as the setup window lays them out, for judging the
// pictures in place (English layout widths).
std::unique_ptr<zel::platform::Canvas> WizardPage(bool panel_open, bool finish) {
  namespace pw = zel::platform;
  using zel::LoadSkinBitmap;
  const wchar_t* ui = L"\u5FAE\u8F6F\u96C5\u9ED1";
  auto button_font = pw::CreateFont({ui, -pw::MulDiv(20, 96, 72)});
  auto small = pw::CreateFont({ui, -14});
  auto small_ul = pw::CreateFont({ui, -14, 0, false, true});
  auto label = pw::CreateFont({ui, -12});
  const int W = 622, H = panel_open ? 405 + 175 : 405;
  auto page = std::make_unique<pw::Canvas>(W, H);
  page->FillRect({0, 0, W, H}, 0xFFFFFF);
  if (panel_open)
    page->FillRect({0, 405, W, H}, 0xFFFEFC);
  if (finish) {
    auto bg = LoadSkinBitmap(185);
    page->DrawBitmap(*bg, 0, 0, 622, 405);
  } else {
    page->DrawBitmapTransparent(*LoadSkinBitmap(190), 156, 22);
  }
  page->FillRect({0, 338, W, 405}, 0xFDFBF7);

  zel::ButtonColorCtrlEx install(nullptr, (622 - 180) / 2, 354, (622 - 180) / 2 + 180, 394);
  install.SetFont(button_font);
  if (finish) {
    install.SetRect((622 - 180) / 2 - 100, 354, (622 - 180) / 2 + 280, 394);
    install.SetCaption(L"Start Telviska");
    install.SetStateColors(0xBF5300, 0x9300DF, 0xBF5300, 0xD7D7D7);
  } else {
    install.SetCaption(L"Click to Install");
    install.SetStateColors(0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xD7D7D7);
    install.SetOuterColors(0xF4891B, 0xFFA03F, 0xFFA03F, 0xD700D7);
    install.SetInnerColors(0xF4891B, 0xFFA03F, 0xFFA03F, 0xD700D7);
    install.SetFrameWidth(2);
  }
  install.Draw(page.get());

  zel::StaticCtrl countdown(nullptr, 3, 311, 619, 348);
  countdown.SetFont(small);
  countdown.SetTextColor(0x373737);
  countdown.SetFormat(0x19);
  countdown.SetCaption(L"Installation will start automatically in 27 seconds.");
  if (!finish && !panel_open)
    countdown.Draw(page.get());

  zel::ButtonCtrlEx close(nullptr, 600, 0, 617, 21), minimise(nullptr, 580, 0, 597, 21);
  close.SetDrawPictures(1);
  minimise.SetDrawPictures(1);
  close.SetStatePictures(LoadSkinBitmap(finish ? 148 : 140), LoadSkinBitmap(143),
                         LoadSkinBitmap(142), nullptr);
  minimise.SetStatePictures(LoadSkinBitmap(finish ? 149 : 144), LoadSkinBitmap(147),
                            LoadSkinBitmap(146), nullptr);
  close.Draw(page.get());
  minimise.Draw(page.get());
  if (finish)
    return page;

  zel::StaticCtrl logo(nullptr, 0, 0, 206, 45), version(nullptr, 13, 39, 213, 59);
  logo.SetDrawPictures(1);
  logo.SetStatePictures(LoadSkinBitmap(187), nullptr, nullptr, nullptr);
  logo.Draw(page.get());
  version.SetFont(label);
  version.SetTextColor(0xBFBFBF);
  version.SetFormat(0x24);
  version.SetCaption(L"Version 1.0.0.0 official");
  version.Draw(page.get());

  zel::CheckButtonCtrlEx custom(nullptr, 474, 359, 609, 385);
  custom.SetCaption(L"Custom");
  custom.SetFormat(0x26);
  custom.SetFont(small);
  custom.SetStateColors(0xCEC0A3, 0xE3A378, 0xE3A378, 0xCCCBC2);
  custom.SetBoxPlacement(121, 9, 14, 8);
  custom.SetTextPlacement(0, 0, 119, 26);
  custom.SetDrawPictures(1);
  custom.SetStatePictures(LoadSkinBitmap(165), LoadSkinBitmap(166), LoadSkinBitmap(166), nullptr);
  custom.SetCheckedPictures(LoadSkinBitmap(167), LoadSkinBitmap(168), LoadSkinBitmap(168), nullptr);
  custom.SetChecked(panel_open);
  custom.Draw(page.get());
  if (!panel_open)
    return page;

  const int L0 = 70, L1 = 170, L2 = 60, L3 = 280;
  auto check = [&](int l, int t, int r, int b, const wchar_t* text, bool checked) {
    zel::CheckButtonCtrlEx c(nullptr, l, t, r, b);
    c.SetCaption(text);
    c.SetFormat(0x24);
    c.SetFont(small);
    c.SetStateColors(0x777777, 0x777777, 0x777777, 0x777777);
    c.SetBoxPlacement(0, 3, 14, 14);
    c.SetTextPlacement(20, 0, r - l - 25, 20);
    c.SetDrawPictures(1);
    c.SetStatePictures(LoadSkinBitmap(157), LoadSkinBitmap(158), LoadSkinBitmap(159), nullptr);
    c.SetCheckedPictures(LoadSkinBitmap(159), LoadSkinBitmap(160), LoadSkinBitmap(157), nullptr);
    c.SetChecked(checked);
    c.Draw(page.get());
  };
  auto link = [&](int l, int t, int r, int b, const wchar_t* text, bool hover) {
    zel::HyLinkCtrlEx c(nullptr, l, t, r, b);
    c.SetCaption(text);
    c.SetFormat(0x24);
    c.SetFont(small);
    c.SetHoverFont(small_ul);
    c.SetStateColors(0xE58C19, 0xE58C19, 0xE58C19, 0xE58C19);
    if (hover)
      c.OnMouseMove(l + 5, t + 5);
    c.Draw(page.get());
  };
  check(44, 425, 44 + L0, 445, L"Accept", true);
  link(44 + L0, 425, 44 + L0 + L1, 445, L"User License Agreement", true);
  // The edit box is a real control; here a stand-in of its look.
  page->FillRect({44, 460, 549, 486}, pw::Rgb(204, 208, 214));
  page->FillRect({45, 461, 548, 485}, 0xFFFFFF);
  pw::Rect path{50, 461, 545, 485};
  page->DrawText(L"/opt/Brondel/Telviska", &path, 0x24, small.get(), 0x333333);
  zel::ButtonCtrlEx browse(nullptr, 549, 460, 578, 486);
  browse.SetDrawPictures(1);
  browse.SetStatePictures(LoadSkinBitmap(171), LoadSkinBitmap(170), LoadSkinBitmap(169), nullptr);
  browse.Draw(page.get());
  check(44, 501, 411, 521, L"Create a desktop shortcut", true);
  check(44, 536, 44 + L2, 556, L"Join", false);
  link(44 + L2, 536, 44 + L2 + L3, 556, L"User Experience Improvement Program", false);
  return page;
}

int WriteSheet(const std::string& folder, const std::string& out) {
  namespace pw = zel::platform;
  RegisterFolder(folder);
  const int width = 1300;
  std::vector<Picture> pictures = AllPictures();
  // Layout: rows of pictures left to right, wrapping.
  struct Placed {
    const Picture* p;
    int x, y;
  };
  std::vector<Placed> placed;
  int x = 20, y = 70, row_h = 0;
  for (const Picture& p : pictures) {
    int cell_w = std::max(p.width, 70) + 24;
    int scale = p.width < 40 ? 2 : 1;
    cell_w = std::max(p.width * scale, 70) + 24;
    if (x + cell_w > width - 20) {
      x = 20;
      y += row_h + 36;
      row_h = 0;
    }
    placed.push_back({&p, x, y});
    x += cell_w;
    row_h = std::max(row_h, p.height * scale);
  }
  int sheet_h = y + row_h + 60 + 260 + 640 + 270;
  pw::Canvas sheet(width, sheet_h);
  sheet.FillRect({0, 0, width, sheet_h}, pw::Rgb(236, 239, 244));
  auto label = pw::CreateFont({L"Liberation Sans", -13});
  auto heading = pw::CreateFont({L"Liberation Sans", -22, 700});
  pw::Rect title{20, 18, width - 20, 56};
  sheet.DrawText(L"Telviska installer skin \u2014 every picture by resource id", &title,
                 pw::kDtSingleLine | pw::kDtVCenter, heading.get(), pw::Rgb(40, 48, 64));
  for (const Placed& pl : placed) {
    auto bitmap = pw::Bitmap::Decode(
        {g_files[&*pl.p - &pictures[0]].data(), g_files[&*pl.p - &pictures[0]].size()});
    if (!bitmap)
      continue;
    int scale = pl.p->width < 40 ? 2 : 1;
    sheet.FillRect(
        {pl.x - 1, pl.y - 1, pl.x + pl.p->width * scale + 1, pl.y + pl.p->height * scale + 1},
        pw::Rgb(200, 205, 214));
    for (int yy = 0; yy < bitmap->height(); ++yy) {
      for (int xx = 0; xx < bitmap->width(); ++xx) {
        std::uint32_t px = bitmap->pixels()[yy * bitmap->width() + xx];
        if (bitmap->bits_per_pixel() == 32) {  // premultiplied: show it over the sheet
          std::uint32_t a = px >> 24, back = 0xECEFF4, mixed = 0;
          for (int shift = 0; shift <= 16; shift += 8) {
            std::uint32_t c = ((px >> shift) & 0xFF) + ((back >> shift) & 0xFF) * (255 - a) / 255;
            mixed |= std::min<std::uint32_t>(c, 255) << shift;
          }
          px = mixed;
        }
        sheet.FillRect({pl.x + xx * scale, pl.y + yy * scale, pl.x + (xx + 1) * scale,
                        pl.y + (yy + 1) * scale},
                       pw::PixelToColorRef(px));
      }
    }
    pw::Rect r{pl.x, pl.y + pl.p->height * scale + 3, pl.x + std::max(pl.p->width * scale, 70) + 20,
               pl.y + pl.p->height * scale + 20};
    std::wstring text =
        std::to_wstring(pl.p->id) + L" " + std::wstring(pl.p->note.begin(), pl.p->note.end());
    sheet.DrawText(text, &r, pw::kDtSingleLine, label.get(), pw::Rgb(70, 78, 92));
  }
  // The message box as it paints itself, normal and with the button hovered.
  int by = y + row_h + 50;
  pw::Rect sub{20, by - 8, width - 20, by + 20};
  sheet.DrawText(L"The skinned message box (drawn by SkinMessageBox), normal and hovered", &sub,
                 pw::kDtSingleLine, label.get(), pw::Rgb(70, 78, 92));
  for (int i = 0; i < 2; ++i) {
    zel::SkinMessageBox box;
    box.SetTexts(L"Telviska Installer",
                 L"There is not enough free space on the selected drive. Free some space or "
                 L"choose another folder, then try again.",
                 L"OK", L"");
    box.CreateControls(nullptr);
    if (i == 1)
      box.button()->OnMouseMove(200, 180);
    pw::Canvas frame(420, 210);
    box.Compose(&frame);
    sheet.CopyFrom(frame, 20 + i * 450, by + 24, 420, 210);
  }
  // The wizard pages in place.
  int py = by + 24 + 210 + 40;
  pw::Rect pages{20, py - 8, width - 20, py + 20};
  sheet.DrawText(L"The pictures in place: ready page, custom panel open, finish page", &pages,
                 pw::kDtSingleLine, label.get(), pw::Rgb(70, 78, 92));
  const bool kinds[][2] = {{false, false}, {true, false}};
  int px = 20;
  for (const auto& k : kinds) {
    auto page = WizardPage(k[0], k[1]);
    sheet.CopyFrom(*page, px, py + 24, page->width(), page->height());
    px += page->width() + 20;
  }
  auto finish = WizardPage(false, true);
  sheet.CopyFrom(*finish, 20, py + 24 + 405 + 20, finish->width(), finish->height());
  if (const char* dir = std::getenv("ZEL_PAGES_DIR")) {
    WizardPage(false, false)->SavePng(std::string(dir) + "/ready.png");
    WizardPage(true, false)->SavePng(std::string(dir) + "/custom.png");
    finish->SavePng(std::string(dir) + "/finish.png");
  }
  return sheet.SavePng(out) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "pictures" && argc == 3)
    return WritePictures(argv[2]);
  if (mode == "sheet" && argc == 4)
    return WriteSheet(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: skin-gen pictures <folder>\n"
               "       skin-gen sheet <folder> <sheet.png>\n");
  return 2;
}
