// The eleven admission tickets. Each is drawn landscape (512 x 256) and stored turned a quarter
// turn anticlockwise in a 256 x 512 picture: the ticket plane shows the picture's left edge at
// the top of the screen in both ticket scenes, so the ticket reads upright there.

#include "assets/tools/picgen/pictures.h"

#include <cstdio>

namespace picgen {
namespace {

constexpr double kW = 512, kH = 256;
constexpr double kStubX = 388;  // the perforation

struct Style {
  Rgb paper, paper2, ink, accent;
  int pattern;
  const char* line;  // small caption under the title
};

const Style kStyles[11] = {
    {{0.62, 0.06, 0.10}, {0.36, 0.02, 0.06}, {1.00, 0.93, 0.78}, {0.98, 0.78, 0.30}, 0, "PREMIERE  \xc2\xb7  STALLS"},
    {{0.10, 0.22, 0.62}, {0.04, 0.09, 0.32}, {0.95, 0.97, 1.00}, {0.55, 0.80, 1.00}, 1, "GRAND CIRCLE"},
    {{0.05, 0.45, 0.28}, {0.02, 0.22, 0.14}, {0.95, 1.00, 0.92}, {0.70, 0.95, 0.55}, 2, "ORCHESTRA"},
    {{0.95, 0.50, 0.08}, {0.70, 0.22, 0.02}, {0.20, 0.06, 0.02}, {1.00, 0.90, 0.55}, 3, "MATINEE"},
    {{0.40, 0.12, 0.55}, {0.18, 0.04, 0.28}, {0.98, 0.90, 1.00}, {0.90, 0.60, 1.00}, 4, "DRESS CIRCLE"},
    {{0.02, 0.48, 0.52}, {0.01, 0.24, 0.30}, {0.90, 1.00, 1.00}, {0.45, 0.95, 0.90}, 5, "BALCONY"},
    {{0.98, 0.80, 0.20}, {0.85, 0.55, 0.05}, {0.18, 0.10, 0.02}, {0.55, 0.25, 0.02}, 6, "GOLDEN SEAT"},
    {{0.85, 0.18, 0.50}, {0.50, 0.05, 0.28}, {1.00, 0.93, 0.97}, {1.00, 0.70, 0.85}, 7, "MIDNIGHT SHOW"},
    {{0.36, 0.42, 0.50}, {0.16, 0.19, 0.24}, {0.96, 0.97, 0.99}, {0.85, 0.88, 0.95}, 8, "LOGE"},
    {{0.55, 0.78, 0.10}, {0.26, 0.45, 0.02}, {0.10, 0.16, 0.02}, {0.95, 1.00, 0.70}, 9, "GALLERY"},
    {{0.10, 0.10, 0.13}, {0.02, 0.02, 0.03}, {0.88, 0.90, 0.95}, {0.70, 0.72, 0.80}, 10, "BACKSTAGE PASS"},
};

void Pattern(cairo_t* cr, const Style& s, int n) {
  SetColor(cr, s.accent, 0.16);
  cairo_set_line_width(cr, 2);
  switch (s.pattern) {
    case 0:  // sunburst behind the number
      for (int i = 0; i < 48; i += 2) {
        const double a0 = i * M_PI / 24, a1 = (i + 1) * M_PI / 24;
        cairo_move_to(cr, 100, 150);
        cairo_arc(cr, 100, 150, 600, a0, a1);
        cairo_close_path(cr);
      }
      cairo_fill(cr);
      break;
    case 1:  // guilloche
      for (int k = 0; k < 14; ++k) {
        for (double x = 0; x <= kStubX; x += 2) {
          const double y = 128 + 70 * std::sin(x / 37.0 + k * 0.45) * std::cos(x / 91.0 - k * 0.2);
          if (x == 0) cairo_move_to(cr, x, y); else cairo_line_to(cr, x, y);
        }
      }
      cairo_set_line_width(cr, 1.2);
      cairo_stroke(cr);
      break;
    case 2:  // diagonal stripes
      for (double x = -300; x < kW; x += 22) {
        cairo_move_to(cr, x, 0);
        cairo_line_to(cr, x + 10, 0);
        cairo_line_to(cr, x + 10 + kH, kH);
        cairo_line_to(cr, x + kH, kH);
        cairo_close_path(cr);
      }
      cairo_fill(cr);
      break;
    case 3:  // polka dots
      for (int row = 0; row < 12; ++row)
        for (int col = 0; col < 24; ++col) {
          const double x = col * 24 + (row % 2) * 12, y = row * 24;
          cairo_arc(cr, x, y, 6, 0, 2 * M_PI);
          cairo_close_path(cr);
        }
      cairo_fill(cr);
      break;
    case 4:  // rings
      for (double r = 12; r < 520; r += 16) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, 96, 140, r, 0, 2 * M_PI);
      }
      cairo_set_line_width(cr, 5);
      cairo_stroke(cr);
      break;
    case 5:  // chevrons
      for (double y = -40; y < kH + 40; y += 26) {
        for (double x = 0; x < kW; x += 40) {
          cairo_move_to(cr, x, y);
          cairo_line_to(cr, x + 20, y + 14);
          cairo_line_to(cr, x + 40, y);
        }
      }
      cairo_set_line_width(cr, 5);
      cairo_stroke(cr);
      break;
    case 6:  // stars
      for (int i = 0; i < 40; ++i) {
        const double x = Noise(i * 1.7, 0.5, 77 + n) * kStubX, y = Noise(0.5, i * 1.9, 91 + n) * kH;
        const double r = 4 + 8 * Noise(i * 0.9, i * 0.3, 13);
        for (int k = 0; k < 10; ++k) {
          const double a = k * M_PI / 5 - M_PI / 2, rr = (k % 2) ? r * 0.42 : r;
          if (k == 0) cairo_move_to(cr, x + rr * std::cos(a), y + rr * std::sin(a));
          else cairo_line_to(cr, x + rr * std::cos(a), y + rr * std::sin(a));
        }
        cairo_close_path(cr);
      }
      SetColor(cr, s.accent, 0.28);
      cairo_fill(cr);
      break;
    case 7:  // diamond lattice
      for (double x = -kH; x < kW + kH; x += 28) {
        cairo_move_to(cr, x, 0);
        cairo_line_to(cr, x + kH, kH);
        cairo_move_to(cr, x, kH);
        cairo_line_to(cr, x + kH, 0);
      }
      cairo_set_line_width(cr, 2.5);
      cairo_stroke(cr);
      break;
    case 8:  // art-deco fan over pinstripes
      for (double y = 4; y < kH; y += 8) {
        cairo_move_to(cr, 0, y);
        cairo_line_to(cr, kStubX, y);
      }
      cairo_set_line_width(cr, 1);
      cairo_stroke(cr);
      for (int i = 0; i <= 12; ++i) {
        const double a = M_PI + i * M_PI / 12;
        cairo_move_to(cr, 200, 262);
        cairo_line_to(cr, 200 + 260 * std::cos(a), 262 + 260 * std::sin(a));
      }
      for (double r = 60; r < 260; r += 50) {
        cairo_new_sub_path(cr);
        cairo_arc(cr, 200, 262, r, M_PI, 2 * M_PI);
      }
      SetColor(cr, s.accent, 0.22);
      cairo_set_line_width(cr, 3);
      cairo_stroke(cr);
      break;
    case 9:  // zigzag
      for (double y = 10; y < kH; y += 30) {
        cairo_move_to(cr, 0, y);
        for (double x = 0; x < kW; x += 18) cairo_line_to(cr, x + 9, y + ((int(x / 18) % 2) ? -9 : 9));
      }
      cairo_set_line_width(cr, 4);
      cairo_stroke(cr);
      break;
    default:  // halftone fading across the ticket
      for (int row = 0; row < 22; ++row)
        for (int col = 0; col < 36; ++col) {
          const double x = col * 12 + (row % 2) * 6, y = row * 12;
          const double r = 0.5 + 4.5 * (1 - x / kStubX);
          if (r <= 0.4) continue;
          cairo_arc(cr, x, y, r, 0, 2 * M_PI);
          cairo_close_path(cr);
        }
      SetColor(cr, s.accent, 0.22);
      cairo_fill(cr);
      break;
  }
}

void Barcode(cairo_t* cr, double x, double y, double w, double h, int n, Rgb ink) {
  SetColor(cr, ink, 0.9);
  double cx = x;
  for (int i = 0; cx < x + w; ++i) {
    const double bar = 1 + 3 * Noise(i * 1.3, n * 2.1, 4242);
    const double gap = 1 + 2 * Noise(i * 0.7, n * 3.3, 2424);
    if (cx + bar > x + w) break;
    cairo_rectangle(cr, cx, y, bar, h);
    cx += bar + gap;
  }
  cairo_fill(cr);
}

void DrawTicket(cairo_t* cr, int n) {
  const Style& s = kStyles[n - 1];
  char num[8];
  std::snprintf(num, sizeof num, "%d", n);
  char serial[16];
  std::snprintf(serial, sizeof serial, "N\xc2\xba %06d", 4000 + n * 137);

  // Paper with a soft diagonal gradient.
  cairo_pattern_t* g = cairo_pattern_create_linear(0, 0, kW, kH);
  cairo_pattern_add_color_stop_rgb(g, 0, s.paper.r, s.paper.g, s.paper.b);
  cairo_pattern_add_color_stop_rgb(g, 1, s.paper2.r, s.paper2.g, s.paper2.b);
  cairo_rectangle(cr, 0, 0, kW, kH);
  cairo_set_source(cr, g);
  cairo_fill(cr);
  cairo_pattern_destroy(g);

  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, kStubX, kH);
  cairo_clip(cr);
  Pattern(cr, s, n);
  cairo_restore(cr);

  // The stub is a shade darker, as if cut from the back of the roll.
  cairo_rectangle(cr, kStubX, 0, kW - kStubX, kH);
  SetColor(cr, {0, 0, 0}, 0.18);
  cairo_fill(cr);

  // Frames.
  SetColor(cr, s.accent, 0.95);
  cairo_set_line_width(cr, 3);
  RoundedRect(cr, 10, 10, kStubX - 20, kH - 20, 12);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 1);
  RoundedRect(cr, 16, 16, kStubX - 32, kH - 32, 8);
  cairo_stroke(cr);
  cairo_set_line_width(cr, 2);
  RoundedRect(cr, kStubX + 10, 10, kW - kStubX - 20, kH - 20, 10);
  cairo_stroke(cr);

  // Perforation: punched holes and the two notches at the edges.
  SetColor(cr, Scale(s.paper2, 0.35));
  for (double y = 14; y < kH - 8; y += 11) {
    cairo_arc(cr, kStubX, y, 2.6, 0, 2 * M_PI);
    cairo_close_path(cr);
  }
  cairo_arc(cr, kStubX, 0, 11, 0, M_PI);
  cairo_close_path(cr);
  cairo_arc(cr, kStubX, kH, 11, M_PI, 2 * M_PI);
  cairo_close_path(cr);
  cairo_fill(cr);

  // Title.
  SetColor(cr, {0, 0, 0}, 0.35);
  TextCentered(cr, "QUORVANTEPLIDUSK", kStubX / 2 + 2, 60, 34, kStubX - 60, "DejaVu Serif", true, 1.5);
  SetColor(cr, s.ink);
  TextCentered(cr, "QUORVANTEPLIDUSK", kStubX / 2, 58, 34, kStubX - 60, "DejaVu Serif", true, 1.5);
  SetColor(cr, s.accent);
  TextCentered(cr, s.line, kStubX / 2, 80, 13, kStubX - 80, "DejaVu Sans", true, 3);
  cairo_set_line_width(cr, 1.5);
  cairo_move_to(cr, 40, 90);
  cairo_line_to(cr, kStubX - 40, 90);
  cairo_stroke(cr);

  // The large number in one of three treatments, so the tickets differ in more than colour.
  const double numX = 112;
  switch (n % 3) {
    case 1:  // plain, with a drop shadow
      SetColor(cr, {0, 0, 0}, 0.4);
      TextCentered(cr, num, numX + 4, 224, 140, 170, "DejaVu Serif", true);
      SetColor(cr, s.ink);
      TextCentered(cr, num, numX, 220, 140, 170, "DejaVu Serif", true);
      break;
    case 2: {  // on a round badge with a ring of dots
      cairo_arc(cr, numX, 166, 62, 0, 2 * M_PI);
      SetColor(cr, s.ink);
      cairo_fill(cr);
      for (int i = 0; i < 36; ++i) {
        const double a = i * M_PI / 18;
        cairo_arc(cr, numX + 70 * std::cos(a), 166 + 70 * std::sin(a), 2, 0, 2 * M_PI);
        cairo_fill(cr);
      }
      SetColor(cr, s.paper2);
      TextCentered(cr, num, numX, 202, 100, 100, "DejaVu Sans", true);
      break;
    }
    default:  // outlined
      cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
      cairo_set_font_size(cr, 150);
      {
        cairo_text_extents_t ext;
        cairo_text_extents(cr, num, &ext);
        const double k = ext.x_advance > 180 ? 180 / ext.x_advance : 1.0;
        cairo_set_font_size(cr, 150 * k);
        cairo_text_extents(cr, num, &ext);
        cairo_move_to(cr, numX - ext.x_advance / 2, 222);
      }
      cairo_text_path(cr, num);
      SetColor(cr, s.ink, 0.25);
      cairo_fill_preserve(cr);
      SetColor(cr, s.ink);
      cairo_set_line_width(cr, 4);
      cairo_stroke(cr);
      break;
  }

  // Admission text.
  const double textX = 278;
  SetColor(cr, s.ink);
  TextCentered(cr, "ADMIT ONE", textX, 140, 26, 150, "DejaVu Sans", true, 2);
  SetColor(cr, s.accent);
  char seat[40];
  std::snprintf(seat, sizeof seat, "ROW %c  \xc2\xb7  SEAT %d", 'A' + (n * 3) % 12, 10 + n * 4);
  TextCentered(cr, seat, textX, 168, 14, 170, "DejaVu Sans", false, 1);
  TextCentered(cr, "ONE NIGHT ONLY", textX, 192, 12, 170, "DejaVu Sans", false, 2);
  SetColor(cr, s.ink, 0.8);
  TextCentered(cr, serial, textX, 220, 12, 170, "DejaVu Sans Mono", false);

  // Stub: number, caption turned along the stub, barcode.
  const double stubC = (kStubX + kW) / 2;
  SetColor(cr, s.ink);
  TextCentered(cr, num, stubC, 96, 56, 90, "DejaVu Serif", true);
  SetColor(cr, s.accent);
  TextCentered(cr, "ADMIT", stubC, 124, 14, 90, "DejaVu Sans", true, 2);
  TextCentered(cr, "ONE", stubC, 142, 14, 90, "DejaVu Sans", true, 2);
  cairo_rectangle(cr, kStubX + 22, 158, kW - kStubX - 44, 64);
  SetColor(cr, {1, 1, 1}, 0.85);
  cairo_fill(cr);
  Barcode(cr, kStubX + 26, 162, kW - kStubX - 52, 46, n, {0.05, 0.05, 0.05});
  SetColor(cr, {0.05, 0.05, 0.05});
  TextCentered(cr, serial + 4, stubC, 219, 9, 80, "DejaVu Sans Mono", false);

  // A touch of wear: a faint sheen across the paper.
  cairo_pattern_t* sheen = cairo_pattern_create_linear(0, 0, kW * 0.6, kH);
  cairo_pattern_add_color_stop_rgba(sheen, 0.0, 1, 1, 1, 0.0);
  cairo_pattern_add_color_stop_rgba(sheen, 0.45, 1, 1, 1, 0.10);
  cairo_pattern_add_color_stop_rgba(sheen, 0.55, 1, 1, 1, 0.0);
  cairo_rectangle(cr, 0, 0, kW, kH);
  cairo_set_source(cr, sheen);
  cairo_fill(cr);
  cairo_pattern_destroy(sheen);
}

}  // namespace

Image Ticket(int n, Image* landscape) {
  if (landscape) {
    Canvas flat{int(kW), int(kH)};
    DrawTicket(flat.cr(), n);
    *landscape = flat.ToImage();
  }
  Canvas c{int(kH), int(kW)};
  cairo_translate(c.cr(), 0, kW);
  cairo_rotate(c.cr(), -M_PI / 2);
  DrawTicket(c.cr(), n);
  return c.ToImage();
}

}  // namespace picgen
