#include "assets/tools/picgen/pictures.h"

#include <algorithm>
#include <cstring>

namespace picgen {
namespace {

struct Vec {
  double x, y, z;
};
Vec Normalize(Vec v) {
  const double l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / l, v.y / l, v.z / l};
}
double Dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

// An opaque picture as a Cairo surface, to be drawn into another picture.
cairo_surface_t* SurfaceOf(const Image& img) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height);
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int y = 0; y < img.height; ++y)
    std::memcpy(data + size_t(y) * stride, &img.pixels[size_t(y) * img.width], size_t(img.width) * 4);
  cairo_surface_mark_dirty(s);
  return s;
}

template <typename F>
Image PerPixel(int w, int h, F f) {
  Image img(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img.at(x, y) = f((x + 0.5) / w, (y + 0.5) / h);
  return img;
}

}  // namespace

Image EndPicture() {
  // The screen's own shape, 16:9, at full HD: the screen plane shows it 1:1 at 1920 x 1080 and
  // only scales it elsewhere. Drawn in a 1024 x 576 layout scaled up.
  Canvas c(kEndWidth, kEndHeight);
  cairo_t* cr = c.cr();
  const double W = 1024, H = 576, k = kEndWidth / W;

  // The dark gradient and the glow spread a few dozen levels over a thousand rows: computed
  // exactly and dithered, or they would band. The dither is ordered (a 4 x 4 Bayer matrix, a
  // spread of one level): as smooth to the eye as noise, and its pattern repeats every four
  // pixels, which the PNG's compressor finds where noise would cost two megabytes.
  static constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Image background = PerPixel(kEndWidth, kEndHeight, [&](double u, double v) {
    const double x = u * W, y = v * H;
    Rgb col = Mix(Rgb{0.02, 0.02, 0.07}, Rgb{0.09, 0.03, 0.13}, v);
    const double t = Clamp01((std::hypot(x - W / 2, y - H * 0.42) - 10) / 510);
    const double a = 0.55 * (1 - t);
    col = Mix(col, Mix(Rgb{0.55, 0.25, 0.55}, Rgb{0.10, 0.05, 0.20}, t), a);
    const int px = int(u * kEndWidth), py = int(v * kEndHeight);
    const double dither = ((kBayer[py & 3][px & 3] + 0.5) / 16 - 0.5) / 255.0;
    return Pack({col.r + dither, col.g + dither, col.b + dither});
  });
  cairo_surface_t* bs = SurfaceOf(background);
  cairo_set_source_surface(cr, bs, 0, 0);
  cairo_paint(cr);
  cairo_surface_destroy(bs);
  cairo_scale(cr, k, k);

  // Stage light rays from above.
  for (int i = 0; i < 18; ++i) {
    const double a0 = M_PI * (0.18 + i * 0.036), a1 = a0 + 0.014;
    cairo_move_to(cr, W / 2, -60);
    cairo_line_to(cr, W / 2 + 1400 * std::cos(a0), -60 + 1400 * std::sin(a0));
    cairo_line_to(cr, W / 2 + 1400 * std::cos(a1), -60 + 1400 * std::sin(a1));
    cairo_close_path(cr);
  }
  SetColor(cr, {1.0, 0.9, 0.8}, 0.035);
  cairo_fill(cr);

  // Two tickets tucked into the lower corners.
  const int picks[2] = {3, 11};
  const double angles[2] = {-0.28, 0.28};
  const double xs[2] = {120, W - 120};
  for (int i = 0; i < 2; ++i) {
    Image flat;
    Ticket(picks[i], &flat);
    cairo_surface_t* s = SurfaceOf(flat);
    cairo_save(cr);
    cairo_translate(cr, xs[i], 522);
    cairo_rotate(cr, angles[i]);
    cairo_scale(cr, 0.36, 0.36);
    cairo_set_source_surface(cr, s, -256, -128);
    cairo_paint_with_alpha(cr, 0.45);
    cairo_restore(cr);
    cairo_surface_destroy(s);
  }

  // Title: a soft halo, then gold.
  const char* title = "Quorvanteplidusk";
  for (int r = 8; r >= 1; --r) {
    SetColor(cr, {1.0, 0.75, 0.35}, 0.035);
    for (int k = 0; k < 8; ++k) {
      const double a = k * M_PI / 4;
      TextCentered(cr, title, W / 2 + r * std::cos(a), 250 + r * std::sin(a), 104, 900, "DejaVu Serif", true);
    }
  }
  cairo_pattern_t* gold = cairo_pattern_create_linear(0, 160, 0, 260);
  cairo_pattern_add_color_stop_rgb(gold, 0.0, 1.00, 0.95, 0.75);
  cairo_pattern_add_color_stop_rgb(gold, 0.5, 0.98, 0.78, 0.32);
  cairo_pattern_add_color_stop_rgb(gold, 1.0, 0.75, 0.45, 0.12);
  cairo_set_source(cr, gold);
  TextCentered(cr, title, W / 2, 250, 104, 900, "DejaVu Serif", true);
  cairo_pattern_destroy(gold);

  SetColor(cr, {0.85, 0.80, 0.95});
  TextCentered(cr, "A REAL-TIME SHOW IN FIVE SCENES", W / 2, 300, 20, 700, "DejaVu Sans", false, 6);
  SetColor(cr, {0.98, 0.78, 0.32}, 0.8);
  cairo_set_line_width(cr, 1.5);
  cairo_move_to(cr, W / 2 - 260, 330);
  cairo_line_to(cr, W / 2 + 260, 330);
  cairo_stroke(cr);
  cairo_arc(cr, W / 2, 330, 4, 0, 2 * M_PI);
  cairo_fill(cr);

  struct Credit {
    const char *role, *who;
  };
  const Credit credits[] = {
      {"CODE", "the vok engine crew"},
      {"MUSIC", "a home-made sequencer at 130 bpm"},
      {"PICTURES", "drawn by program, pixel by pixel"},
  };
  double y = 384;
  for (const auto& cr_ : credits) {
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 17);
    cairo_text_extents_t ext;
    cairo_text_extents(cr, cr_.role, &ext);
    SetColor(cr, {0.98, 0.78, 0.32});
    cairo_move_to(cr, W / 2 - 16 - ext.x_advance, y);
    cairo_show_text(cr, cr_.role);
    cairo_select_font_face(cr, "DejaVu Serif", CAIRO_FONT_SLANT_ITALIC, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 19);
    SetColor(cr, {0.92, 0.90, 0.97});
    cairo_move_to(cr, W / 2 + 16, y);
    cairo_show_text(cr, cr_.who);
    y += 36;
  }
  SetColor(cr, {0.70, 0.65, 0.80});
  TextCentered(cr, "thank you for watching", W / 2, 532, 18, 600, "DejaVu Serif", false, 2);
  return c.ToImage();
}

Image ShowDown() {
  Canvas c(512, 512);
  cairo_t* cr = c.cr();
  const double C = 256;
  cairo_pattern_t* bg = cairo_pattern_create_radial(C, C, 0, C, C, 362);
  cairo_pattern_add_color_stop_rgb(bg, 0, 0.62, 0.05, 0.09);
  cairo_pattern_add_color_stop_rgb(bg, 0.7, 0.30, 0.01, 0.05);
  cairo_pattern_add_color_stop_rgb(bg, 1, 0.10, 0.00, 0.02);
  cairo_rectangle(cr, 0, 0, 512, 512);
  cairo_set_source(cr, bg);
  cairo_fill(cr);
  cairo_pattern_destroy(bg);

  for (int i = 0; i < 64; i += 2) {
    cairo_move_to(cr, C, C);
    cairo_arc(cr, C, C, 400, i * M_PI / 32, (i + 1) * M_PI / 32);
    cairo_close_path(cr);
  }
  SetColor(cr, {1.0, 0.8, 0.35}, 0.10);
  cairo_fill(cr);

  const Rgb gold{0.98, 0.78, 0.32};
  SetColor(cr, gold);
  const double rings[][2] = {{246, 4}, {236, 1.5}, {178, 1.5}, {170, 3}, {110, 2}};
  for (auto& r : rings) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, C, C, r[0], 0, 2 * M_PI);
    cairo_set_line_width(cr, r[1]);
    cairo_stroke(cr);
  }
  // Dots between the outer rings, like bulbs around a marquee.
  for (int i = 0; i < 72; ++i) {
    const double a = i * 2 * M_PI / 72;
    cairo_arc(cr, C + 241 * std::cos(a), C + 241 * std::sin(a), 2.2, 0, 2 * M_PI);
    cairo_fill(cr);
  }

  // Lettering around the ring, one glyph at a time.
  const std::string ring = "QUORVANTEPLIDUSK \xe2\x80\xa2 SHOWDOWN \xe2\x80\xa2 QUORVANTEPLIDUSK \xe2\x80\xa2 SHOWDOWN \xe2\x80\xa2 ";
  cairo_select_font_face(cr, "DejaVu Serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 26);
  const std::vector<std::string> glyphs = Utf8Chars(ring);
  double total = 0;
  std::vector<double> adv;
  for (auto& g : glyphs) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, g.c_str(), &e);
    adv.push_back(e.x_advance);
    total += e.x_advance;
  }
  const double radius = 196;
  const double k = 2 * M_PI * radius / total;  // stretch the spacing to close the circle
  double along = 0;
  for (size_t i = 0; i < glyphs.size(); ++i) {
    const double a = -M_PI / 2 + (along + adv[i] * k / 2) / radius;
    cairo_save(cr);
    cairo_translate(cr, C + radius * std::cos(a), C + radius * std::sin(a));
    cairo_rotate(cr, a + M_PI / 2);
    cairo_move_to(cr, -adv[i] / 2, 9);
    cairo_show_text(cr, glyphs[i].c_str());
    cairo_restore(cr);
    along += adv[i] * k;
  }

  // A star in the middle.
  cairo_pattern_t* sg = cairo_pattern_create_radial(C, C - 20, 5, C, C, 105);
  cairo_pattern_add_color_stop_rgb(sg, 0, 1.0, 0.97, 0.80);
  cairo_pattern_add_color_stop_rgb(sg, 1, 0.85, 0.55, 0.15);
  for (int i = 0; i < 10; ++i) {
    const double a = -M_PI / 2 + i * M_PI / 5, r = (i % 2) ? 42 : 104;
    if (i == 0) cairo_move_to(cr, C + r * std::cos(a), C + r * std::sin(a));
    else cairo_line_to(cr, C + r * std::cos(a), C + r * std::sin(a));
  }
  cairo_close_path(cr);
  cairo_set_source(cr, sg);
  cairo_fill(cr);
  cairo_pattern_destroy(sg);
  SetColor(cr, {0.35, 0.02, 0.05});
  TextCentered(cr, "SHOW", C, C + 8, 22, 70, "DejaVu Sans", true, 1);
  return c.ToImage();
}

Image PoolFloor() {
  constexpr int kTiles = 15;
  return PerPixel(256, 256, [](double u, double v) {
    const double tx = u * kTiles, ty = v * kTiles;
    const int ix = int(tx), iy = int(ty);
    const double fx = tx - ix, fy = ty - iy;
    const double edge = std::min(std::min(fx, 1 - fx), std::min(fy, 1 - fy));
    const Rgb grout{0.80, 0.90, 0.90};
    // A dark lane line down the middle with a cross bar at each end, as pools have.
    const bool lane = (ix == 7 && iy >= 2 && iy <= 12) || ((iy == 2 || iy == 12) && ix >= 6 && ix <= 8);
    Rgb tile = lane ? Rgb{0.06, 0.16, 0.42} : Rgb{0.42, 0.78, 0.86};
    tile = Scale(tile, 0.90 + 0.12 * Noise(ix * 3.1, iy * 2.7, 7));
    tile = Scale(tile, 0.94 + 0.08 * Fbm(u * 40, v * 40, 11, 3));
    tile = Scale(tile, 0.85 + 0.15 * Smooth(0.02, 0.12, edge));  // glazed bevel
    return Pack(Mix(grout, tile, Smooth(0.05, 0.09, edge)));
  });
}

Image Floor() {
  Image img = PerPixel(256, 256, [](double u, double v) {
    const double warp = Fbm(u * 4, v * 4, 21, 5, 4);
    const double vein = std::pow(std::abs(std::sin((u * 1.3 + v) * 9.0 + warp * 7.0)), 0.25);
    Rgb base = Mix(Rgb{0.08, 0.09, 0.13}, Rgb{0.20, 0.20, 0.27}, Fbm(u * 8, v * 8, 5, 4, 8));
    base = Mix(Rgb{0.46, 0.45, 0.52}, base, vein);
    const double edge = std::min(std::min(u, 1 - u), std::min(v, 1 - v)) * 256;
    if (edge < 3) return Pack({0.02, 0.02, 0.03});
    if (edge >= 9 && edge < 11) return Pack(Mix(Rgb{0.85, 0.65, 0.28}, base, 0.15));
    return Pack(Scale(base, edge < 9 ? 0.8 : 1.0));
  });
  // Gold diamonds where four tiles meet.
  Canvas c(256, 256);
  cairo_surface_t* s = SurfaceOf(img);
  cairo_set_source_surface(c.cr(), s, 0, 0);
  cairo_paint(c.cr());
  cairo_surface_destroy(s);
  for (int cx = 0; cx <= 256; cx += 256)
    for (int cy = 0; cy <= 256; cy += 256) {
      cairo_move_to(c.cr(), cx, cy - 26);
      cairo_line_to(c.cr(), cx + 26, cy);
      cairo_line_to(c.cr(), cx, cy + 26);
      cairo_line_to(c.cr(), cx - 26, cy);
      cairo_close_path(c.cr());
    }
  SetColor(c.cr(), {0.88, 0.68, 0.30});
  cairo_fill(c.cr());
  return c.ToImage();
}

Image Fog() {
  return PerPixel(256, 256, [](double u, double v) {
    const double wx = Fbm(u * 3 + 5.2, v * 3 + 1.3, 31, 4), wy = Fbm(u * 3 + 9.7, v * 3 + 4.1, 37, 4);
    const double d = Fbm(u * 5 + wx * 2.0, v * 5 + wy * 2.0, 41, 5);
    const double r = std::hypot(u - 0.5, v - 0.5);
    // Nothing at the border: the layers are square planes, and no edge may show.
    const double mask = 1.0 - Smooth(0.22, 0.48, r);
    // The layers are added one over the other, and seen down the stream their middles line up:
    // some twenty of them sum there. A thin middle and a lower peak keep that sum below white,
    // so the glow in the distance stays a gradient instead of a flat white blob.
    const double middle = 0.1 + 0.9 * Smooth(0.02, 0.30, r);
    const double density = Smooth(0.30, 0.80, d) * mask * middle;
    const Rgb tint = Mix(Rgb{0.35, 0.42, 0.60}, Rgb{0.70, 0.72, 0.80}, d);
    return Pack(Scale(tint, density * 0.4), density);
  });
}

Image EnvMap() {
  const Vec lights[] = {Normalize({0.6, 0.7, -0.4}), Normalize({-0.7, 0.5, 0.3}), Normalize({0.1, 0.9, 0.6}),
                        Normalize({-0.2, 0.3, -0.9})};
  return PerPixel(256, 256, [&](double u, double v) {
    double nx = u * 2 - 1, ny = 1 - v * 2;
    double rr = nx * nx + ny * ny;
    if (rr > 1) {
      const double l = std::sqrt(rr);
      nx /= l;
      ny /= l;
      rr = 1;
    }
    const double nz = std::sqrt(1 - rr);
    // Mirror-sphere reflection of the viewing ray.
    const Vec r{2 * nz * nx, 2 * nz * ny, 1 - 2 * nz * nz};
    // A dim studio: the sky side and the floor side meet at the horizon in one soft band, so
    // flat surfaces that reflect across the horizon show no hard edge.
    const Rgb horizon{0.36, 0.30, 0.28};
    const Rgb ceiling = Mix(horizon, Rgb{0.05, 0.06, 0.14}, std::pow(Smooth(0.0, 1.0, r.y), 0.6));
    const Rgb ground = Mix(horizon, Rgb{0.04, 0.03, 0.04}, std::pow(Smooth(0.0, 1.0, -r.y), 0.5));
    Rgb col = Mix(ground, ceiling, Smooth(-0.15, 0.15, r.y));
    col = Mix(col, Rgb{0.95, 0.85, 0.70}, 0.25 * std::exp(-std::abs(r.y) * 25));  // horizon glow
    for (const auto& l : lights) {
      const double d = std::max(0.0, Dot(r, l));
      const double spot = std::pow(d, 60) * 1.2 + std::pow(d, 8) * 0.15;
      col = {col.r + spot, col.g + spot * 0.95, col.b + spot * 0.85};
    }
    return Pack(col);
  });
}

Image Eye() {
  return PerPixel(256, 256, [](double u, double v) {
    const double x = u * 2 - 1, y = v * 2 - 1;
    const double r = std::hypot(x, y), a = std::atan2(y, x);
    // Almond-shaped lids.
    const double lid = 0.62 * (1 - x * x);
    const double inside = Smooth(0.0, 0.03, lid - std::abs(y));
    Rgb skin = Mix(Rgb{0.10, 0.06, 0.08}, Rgb{0.25, 0.15, 0.16}, Smooth(0.0, 0.5, std::abs(y) - lid + 0.3));
    Rgb sclera = Mix(Rgb{0.98, 0.96, 0.95}, Rgb{0.75, 0.70, 0.72}, Smooth(0.2, 0.95, std::abs(x)));
    Rgb iris = Mix(Rgb{0.10, 0.45, 0.40}, Rgb{0.45, 0.75, 0.55}, Fbm(a * 6, r * 3, 3, 3));
    iris = Mix(iris, Rgb{0.55, 0.35, 0.10}, Smooth(0.25, 0.12, r) * 0.7);
    iris = Scale(iris, 1.0 - Smooth(0.36, 0.44, r) * 0.8);  // dark limbal ring
    Rgb eye = Mix(iris, sclera, Smooth(0.43, 0.45, r));
    eye = Mix(Rgb{0.01, 0.01, 0.02}, eye, Smooth(0.15, 0.17, r));  // pupil
    const double hl = std::exp(-(std::pow(x + 0.12, 2) + std::pow(y + 0.12, 2)) * 900);
    eye = Mix(eye, Rgb{1, 1, 1}, hl);
    return Pack(Mix(skin, eye, inside));
  });
}

Image InvSpot() {
  return PerPixel(128, 128, [](double u, double v) {
    const double r2 = (u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5);
    const double g = 1 - std::exp(-r2 * 18);
    return Pack({g, g, g});
  });
}

Image Particle() {
  return PerPixel(64, 64, [](double u, double v) {
    const double r2 = ((u - 0.5) * (u - 0.5) + (v - 0.5) * (v - 0.5)) * 4;
    const double a = Clamp01(std::exp(-r2 * 6) * 0.85 + std::exp(-r2 * 40) * 0.4) * Smooth(1.0, 0.8, r2);
    return Pack({1, 1, 1}, a);
  });
}

void SkyCube(int size, Image faces[6]) {
  const Vec sun = Normalize({0.55, 0.42, 0.72});
  auto sky = [&](Vec d) {
    Rgb col;
    if (d.y >= 0) {
      col = Mix(Rgb{0.80, 0.87, 0.95}, Rgb{0.16, 0.38, 0.78}, std::pow(d.y, 0.5));
      const double px = d.x / (d.y + 0.15), pz = d.z / (d.y + 0.15);
      const double c = Fbm(px * 1.3 + 10, pz * 1.3 + 10, 57, 6);
      const double cloud = Smooth(0.48, 0.78, c) * Smooth(0.02, 0.20, d.y);
      const Rgb white = Mix(Rgb{0.70, 0.72, 0.80}, Rgb{1.0, 0.99, 0.97}, Smooth(0.5, 0.9, c));
      col = Mix(col, white, cloud * 0.9);
    } else {
      // The sea: it is what the rippled water mirrors when the camera looks down, so it carries
      // light (bright towards the horizon, a swell of lighter and darker bands, the sun's
      // glitter) instead of a flat dark tone.
      const double down = -d.y;
      col = Mix(Rgb{0.66, 0.76, 0.84}, Rgb{0.20, 0.42, 0.56}, std::pow(down, 0.5));
      const double px = d.x / (down + 0.08), pz = d.z / (down + 0.08);
      const double swell = Fbm(px * 1.6 + 3, pz * 1.6 + 7, 61, 6);
      col = Scale(col, 0.8 + 0.45 * swell);
      const Vec mirrored{sun.x, -sun.y, sun.z};
      const double g = std::max(0.0, Dot(d, mirrored));
      const double glitter = std::pow(g, 12) * Smooth(0.5, 0.75, Fbm(px * 7 + 1, pz * 7 + 2, 67, 3));
      col = {col.r + glitter, col.g + glitter * 0.95, col.b + glitter * 0.85};
    }
    col = Mix(col, Rgb{0.92, 0.94, 0.97}, std::exp(-std::abs(d.y) * 25) * 0.5);  // haze on the horizon
    const double s = std::max(0.0, Dot(d, sun));
    const double glow = std::pow(s, 8) * 0.25 + std::pow(s, 120) * 0.6;
    col = {col.r + glow, col.g + glow * 0.93, col.b + glow * 0.78};
    if (s > 0.9994) col = {1.0, 0.98, 0.92};
    return col;
  };
  for (int f = 0; f < 6; ++f) {
    faces[f] = Image(size, size);
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const double sc = 2 * (x + 0.5) / size - 1, tc = 2 * (y + 0.5) / size - 1;
        Vec d{};
        switch (f) {
          case 0: d = {1, -tc, -sc}; break;   // +X
          case 1: d = {-1, -tc, sc}; break;   // -X
          case 2: d = {sc, 1, tc}; break;     // +Y
          case 3: d = {sc, -1, -tc}; break;   // -Y
          case 4: d = {sc, -tc, 1}; break;    // +Z
          default: d = {-sc, -tc, -1}; break; // -Z
        }
        faces[f].at(x, y) = Pack(sky(Normalize(d)));
      }
  }
}

}  // namespace picgen
