#pragma once
// Small drawing helpers over Cairo and a deterministic noise for the procedural pictures.

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "assets/tools/picgen/image_io.h"

namespace picgen {

struct Rgb {
  double r, g, b;
};

inline Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }
inline Rgb Scale(Rgb a, double s) { return {a.r * s, a.g * s, a.b * s}; }
inline double Clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }
inline double Smooth(double e0, double e1, double x) {
  const double t = Clamp01((x - e0) / (e1 - e0));
  return t * t * (3 - 2 * t);
}

uint32_t Pack(Rgb c, double alpha = 1.0);

// A Cairo image surface with its context; ToImage gives straight-alpha pixels.
class Canvas {
 public:
  Canvas(int w, int h);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  cairo_t* cr() const { return cr_; }
  int width() const { return w_; }
  int height() const { return h_; }
  Image ToImage() const;

 private:
  int w_, h_;
  cairo_surface_t* surface_;
  cairo_t* cr_;
};

void SetColor(cairo_t* cr, Rgb c, double alpha = 1.0);
// Centred text whose width is at most maxWidth (the size shrinks to fit).
void TextCentered(cairo_t* cr, const std::string& text, double cx, double baseline, double size,
                  double maxWidth, const char* face, bool bold, double letterSpacing = 0);
// Characters of a UTF-8 string, each as its own string.
std::vector<std::string> Utf8Chars(const std::string& text);
double TextWidth(cairo_t* cr, const std::string& text, double letterSpacing);
void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r);

// Value noise in 0..1 and its fractal sum; `period` > 0 makes it tile with that period.
double Noise(double x, double y, uint32_t seed, int period = 0);
double Fbm(double x, double y, uint32_t seed, int octaves, int period = 0);

}  // namespace picgen
