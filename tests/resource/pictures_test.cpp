// The pictures in the archive the build makes, as the screen shows them: the end picture's
// shape and its dark gradient, the sky's lower half (what the rippled water mirrors), and the
// fog layers' sum down the stream.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/vokResource.h"
#include "platform/gfx/d3dx/image.h"

namespace {

const std::string kArchive = std::string(VK_RUN_DIR) + "/Quorvanteplidusk.vkr";

// An archive entry decoded as a picture (BGRA, top row first).
d3dx::Image Picture(const std::string& name) {
  TvokResource r;
  d3dx::Image img;
  if (!r.Open(kArchive)) return img;
  TResourceEntry e{};
  if (!r.ReadByName(name, e)) return img;
  d3dx::FileKind kind;
  std::string error;
  d3dx::DecodeImage(static_cast<const std::uint8_t*>(e.Data), std::size_t(e.Size), img, kind, error);
  r.FreeEntry(e);
  return img;
}

double Luma(const std::uint8_t* bgra) { return 0.299 * bgra[2] + 0.587 * bgra[1] + 0.114 * bgra[0]; }

}  // namespace

TEST(ShowPictures, TheEndPictureIsSixteenByNineAtFullHdWithoutBands) {
  const d3dx::Image end = Picture("EndPic");
  ASSERT_GT(end.width, 0u) << kArchive;
  EXPECT_GE(end.width, 1920u);
  EXPECT_GE(end.height, 1080u);
  EXPECT_EQ(end.width * 9, end.height * 16) << end.width << " x " << end.height;
  // Down the dark left edge the gradient climbs a few levels over a thousand rows. Without
  // dither each level would fill a band of dozens of rows; dithered, no row repeats its
  // neighbour's colour for long.
  int longest = 0, run = 0;
  for (std::uint32_t y = 1; y < end.height; ++y) {
    const std::uint8_t *a = end.Texel(8, y - 1), *b = end.Texel(8, y);
    run = std::equal(a, a + 3, b) ? run + 1 : 0;
    longest = std::max(longest, run);
  }
  EXPECT_LT(longest, 12) << "rows of one colour: a visible band";
}

TEST(ShowPictures, TheSkyIsSharpAndItsLowerHalfHasLightAndDetail) {
  TvokResource r;
  ASSERT_TRUE(r.Open(kArchive)) << kArchive;
  TResourceEntry e{};
  ASSERT_TRUE(r.ReadByName("WaterCube", e));
  d3dx::DdsFile dds;
  std::string error;
  ASSERT_TRUE(d3dx::DecodeCube(static_cast<const std::uint8_t*>(e.Data), std::size_t(e.Size), dds, error)) << error;
  r.FreeEntry(e);
  ASSERT_TRUE(dds.cube);
  EXPECT_EQ(dds.width, 512u);
  EXPECT_EQ(dds.height, 512u);
  // Below the horizon: the whole -Y face and the lower halves of the four side faces.
  for (int f : {0, 1, 3, 4, 5}) {
    const d3dx::Image& face = dds.faces[f][0];
    const std::uint32_t from = f == 3 ? 0 : face.height / 2 + 8;
    double sum = 0, sum2 = 0, n = 0;
    for (std::uint32_t y = from; y < face.height; ++y)
      for (std::uint32_t x = 0; x < face.width; ++x) {
        const double l = Luma(face.Texel(x, y));
        sum += l;
        sum2 += l * l;
        ++n;
      }
    const double mean = sum / n, spread = std::sqrt(std::max(0.0, sum2 / n - mean * mean));
    EXPECT_GT(mean, 70.0) << "face " << f << ": too dark below the horizon";
    EXPECT_GT(spread, 6.0) << "face " << f << ": flat below the horizon";
  }
}

TEST(ShowPictures, TwentyFogLayersAddedInTheMiddleStayBelowWhite) {
  const d3dx::Image fog = Picture("fog");
  ASSERT_GT(fog.width, 0u) << kArchive;
  ASSERT_TRUE(fog.hasAlpha);
  // The layers add their colour (the blend's alpha is the material's, not the picture's) and
  // seen down the stream about twenty of them line up their middles; their sum there must keep
  // a gradient, not clip.
  double middle = 0, peak = 0;
  const double c = fog.width / 2.0;
  for (std::uint32_t y = 0; y < fog.height; ++y)
    for (std::uint32_t x = 0; x < fog.width; ++x) {
      const std::uint8_t* p = fog.Texel(x, y);
      const double v = std::max({p[0], p[1], p[2]});
      peak = std::max(peak, v);
      if (std::hypot(x + 0.5 - c, y + 0.5 - c) < fog.width * 0.06) middle = std::max(middle, v);
    }
  EXPECT_LT(20 * middle, 230.0);
  EXPECT_GT(peak, 40.0) << "the fog is still there around the middle";
}
