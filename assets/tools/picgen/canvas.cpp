#include "assets/tools/picgen/canvas.h"

#include <algorithm>
#include <stdexcept>

namespace picgen {

uint32_t Pack(Rgb c, double alpha) {
  auto byte = [](double v) { return uint32_t(std::lround(Clamp01(v) * 255.0)); };
  return byte(alpha) << 24 | byte(c.r) << 16 | byte(c.g) << 8 | byte(c.b);
}

Canvas::Canvas(int w, int h) : w_(w), h_(h) {
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cr_ = cairo_create(surface_);
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cairo context failed");
}

Canvas::~Canvas() {
  cairo_destroy(cr_);
  cairo_surface_destroy(surface_);
}

Image Canvas::ToImage() const {
  cairo_surface_flush(surface_);
  Image img(w_, h_);
  const unsigned char* data = cairo_image_surface_get_data(surface_);
  const int stride = cairo_image_surface_get_stride(surface_);
  for (int y = 0; y < h_; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + size_t(y) * stride);
    for (int x = 0; x < w_; ++x) {
      const uint32_t p = row[x];
      const uint32_t a = p >> 24;
      if (a == 0 || a == 255) {
        img.at(x, y) = a == 0 ? 0 : p;
        continue;
      }
      auto un = [a](uint32_t c) { return std::min<uint32_t>(255, (c * 255 + a / 2) / a); };
      img.at(x, y) = a << 24 | un((p >> 16) & 0xff) << 16 | un((p >> 8) & 0xff) << 8 | un(p & 0xff);
    }
  }
  return img;
}

void SetColor(cairo_t* cr, Rgb c, double alpha) { cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha); }

static void SelectFace(cairo_t* cr, const char* face, bool bold, double size) {
  cairo_select_font_face(cr, face, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

std::vector<std::string> Utf8Chars(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t n = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
    out.push_back(text.substr(i, n));
    i += n;
  }
  return out;
}

double TextWidth(cairo_t* cr, const std::string& text, double letterSpacing) {
  cairo_text_extents_t ext;
  cairo_text_extents(cr, text.c_str(), &ext);
  const size_t n = Utf8Chars(text).size();
  return ext.x_advance + letterSpacing * (n ? double(n - 1) : 0);
}

void TextCentered(cairo_t* cr, const std::string& text, double cx, double baseline, double size,
                  double maxWidth, const char* face, bool bold, double letterSpacing) {
  SelectFace(cr, face, bold, size);
  double width = TextWidth(cr, text, letterSpacing);
  if (maxWidth > 0 && width > maxWidth) {
    const double k = maxWidth / width;
    size *= k;
    letterSpacing *= k;
    SelectFace(cr, face, bold, size);
    width = TextWidth(cr, text, letterSpacing);
  }
  double x = cx - width / 2;
  if (letterSpacing == 0) {
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, text.c_str());
    return;
  }
  for (const std::string& ch : Utf8Chars(text)) {
    cairo_move_to(cr, x, baseline);
    cairo_show_text(cr, ch.c_str());
    cairo_text_extents_t ext;
    cairo_text_extents(cr, ch.c_str(), &ext);
    x += ext.x_advance + letterSpacing;
  }
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
  cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
  cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
  cairo_close_path(cr);
}

static double Hash(int x, int y, uint32_t seed) {
  uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return double(h & 0xffffff) / double(0xffffff);
}

double Noise(double x, double y, uint32_t seed, int period) {
  const double fx = std::floor(x), fy = std::floor(y);
  int x0 = int(fx), y0 = int(fy);
  const double tx = x - fx, ty = y - fy;
  int x1 = x0 + 1, y1 = y0 + 1;
  if (period > 0) {
    x0 = ((x0 % period) + period) % period;
    y0 = ((y0 % period) + period) % period;
    x1 = ((x1 % period) + period) % period;
    y1 = ((y1 % period) + period) % period;
  }
  const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
  const double a = Hash(x0, y0, seed), b = Hash(x1, y0, seed), c = Hash(x0, y1, seed), d = Hash(x1, y1, seed);
  return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

double Fbm(double x, double y, uint32_t seed, int octaves, int period) {
  double sum = 0, amp = 0.5, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += amp * Noise(x, y, seed + uint32_t(i) * 101u, period);
    norm += amp;
    x *= 2;
    y *= 2;
    if (period > 0) period *= 2;
    amp *= 0.5;
  }
  return sum / norm;
}

}  // namespace picgen
