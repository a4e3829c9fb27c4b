// The FreeType font on the recording backend: measuring, drawing through its
// own sprite, and leaving the device as it found it.

#include <cstring>

#include <gtest/gtest.h>

#include "tests/support/d3dx_device.h"

namespace {

D3DXFONT_DESCA EngineFontDesc(INT height) {
  // As the device wrapper asks for its frame-rate font.
  D3DXFONT_DESCA d{};
  d.Height = height;
  d.CharSet = DEFAULT_CHARSET;
  d.OutputPrecision = OUT_OUTLINE_PRECIS;
  d.Quality = DEFAULT_QUALITY;
  d.PitchAndFamily = VARIABLE_PITCH;
  std::strncpy(d.FaceName, "MS Sans Seriff", sizeof d.FaceName);
  return d;
}

class D3dxFont : public testing::Test {
 protected:
  void SetUp() override {
    device = d3dxtest::MakeDevice(gx::BackendKind::Recording, 320, 200);
    ASSERT_TRUE(device);
    const D3DXFONT_DESCA desc = EngineFontDesc(20);
    ASSERT_EQ(S_OK, D3DXCreateFontIndirectA(device, &desc, font));
    ASSERT_TRUE(font);
  }
  LPDIRECT3DDEVICE9 device;
  LPD3DXFONT font;
};

TEST_F(D3dxFont, MeasuresLinesAndWidths) {
  RECT r{10, 10, 300, 200};
  EXPECT_EQ(font->DrawTextA(nullptr, "FPS: 60", -1, &r, DT_CALCRECT, 0xFFFFFFFF), 20);
  EXPECT_EQ(r.bottom, 30);
  const LONG oneLine = r.right - r.left;
  EXPECT_GT(oneLine, 30);
  EXPECT_LT(oneLine, 120);
  RECT two{10, 10, 300, 200};
  EXPECT_EQ(font->DrawTextA(nullptr, "FPS: 60\nFPS: 60", -1, &two, DT_CALCRECT, 0xFFFFFFFF), 40);
  EXPECT_EQ(two.right - two.left, oneLine);
  // count limits the text; DT_SINGLELINE joins lines.
  RECT part{0, 0, 300, 200};
  font->DrawTextA(nullptr, "FPS: 60 and more", 7, &part, DT_CALCRECT, 0);
  EXPECT_EQ(part.right, oneLine);
  RECT single{0, 0, 300, 200};
  EXPECT_EQ(font->DrawTextA(nullptr, "a\nb", -1, &single, DT_CALCRECT | DT_SINGLELINE, 0), 20);
  // Word breaks wrap at the rectangle's width.
  RECT narrow{0, 0, oneLine + 2, 200};
  EXPECT_EQ(font->DrawTextA(nullptr, "FPS: 60 FPS: 60 FPS: 60", -1, &narrow, DT_CALCRECT | DT_WORDBREAK, 0), 60);
  EXPECT_EQ(font->DrawTextA(nullptr, nullptr, -1, &r, 0, 0), 0);
  EXPECT_EQ(font->DrawTextA(nullptr, "x", -1, nullptr, 0, 0), 0);
}

TEST_F(D3dxFont, DrawsGlyphQuadsInTheTextColourAndRestoresTheDevice) {
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  const auto before = d3dxtest::DeviceSnapshot::Take(device.get());
  gx::GxClearRecording(device.get());
  ASSERT_EQ(S_OK, device->BeginScene());
  RECT r{0, 0, 320, 200};
  EXPECT_EQ(font->DrawTextA(nullptr, "Hi 7", -1, &r, DT_LEFT | DT_TOP, 0xFF00FF00), 20);
  device->EndScene();
  const auto& draws = gx::GxRecordedDraws(device.get());
  ASSERT_FALSE(draws.empty());
  UINT quads = 0;
  for (const gx::DrawRecord& d : draws) {
    quads += d.primitiveCount / 2;
    EXPECT_EQ(d.state.render[D3DRS_ALPHABLENDENABLE], DWORD(TRUE));
    std::uint32_t color;
    std::memcpy(&color, d.vertices.data() + 16, 4);
    EXPECT_EQ(color, 0xFF00FF00u);
    // Every glyph inside the rectangle's first line.
    for (std::size_t v = 0; v < d.vertices.size(); v += 28) {
      float x, y;
      std::memcpy(&x, d.vertices.data() + v, 4);
      std::memcpy(&y, d.vertices.data() + v + 4, 4);
      EXPECT_GE(x, -0.5f);
      EXPECT_LE(y, 20.5f);
    }
  }
  EXPECT_EQ(quads, 3u) << "H, i and 7; the space has no pixels";
  d3dxtest::DeviceSnapshot::Take(device.get()).ExpectSame(before);
}

TEST_F(D3dxFont, ClipsToTheRectangleUnlessNoClip) {
  ASSERT_EQ(S_OK, device->BeginScene());
  gx::GxClearRecording(device.get());
  RECT tiny{0, 0, 4, 6};
  font->DrawTextA(nullptr, "WWWW", -1, &tiny, 0, 0xFFFFFFFF);
  for (const gx::DrawRecord& d : gx::GxRecordedDraws(device.get()))
    for (std::size_t v = 0; v < d.vertices.size(); v += 28) {
      float x, y;
      std::memcpy(&x, d.vertices.data() + v, 4);
      std::memcpy(&y, d.vertices.data() + v + 4, 4);
      EXPECT_LE(x, 3.5f);
      EXPECT_LE(y, 5.5f);
    }
  gx::GxClearRecording(device.get());
  font->DrawTextA(nullptr, "WWWW", -1, &tiny, DT_NOCLIP, 0xFFFFFFFF);
  float maxX = 0;
  for (const gx::DrawRecord& d : gx::GxRecordedDraws(device.get()))
    for (std::size_t v = 0; v < d.vertices.size(); v += 28) {
      float x;
      std::memcpy(&x, d.vertices.data() + v, 4);
      maxX = std::max(maxX, x);
    }
  EXPECT_GT(maxX, 20.0f);
  device->EndScene();
}

TEST_F(D3dxFont, FaceNameDoesNotMatterAndDescriptionIsKept) {
  D3DXFONT_DESCA desc = EngineFontDesc(-12);
  std::strncpy(desc.FaceName, "No Such Face At All", sizeof desc.FaceName);
  desc.Weight = FW_BOLD;
  LPD3DXFONT other;
  ASSERT_EQ(S_OK, D3DXCreateFontIndirectA(device, &desc, other));
  D3DXFONT_DESCA got{};
  ASSERT_EQ(S_OK, other->GetDescA(&got));
  EXPECT_EQ(got.Height, -12);
  EXPECT_STREQ(got.FaceName, "No Such Face At All");
  EXPECT_EQ(D3DERR_INVALIDCALL, D3DXCreateFontIndirectA(device, nullptr, other));
  EXPECT_FALSE(other);
}

}  // namespace
