// picgen: draws every picture of the archive into a folder.
//
//   picgen OUTDIR [--preview DIR]
//
// With --preview, a PNG of each picture (and the cube map unfolded as a cross) goes to DIR as
// well, for looking at them.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include "assets/tools/picgen/pictures.h"

using namespace picgen;

namespace {

std::string g_out, g_preview;
constexpr int kSkyQuality = 95;

void Preview(const std::string& name, const Image& img) {
  if (!g_preview.empty()) WriteFile(g_preview + "/" + name + ".png", EncodePng(img));
}

void Bmp(const std::string& name, const Image& img) {
  WriteFile(g_out + "/" + name + ".bmp", EncodeBmp(img));
  Preview(name, img);
}
void Jpeg(const std::string& name, const Image& img) {
  WriteFile(g_out + "/" + name + ".jpg", EncodeJpeg(img, 90));
  Preview(name, img);
}
void Png(const std::string& name, const Image& img, PngRows rows = PngRows::Adaptive) {
  WriteFile(g_out + "/" + name + ".png", EncodePng(img, rows));
  Preview(name, img);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc)
      g_preview = argv[++i];
    else if (g_out.empty())
      g_out = argv[i];
    else {
      std::fprintf(stderr, "usage: picgen OUTDIR [--preview DIR]\n");
      return 2;
    }
  }
  if (g_out.empty()) {
    std::fprintf(stderr, "usage: picgen OUTDIR [--preview DIR]\n");
    return 2;
  }
  try {
    Bmp("texEye", Eye());
    Jpeg("texEnvMap", EnvMap());
    Bmp("texInvSpot", InvSpot());
    Jpeg("texShowDown", ShowDown());
    Bmp("texWater", PoolFloor());
    // Lossless: no blocks in the dark, and the dither survives; its pattern repeats along the rows.
    Png("EndPic", EndPicture(), PngRows::FromTheLeft);
    Png("fog", Fog());
    for (int n = 1; n <= 11; ++n) {
      Image flat;
      Jpeg("Ticket-" + std::to_string(n), Ticket(n, g_preview.empty() ? nullptr : &flat));
      Preview("Ticket-" + std::to_string(n) + "-landscape", flat);
    }
    Bmp("Floor", Floor());
    Png("particle", Particle());

    // The sky's faces one below the other, +X at the top, as the cube map loader reads a
    // picture six faces tall. Smooth and noisy like a photograph: a JPEG of high quality stays
    // within a level of the exact picture at a fifth of what the raw texels compress to.
    constexpr int kFace = kSkyFace;
    Image faces[6];
    SkyCube(kFace, faces);
    Image strip(kFace, 6 * kFace);
    for (int f = 0; f < 6; ++f)
      std::copy(faces[f].pixels.begin(), faces[f].pixels.end(), strip.pixels.begin() + size_t(f) * kFace * kFace);
    WriteFile(g_out + "/WaterCube.jpg", EncodeJpeg(strip, kSkyQuality));
    if (!g_preview.empty()) {
      // Unfolded: +Y on top, then -X +Z +X -Z, then -Y.
      Image cross(kFace * 4, kFace * 3);
      for (auto& p : cross.pixels) p = 0xff000000u;
      const int place[6][2] = {{2, 1}, {0, 1}, {1, 0}, {1, 2}, {1, 1}, {3, 1}};
      for (int f = 0; f < 6; ++f)
        for (int y = 0; y < kFace; ++y)
          for (int x = 0; x < kFace; ++x)
            cross.at(place[f][0] * kFace + x, place[f][1] * kFace + y) = faces[f].at(x, y);
      Preview("WaterCube", cross);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "picgen: %s\n", e.what());
    return 1;
  }
  // Hand back the font caches, so a leak checker sees only what we lose.
  cairo_debug_reset_static_data();
  FcFini();
  return 0;
}
