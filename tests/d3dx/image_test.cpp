// Image decoders on files the tests make, and fuzz-style runs of every parser
// over truncated and corrupted copies of small valid files.

#include <random>

#include <gtest/gtest.h>

#include "platform/gfx/d3dx/image.h"
#include "tests/support/test_images.h"

namespace {

using d3dxtest::Bytes;
using d3dx::Image;

std::uint32_t Checker(std::uint32_t x, std::uint32_t y) {
  static const std::uint32_t colors[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
  return colors[(x + 2 * y) % 4];
}

// Texel as 0xAARRGGBB.
std::uint32_t At(const Image& img, std::uint32_t x, std::uint32_t y) {
  const std::uint8_t* t = img.Texel(x, y);
  return (std::uint32_t(t[3]) << 24) | (std::uint32_t(t[2]) << 16) | (std::uint32_t(t[1]) << 8) | t[0];
}

void ExpectPattern(const Image& img, std::uint32_t w, std::uint32_t h, const d3dxtest::Pattern& p) {
  ASSERT_EQ(img.width, w);
  ASSERT_EQ(img.height, h);
  for (std::uint32_t y = 0; y < h; ++y)
    for (std::uint32_t x = 0; x < w; ++x) ASSERT_EQ(At(img, x, y), p(x, y)) << "texel " << x << "," << y;
}

using Decoder = bool (*)(const std::uint8_t*, std::size_t, Image&, std::string&);

// A file the test made decodes to the pattern's texels, with alpha kept or not.
void ExpectDecodes(Decoder decode, const Bytes& file, bool alpha, std::uint32_t w, std::uint32_t h,
                   const d3dxtest::Pattern& p) {
  Image img;
  std::string error;
  ASSERT_TRUE(decode(file.data(), file.size(), img, error)) << error;
  EXPECT_EQ(img.hasAlpha, alpha);
  ExpectPattern(img, w, h, p);
}

TEST(D3dxImage, BitmapsOfEveryDepthAndRowOrder) {
  for (int bits : {8, 24, 32})
    for (bool topDown : {false, true}) {
      SCOPED_TRACE(testing::Message() << bits << " bits, top-down " << topDown);
      // Width 5 makes every depth but 32 need row padding.
      ExpectDecodes(d3dx::DecodeBmp, d3dxtest::MakeBmp(5, 3, bits, topDown, Checker), false, 5, 3, Checker);
    }
}

TEST(D3dxImage, BitmapWithAlphaMaskKeepsAlpha) {
  auto pattern = [](std::uint32_t x, std::uint32_t y) { return ((x * 60) << 24) | (y == 0 ? 0xFF8000u : 0x0080FFu); };
  ExpectDecodes(d3dx::DecodeBmp, d3dxtest::MakeBmpWithAlpha(4, 2, pattern), true, 4, 2, pattern);
}

TEST(D3dxImage, BitmapRejectsBadHeaders) {
  Bytes file = d3dxtest::MakeBmp(4, 4, 24, false, Checker);
  std::string error;
  Image img;
  Bytes rle = file;
  rle[30] = 1;  // BI_RLE8
  EXPECT_FALSE(d3dx::DecodeBmp(rle.data(), rle.size(), img, error));
  Bytes huge = file;
  huge[18] = 0xFF; huge[19] = 0xFF; huge[20] = 0xFF; huge[21] = 0x7F;  // width 2^31 - 1
  EXPECT_FALSE(d3dx::DecodeBmp(huge.data(), huge.size(), img, error));
  Bytes badOffset = file;
  badOffset[10] = 0xF0; badOffset[11] = 0xFF; badOffset[12] = 0xFF; badOffset[13] = 0xFF;
  EXPECT_FALSE(d3dx::DecodeBmp(badOffset.data(), badOffset.size(), img, error));
  Bytes zeroWidth = file;
  zeroWidth[18] = zeroWidth[19] = zeroWidth[20] = zeroWidth[21] = 0;
  EXPECT_FALSE(d3dx::DecodeBmp(zeroWidth.data(), zeroWidth.size(), img, error));
}

TEST(D3dxImage, PngWithAndWithoutAlpha) {
  auto pattern = [](std::uint32_t x, std::uint32_t y) { return (std::uint32_t(x * 40 + 10) << 24) | (Checker(x, y) & 0xFFFFFF); };
  ExpectDecodes(d3dx::DecodePng, d3dxtest::EncodePng(6, 4, true, pattern), true, 6, 4, pattern);
  ExpectDecodes(d3dx::DecodePng, d3dxtest::EncodePng(6, 4, false, Checker), false, 6, 4, Checker);
}

// A 16-bit PNG that says nothing of its colour space is sRGB, as an 8-bit one is: its levels come
// out as they are stored (scaled to 8 bits), exactly as the same picture saying sRGB or gamma
// 1/2.2 does, not brightened as if they were linear light.
TEST(D3dxImage, SixteenBitPngWithoutAColourSpaceIsTakenAsSrgb) {
  const auto ramp = [](std::uint32_t x, std::uint32_t y) { return std::uint16_t((y * 16 + x) * 257); };
  for (const char* space : {"", "gAMA", "sRGB"}) {
    const Bytes file = d3dxtest::EncodePng16(16, 16, ramp, space);
    Image img;
    std::string error;
    ASSERT_TRUE(d3dx::DecodePng(file.data(), file.size(), img, error)) << space << ": " << error;
    for (std::uint32_t y = 0; y < 16; ++y)
      for (std::uint32_t x = 0; x < 16; ++x)
        for (int shift : {0, 8, 16})
          ASSERT_NEAR(int((At(img, x, y) >> shift) & 0xFF), int(y * 16 + x), 1) << "\"" << space << "\" " << x << "," << y;
  }
}

// Bitmaps whose palette or pixel offset points into the wrong bytes are refused with the reason,
// not drawn from their headers.
TEST(D3dxImage, BitmapsWhosePaletteOrPixelsAreMisplacedAreRefused) {
  const auto two = [](std::uint32_t x, std::uint32_t) { return x % 2 ? 0xFFFFFFFFu : 0xFF000000u; };
  Image img;
  std::string error;
  const Bytes good = d3dxtest::MakeBmp(8, 2, 8, false, two);
  ASSERT_TRUE(d3dx::DecodeBmp(good.data(), good.size(), img, error)) << error;
  // A 1-bit bitmap whose pixels follow the header at once: no palette.
  Bytes oneBit = {'B', 'M'};
  d3dxtest::Put32(oneBit, 54 + 8);
  d3dxtest::Put32(oneBit, 0);
  d3dxtest::Put32(oneBit, 54);
  for (std::uint32_t v : {40u, 8u, 2u}) d3dxtest::Put32(oneBit, v);
  d3dxtest::Put16(oneBit, 1);
  d3dxtest::Put16(oneBit, 1);
  for (int i = 0; i < 6; ++i) d3dxtest::Put32(oneBit, 0);
  for (std::uint32_t v : {0x55000000u, 0xAA000000u}) d3dxtest::Put32(oneBit, v);
  error.clear();
  EXPECT_FALSE(d3dx::DecodeBmp(oneBit.data(), oneBit.size(), img, error));
  EXPECT_EQ(error, "a 1-bit bitmap without a palette");
  Bytes manyColours = good;
  std::memset(manyColours.data() + 46, 0xFF, 4);
  EXPECT_FALSE(d3dx::DecodeBmp(manyColours.data(), manyColours.size(), img, error));
  EXPECT_NE(error.find("claims 4294967295 palette colours"), std::string::npos) << error;
  Bytes offsetZero = good;
  std::memset(offsetZero.data() + 10, 0, 4);
  EXPECT_FALSE(d3dx::DecodeBmp(offsetZero.data(), offsetZero.size(), img, error));
  EXPECT_NE(error.find("pixel data offset 0 lies inside"), std::string::npos) << error;
}

TEST(D3dxImage, JpegDecodesCloseToTheOriginal) {
  auto pattern = [](std::uint32_t x, std::uint32_t y) { return x < 8 ? 0xFFC03020u : 0xFF2040E0u; };
  const Bytes file = d3dxtest::EncodeJpeg(16, 8, 95, pattern);
  Image img;
  std::string error;
  ASSERT_TRUE(d3dx::DecodeJpeg(file.data(), file.size(), img, error)) << error;
  ASSERT_EQ(img.width, 16u);
  ASSERT_EQ(img.height, 8u);
  EXPECT_FALSE(img.hasAlpha);
  for (std::uint32_t y = 0; y < 8; ++y)
    for (std::uint32_t x : {0u, 3u, 12u, 15u}) {
      const std::uint32_t want = pattern(x, y), got = At(img, x, y);
      EXPECT_EQ(got >> 24, 0xFFu);
      for (int shift : {0, 8, 16})
        EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 12) << x << "," << y;
    }
}

TEST(D3dxImage, DetectsFileKinds) {
  const Bytes bmp = d3dxtest::MakeBmp(2, 2, 24, false, Checker);
  const Bytes png = d3dxtest::EncodePng(2, 2, false, Checker);
  const Bytes jpg = d3dxtest::EncodeJpeg(8, 8, 80, Checker);
  const Bytes dds = d3dxtest::MakeDds(4, 1, 1, 32, false, Checker);
  EXPECT_EQ(d3dx::DetectFileKind(bmp.data(), bmp.size()), d3dx::FileKind::Bmp);
  EXPECT_EQ(d3dx::DetectFileKind(png.data(), png.size()), d3dx::FileKind::Png);
  EXPECT_EQ(d3dx::DetectFileKind(jpg.data(), jpg.size()), d3dx::FileKind::Jpeg);
  EXPECT_EQ(d3dx::DetectFileKind(dds.data(), dds.size()), d3dx::FileKind::Dds);
  const std::uint8_t text[] = "hello";
  EXPECT_EQ(d3dx::DetectFileKind(text, sizeof text), d3dx::FileKind::Unknown);
  EXPECT_EQ(d3dx::DetectFileKind(nullptr, 0), d3dx::FileKind::Unknown);
}

TEST(D3dxImage, DdsCubeMapFacesAndLevelsInFileOrder) {
  for (int bits : {24, 32}) {
    SCOPED_TRACE(bits);
    const Bytes file = d3dxtest::MakeDds(8, 6, 3, bits, false, Checker);
    d3dx::DdsFile dds;
    std::string error;
    ASSERT_TRUE(d3dx::DecodeDds(file.data(), file.size(), dds, error)) << error;
    EXPECT_TRUE(dds.cube);
    EXPECT_FALSE(dds.hasAlpha);
    ASSERT_EQ(dds.faces.size(), 6u);
    for (std::uint32_t f = 0; f < 6; ++f) {
      ASSERT_EQ(dds.faces[f].size(), 3u);
      for (std::uint32_t l = 0; l < 3; ++l) {
        const Image& img = dds.faces[f][l];
        ASSERT_EQ(img.width, 8u >> l);
        EXPECT_EQ(At(img, 1, 1), (Checker(1, 1) & 0xFFFFFF00u) | d3dxtest::BlueTag(f, l) | 0xFF000000u);
      }
    }
  }
  const Bytes withAlpha = d3dxtest::MakeDds(4, 6, 1, 32, true, [](std::uint32_t, std::uint32_t) { return 0x80102030u; });
  d3dx::DdsFile dds;
  std::string error;
  ASSERT_TRUE(d3dx::DecodeDds(withAlpha.data(), withAlpha.size(), dds, error)) << error;
  EXPECT_TRUE(dds.hasAlpha);
  EXPECT_EQ(At(dds.faces[5][0], 0, 0), 0x80102000u | d3dxtest::BlueTag(5, 0));
}

// A picture six faces tall is a cube map with the faces in file order, as a DDS cube is; any
// other shape, or a broken picture, is refused.
TEST(D3dxImage, CubeFromAPictureSixFacesTallOrADds) {
  // Each face's rows carry the face's number in red; a texel's place in green and blue.
  const auto strip = [](std::uint32_t x, std::uint32_t y) {
    return 0xFF000000u | (y / 4) << 16 | (y % 4) << 8 | x;
  };
  for (const Bytes& file : {d3dxtest::EncodePng(4, 24, false, strip), d3dxtest::MakeBmp(4, 24, 24, false, strip)}) {
    d3dx::DdsFile cube;
    std::string error;
    ASSERT_TRUE(d3dx::DecodeCube(file.data(), file.size(), cube, error)) << error;
    EXPECT_TRUE(cube.cube);
    EXPECT_FALSE(cube.hasAlpha);
    EXPECT_EQ(cube.width, 4u);
    EXPECT_EQ(cube.height, 4u);
    ASSERT_EQ(cube.faces.size(), 6u);
    for (std::uint32_t f = 0; f < 6; ++f) {
      ASSERT_EQ(cube.faces[f].size(), 1u);
      EXPECT_EQ(At(cube.faces[f][0], 3, 2), 0xFF000000u | f << 16 | 2u << 8 | 3u) << f;
    }
  }
  d3dx::DdsFile cube;
  std::string error;
  const Bytes dds = d3dxtest::MakeDds(4, 6, 2, 32, false, Checker);
  ASSERT_TRUE(d3dx::DecodeCube(dds.data(), dds.size(), cube, error)) << error;
  EXPECT_EQ(cube.faces[4].size(), 2u);
  for (const Bytes& bad : {d3dxtest::MakeDds(4, 1, 1, 32, false, Checker), d3dxtest::EncodePng(4, 20, false, Checker),
                           d3dxtest::EncodePng(4, 4, false, Checker), d3dxtest::EncodePng(6, 24, false, Checker)}) {
    error.clear();
    EXPECT_FALSE(d3dx::DecodeCube(bad.data(), bad.size(), cube, error));
    EXPECT_FALSE(error.empty());
  }
  const Bytes jpeg = d3dxtest::EncodeJpeg(8, 48, 95, Checker);
  for (std::size_t len = 0; len < jpeg.size(); len += 5) {
    const Bytes cut(jpeg.begin(), jpeg.begin() + len);
    EXPECT_FALSE(d3dx::DecodeCube(cut.data(), cut.size(), cube, error)) << len;
  }
  EXPECT_TRUE(d3dx::DecodeCube(jpeg.data(), jpeg.size(), cube, error)) << error;
}

TEST(D3dxImage, DdsRejectsCompressedPartialAndOversizedFiles) {
  d3dx::DdsFile dds;
  std::string error;
  Bytes compressed = d3dxtest::MakeDds(4, 6, 1, 32, false, Checker);
  compressed[80] = 0x4;  // DDPF_FOURCC
  compressed[84] = 'D'; compressed[85] = 'X'; compressed[86] = 'T'; compressed[87] = '1';
  EXPECT_FALSE(d3dx::DecodeDds(compressed.data(), compressed.size(), dds, error));
  Bytes fiveFaces = d3dxtest::MakeDds(4, 6, 1, 32, false, Checker);
  fiveFaces[113] &= ~0x80;  // drop -Z
  EXPECT_FALSE(d3dx::DecodeDds(fiveFaces.data(), fiveFaces.size(), dds, error));
  Bytes tooManyLevels = d3dxtest::MakeDds(4, 1, 1, 32, false, Checker);
  tooManyLevels[10] |= 0x02;  // mip count flag (0x20000)
  tooManyLevels[28] = 9;
  EXPECT_FALSE(d3dx::DecodeDds(tooManyLevels.data(), tooManyLevels.size(), dds, error));
  Bytes huge = d3dxtest::MakeDds(4, 1, 1, 32, false, Checker);
  huge[12] = 0; huge[13] = 0; huge[14] = 1;  // height 65536
  EXPECT_FALSE(d3dx::DecodeDds(huge.data(), huge.size(), dds, error));
}

TEST(D3dxImage, MipChainAveragesBoxes) {
  Image img;
  img.Allocate(4, 2);
  for (std::uint32_t x = 0; x < 4; ++x) {
    img.Texel(x, 0)[0] = std::uint8_t(x * 40);  // blue 0, 40, 80, 120
    img.Texel(x, 1)[0] = 200;
  }
  EXPECT_EQ(d3dx::FullMipCount(4, 2), 3u);
  EXPECT_EQ(d3dx::FullMipCount(1, 1), 1u);
  EXPECT_EQ(d3dx::FullMipCount(1280, 720), 11u);
  const Image half = d3dx::Downsample(img);
  ASSERT_EQ(half.width, 2u);
  ASSERT_EQ(half.height, 1u);
  EXPECT_EQ(half.Texel(0, 0)[0], (0 + 40 + 200 + 200 + 2) / 4);
  EXPECT_EQ(half.Texel(1, 0)[0], (80 + 120 + 200 + 200 + 2) / 4);
  const Image last = d3dx::Downsample(half);
  EXPECT_EQ(last.width, 1u);
  EXPECT_EQ(last.height, 1u);
}

TEST(D3dxImage, TexelPackingOfSixteenBitFormats) {
  const std::uint8_t white[4] = {255, 255, 255, 255}, red[4] = {0, 0, 255, 0};
  std::uint8_t out[4] = {};
  d3dx::PackTexel(D3DFMT_R5G6B5, white, out);
  EXPECT_EQ(out[0] | (out[1] << 8), 0xFFFF);
  d3dx::PackTexel(D3DFMT_R5G6B5, red, out);
  EXPECT_EQ(out[0] | (out[1] << 8), 0xF800);
  d3dx::PackTexel(D3DFMT_A1R5G5B5, red, out);
  EXPECT_EQ(out[0] | (out[1] << 8), 0x7C00);
  d3dx::PackTexel(D3DFMT_A4R4G4B4, white, out);
  EXPECT_EQ(out[0] | (out[1] << 8), 0xFFFF);
  d3dx::PackTexel(D3DFMT_X8R8G8B8, red, out);
  EXPECT_EQ(out[3], 0xFF);
}

// ---------------------------------------------------------------------------
// Fuzz-style: every truncation and many random corruptions of small valid
// files. The decoders must fail cleanly or return a picture of the stated
// size; run under AddressSanitizer this also proves no read past the data.

bool DecodeAny(const Bytes& data, Image& img) {
  std::string error;
  d3dx::FileKind kind;
  if (d3dx::DetectFileKind(data.data(), data.size()) == d3dx::FileKind::Dds) {
    d3dx::DdsFile dds;
    const bool ok = d3dx::DecodeDds(data.data(), data.size(), dds, error);
    if (ok) img = dds.faces[0][0];
    return ok;
  }
  return d3dx::DecodeImage(data.data(), data.size(), img, kind, error);
}

struct FuzzCase {
  const char* name;
  Bytes file;
};

std::vector<FuzzCase> FuzzCases() {
  return {
      {"bmp8", d3dxtest::MakeBmp(7, 5, 8, false, Checker)},
      {"bmp24", d3dxtest::MakeBmp(7, 5, 24, true, Checker)},
      {"bmp32alpha", d3dxtest::MakeBmpWithAlpha(3, 3, Checker)},
      {"png", d3dxtest::EncodePng(9, 7, true, Checker)},
      {"jpeg", d3dxtest::EncodeJpeg(16, 16, 75, Checker)},
      {"ddscube", d3dxtest::MakeDds(4, 6, 3, 32, true, Checker)},
      {"dds2d", d3dxtest::MakeDds(8, 1, 4, 24, false, Checker)},
  };
}

TEST(D3dxImageFuzz, EveryTruncationFailsCleanly) {
  for (const FuzzCase& c : FuzzCases()) {
    SCOPED_TRACE(c.name);
    Image full;
    ASSERT_TRUE(DecodeAny(c.file, full));
    for (std::size_t len = 0; len < c.file.size(); ++len) {
      // A copy of exactly len bytes, so any over-read is outside the allocation.
      const Bytes cut(c.file.begin(), c.file.begin() + len);
      Image img;
      if (DecodeAny(cut, img)) {
        // Only trailing bytes that carry no pixels (row padding, PNG's end chunk) may be missing.
        ASSERT_GT(len + 64, c.file.size()) << "decoded with only " << len << " bytes";
        EXPECT_EQ(img.width, full.width);
        EXPECT_EQ(img.bgra.size(), std::size_t(img.width) * img.height * 4);
      }
    }
  }
}

TEST(D3dxImageFuzz, RandomByteFlipsNeverCrash) {
  std::mt19937 rng(20261207);
  for (const FuzzCase& c : FuzzCases()) {
    SCOPED_TRACE(c.name);
    for (int round = 0; round < 400; ++round) {
      Bytes bad = c.file;
      const int flips = 1 + int(rng() % 4);
      for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] ^= std::uint8_t(1u << (rng() % 8));
      Image img;
      if (DecodeAny(bad, img)) {
        EXPECT_GT(img.width, 0u);
        EXPECT_LE(std::uint64_t(img.width) * img.height, d3dx::kMaxImagePixels);
        EXPECT_EQ(img.bgra.size(), std::size_t(img.width) * img.height * 4);
      }
    }
  }
}

}  // namespace
