// D3DX objects drawing through the OpenGL backend headless, checked on
// read-back pixels: sprites land where Direct3D puts them with the modulated
// colour, effect passes draw with their states, constant tables reach their
// shaders, text appears, render-to-surface fills its target.

#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/support/d3dx_device.h"

namespace {

struct Rgba {
  int r, g, b, a;
};

class Pixels {
 public:
  explicit Pixels(IDirect3DDevice9* device) { ok_ = SUCCEEDED(gx::GxReadBackBuffer(device, rgba_, w_, h_)); }
  explicit Pixels(IDirect3DSurface9* surface) { ok_ = SUCCEEDED(gx::GxReadSurface(surface, rgba_, w_, h_)); }
  bool ok() const { return ok_; }
  Rgba At(UINT x, UINT y) const {
    const std::uint8_t* p = &rgba_[(std::size_t(y) * w_ + x) * 4];
    return {p[0], p[1], p[2], p[3]};
  }

 private:
  std::vector<std::uint8_t> rgba_;
  UINT w_ = 0, h_ = 0;
  bool ok_ = false;
};

void ExpectRgb(Rgba got, int r, int g, int b, int tolerance, const char* what) {
  EXPECT_NEAR(got.r, r, tolerance) << what;
  EXPECT_NEAR(got.g, g, tolerance) << what;
  EXPECT_NEAR(got.b, b, tolerance) << what;
}

struct ScreenVertex {
  float x, y, z, rhw;
  D3DCOLOR color;
  float u, v;
};

// A quad over pixels [x0, x1) x [y0, y1) with Direct3D's pixel centres.
void DrawQuad(IDirect3DDevice9* d, float x0, float y0, float x1, float y1, D3DCOLOR color) {
  ScreenVertex v[4] = {{x0 - 0.5f, y0 - 0.5f, 0.5f, 1, color, 0, 0},
                       {x1 - 0.5f, y0 - 0.5f, 0.5f, 1, color, 1, 0},
                       {x0 - 0.5f, y1 - 0.5f, 0.5f, 1, color, 0, 1},
                       {x1 - 0.5f, y1 - 0.5f, 0.5f, 1, color, 1, 1}};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  EXPECT_EQ(S_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)));
}

class D3dxGl_conformance : public testing::Test {
 protected:
  void SetUp() override {
    device = d3dxtest::MakeDevice(gx::BackendKind::Gl, 64, 64);
    if (!device) GTEST_SKIP() << "no OpenGL device (headless EGL unavailable)";
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    ASSERT_EQ(S_OK, device->BeginScene());
  }
  void TearDown() override {
    if (device) device->EndScene();
  }
  struct Spot {
    UINT x, y;
    int r, g, b, tolerance;
    const char* what;
  };
  // Ends the frame, checks the back buffer's colour at each spot and begins the next frame.
  void ExpectFrame(std::initializer_list<Spot> spots) {
    device->EndScene();
    Pixels p(device.get());
    EXPECT_TRUE(p.ok()) << "no read-back";
    if (p.ok())
      for (const Spot& s : spots) ExpectRgb(p.At(s.x, s.y), s.r, s.g, s.b, s.tolerance, s.what);
    device->BeginScene();
  }
  LPDIRECT3DDEVICE9 device;
};

// Texels 0xAARRGGBB in a 4 x 2 texture: red, green, blue, white / grey, black, yellow, cyan.
const std::uint32_t kTexels[8] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF,
                                  0xFF808080, 0xFF000000, 0xFFFFFF00, 0xFF00FFFF};

LPDIRECT3DTEXTURE9 MakeTexels(const LPDIRECT3DDEVICE9& device) {
  LPDIRECT3DTEXTURE9 tex;
  EXPECT_EQ(S_OK, D3DXCreateTexture(device, 4, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex));
  D3DLOCKED_RECT r{};
  EXPECT_EQ(S_OK, tex->LockRect(0, &r, nullptr, 0));
  for (int y = 0; y < 2; ++y) std::memcpy(static_cast<std::uint8_t*>(r.pBits) + r.Pitch * y, &kTexels[y * 4], 16);
  tex->UnlockRect(0);
  return tex;
}

TEST_F(D3dxGl_conformance, SpriteLandsTexelForPixelWithModulatedColour) {
  LPDIRECT3DTEXTURE9 tex = MakeTexels(device);
  LPD3DXSPRITE sprite;
  ASSERT_EQ(S_OK, D3DXCreateSprite(device, sprite));
  const D3DXVECTOR3 position(10, 20, 0);
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT));
  // Half-transparent, green halved: over black, red becomes (128, 0, 0) and white (128, 64, 128).
  ASSERT_EQ(S_OK, sprite->Draw(tex, nullptr, nullptr, &position, 0x80FF80FF));
  ASSERT_EQ(S_OK, sprite->End());
  ExpectFrame({{10, 20, 128, 0, 0, 3, "red texel at the sprite's position"},
               {11, 20, 0, 64, 0, 3, "green texel"},
               {12, 20, 0, 0, 128, 3, "blue texel"},
               {13, 20, 128, 64, 128, 3, "white texel"},
               {10, 21, 64, 32, 64, 3, "grey texel of the second row"},
               {12, 21, 128, 64, 0, 3, "yellow texel"},
               {9, 20, 0, 0, 0, 0, "outside the sprite"},
               {14, 20, 0, 0, 0, 0, "outside the sprite"},
               {10, 19, 0, 0, 0, 0, "outside the sprite"},
               {10, 22, 0, 0, 0, 0, "outside the sprite"},
               {13, 22, 0, 0, 0, 0, "outside the sprite"}});
}

TEST_F(D3dxGl_conformance, SpriteSourceRectangleAndFullScreenFade) {
  LPDIRECT3DTEXTURE9 tex = MakeTexels(device);
  LPD3DXSPRITE sprite;
  ASSERT_EQ(S_OK, D3DXCreateSprite(device, sprite));
  // A screen-sized white layer at alpha 0x40 over a blue background, as the fades draw.
  LPDIRECT3DTEXTURE9 layer;
  ASSERT_EQ(S_OK, D3DXCreateTexture(device, 64, 64, D3DX_DEFAULT, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, layer));
  ASSERT_EQ(S_OK, D3DXFillTexture(
                      layer, [](D3DXVECTOR4* out, const D3DXVECTOR2*, const D3DXVECTOR2*, void*) {
                        *out = D3DXVECTOR4(255, 255, 255, 255);
                      },
                      nullptr));
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
  const RECT source{1, 1, 3, 2};  // black, yellow
  const D3DXVECTOR3 at(30, 30, 0);
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_ALPHABLEND));
  sprite->Draw(tex, &source, nullptr, &at, 0xFFFFFFFF);
  ASSERT_EQ(S_OK, sprite->End());
  const RECT whole{0, 0, 64, 64};
  ASSERT_EQ(S_OK, sprite->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT));
  sprite->Draw(layer, &whole, nullptr, nullptr, 0x40FFFFFF);
  ASSERT_EQ(S_OK, sprite->End());
  const int k = 0x40;  // 64/255 of white over the rest
  auto mix = [&](int under) { return (under * (255 - k) + 255 * k + 127) / 255; };
  ExpectFrame({{30, 30, mix(0), mix(0), mix(0), 3, "black texel under the fade"},
               {31, 30, mix(255), mix(255), mix(0), 3, "yellow texel under the fade"},
               {0, 0, mix(0), mix(0), mix(255), 3, "background corner"},
               {63, 63, mix(0), mix(0), mix(255), 3, "opposite corner"}});
}

const char* kTintEffect = R"(
float4 vTint = { 1, 0, 0, 1 };
pixelshader Tint
{
    void main() { gx_FragColor = vTint; }
}
technique Blend
{
    pass P0
    {
        PixelShader = Tint;
        AlphaBlendEnable = true;
        SrcBlend = SrcAlpha;
        DestBlend = InvSrcAlpha;
        ZEnable = false;
    }
}
technique Plain
{
    pass P0
    {
        Lighting = false;
        ZEnable = false;
        ColorOp[0] = SelectArg1;
        ColorArg1[0] = Diffuse;
        AlphaOp[0] = SelectArg1;
        AlphaArg1[0] = Diffuse;
    }
}
)";

TEST_F(D3dxGl_conformance, EffectPassDrawsWithItsStatesAndParameters) {
  LPD3DXEFFECT fx;
  LPD3DXBUFFER errors;
  ASSERT_EQ(S_OK, D3DXCreateEffect(device, kTintEffect, UINT(std::strlen(kTintEffect)), nullptr, nullptr, 0, nullptr,
                                   &fx, &errors));
  ASSERT_EQ(S_OK, fx->ValidateTechnique("Blend")) << "the GLSL of the pass compiles on this device";
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
  const D3DXVECTOR4 halfBlue(0, 0, 1, 0.5f);
  ASSERT_EQ(S_OK, fx->SetVector("vTint", &halfBlue));
  UINT passes = 0;
  ASSERT_EQ(S_OK, fx->Begin(&passes, 0));
  ASSERT_EQ(S_OK, fx->BeginPass(0));
  DrawQuad(device.get(), 0, 0, 8, 8, 0xFFFFFFFF);
  // Changed inside the pass: reaches the shader at CommitChanges.
  const D3DXVECTOR4 opaqueRed(1, 0, 0, 1);
  fx->SetVector("vTint", &opaqueRed);
  fx->CommitChanges();
  DrawQuad(device.get(), 8, 0, 16, 8, 0xFFFFFFFF);
  fx->EndPass();
  fx->End();
  // After End the blend is off again and no pixel shader is bound: the plain quad is opaque white.
  DrawQuad(device.get(), 16, 0, 24, 8, 0xFFFFFFFF);

  ASSERT_EQ(S_OK, fx->SetTechnique("Plain"));
  fx->Begin(&passes, 0);
  fx->BeginPass(0);
  DrawQuad(device.get(), 24, 0, 32, 8, 0xFF203040);
  fx->EndPass();
  fx->End();
  ExpectFrame({{3, 3, 0, 128, 128, 3, "half blue over green"},
               {12, 3, 255, 0, 0, 2, "red after CommitChanges"},
               {20, 3, 255, 255, 255, 2, "state restored after End"},
               {28, 3, 0x20, 0x30, 0x40, 2, "fixed-function pass"},
               {40, 3, 0, 255, 0, 0, "untouched"}});
}

std::string ReadAsset(const std::string& relative) {
  std::ifstream in(std::string(VK_SOURCE_DIR) + "/assets/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The show's own shader and effect sources, through the compiler and a real GLSL driver.
TEST_F(D3dxGl_conformance, TheShowsShadersAndEffectsCompile) {
  const std::pair<const char*, const char*> shaders[] = {
      {"shaders/pshBlur.psh", "BlurShader"},
      {"shaders/pshDream.psh", "DreamShader"},
      {"shaders/pshDream2.psh", "Dream2Shader"},
      {"shaders/pshGhostDream.psh", "GhostDreamShader"},
      {"shaders/pshContrastDream.psh", "ContrastDreamShader"},
  };
  for (auto [file, entry] : shaders) {
    const std::string src = ReadAsset(file);
    if (src.empty()) continue;  // not written yet
    LPD3DXBUFFER code, errors;
    LPD3DXCONSTANTTABLE table;
    ASSERT_EQ(S_OK, D3DXCompileShader(src.c_str(), UINT(src.size()), nullptr, nullptr, entry, "ps_2_0", 0, &code,
                                      &errors, &table))
        << file << ": " << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    LPDIRECT3DPIXELSHADER9 ps;
    EXPECT_EQ(S_OK, device->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), ps)) << file;
  }
  for (const char* file : {"shaders/fxRadialBlur.fx", "effects/WaterFX.fx"}) {
    const std::string text = ReadAsset(file);
    if (text.empty()) continue;
    LPD3DXEFFECT fx;
    LPD3DXBUFFER errors;
    ASSERT_EQ(S_OK, D3DXCreateEffect(device, text.data(), UINT(text.size()), nullptr, nullptr, 0, nullptr, &fx, &errors))
        << file << ": " << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
    // This device has cube maps and shader model 2.0: the first technique is meant to run.
    EXPECT_EQ(S_OK, fx->ValidateTechnique(fx->GetTechnique(0))) << file;
  }
}

TEST_F(D3dxGl_conformance, TechniqueWithGlslTheDriverRejectsIsInvalid) {
  const char* text = R"(
pixelshader Broken { void main() { gx_FragColor = vec3(1.0); } }
pixelshader Fine { void main() { gx_FragColor = vec4(1.0); } }
technique Bad { pass { PixelShader = Broken; } }
technique Good { pass { PixelShader = Fine; } }
)";
  LPD3DXEFFECT fx;
  ASSERT_EQ(S_OK, D3DXCreateEffect(device, text, UINT(std::strlen(text)), nullptr, nullptr, 0, nullptr, &fx, nullptr));
  EXPECT_FAILED(fx->ValidateTechnique("Bad"));
  EXPECT_EQ(S_OK, fx->ValidateTechnique("Good"));
  D3DXHANDLE next = nullptr;
  ASSERT_EQ(S_OK, fx->FindNextValidTechnique(nullptr, &next));
  EXPECT_STREQ(next, "Good");
}

TEST_F(D3dxGl_conformance, ConstantSetBeforeTheShaderIsSelectedReachesIt) {
  const char* src =
      "uniform float fBlurLevel;\n"
      "uniform int iDreamCount;\n"
      "vec4 BlurShader() { return vec4(fBlurLevel, float(iDreamCount) / 255.0, texture(gx_Sampler0, gx_Tex0.xy).b, 1.0); }\n";
  LPD3DXBUFFER code, errors;
  LPD3DXCONSTANTTABLE table;
  ASSERT_EQ(S_OK, D3DXCompileShader(src, UINT(std::strlen(src)), nullptr, nullptr, "BlurShader", "ps_2_0", 0, &code,
                                    &errors, &table));
  LPDIRECT3DPIXELSHADER9 ps;
  ASSERT_EQ(S_OK, device->CreatePixelShader(static_cast<const DWORD*>(code->GetBufferPointer()), ps));
  code.reset();
  LPDIRECT3DTEXTURE9 tex = MakeTexels(device);  // blue texel at (2, 0)
  device->SetTexture(0, tex);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);

  // As the post effects do every frame: constants first, then the shader, then the quad.
  table->SetFloat(device, "fBlurLevel", 0.5f);
  table->SetInt(device, "iDreamCount", 64);
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetFloat(device, "fMissing", 1.0f));
  device->SetPixelShader(ps);
  ScreenVertex v[4] = {{-0.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0.625f, 0.25f}, {15.5f, -0.5f, 0, 1, 0xFFFFFFFF, 0.625f, 0.25f},
                       {-0.5f, 15.5f, 0, 1, 0xFFFFFFFF, 0.625f, 0.25f}, {15.5f, 15.5f, 0, 1, 0xFFFFFFFF, 0.625f, 0.25f}};
  device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  ASSERT_EQ(S_OK, device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex)));
  device->SetPixelShader(nullptr);
  // The next frame changes the level while no shader is bound.
  table->SetFloat(device, "fBlurLevel", 1.0f);
  device->SetPixelShader(ps);
  for (ScreenVertex& q : v) q.x += 16;
  device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, v, sizeof(ScreenVertex));
  device->SetPixelShader(nullptr);
  ExpectFrame({{4, 4, 128, 64, 255, 2, "first frame's constants"},
               {20, 4, 255, 64, 255, 2, "level changed between frames"}});
}

TEST_F(D3dxGl_conformance, TextAppearsInsideItsRectangle) {
  D3DXFONT_DESCA desc{};
  desc.Height = 20;
  std::strncpy(desc.FaceName, "MS Sans Seriff", sizeof desc.FaceName);
  LPD3DXFONT font;
  ASSERT_EQ(S_OK, D3DXCreateFontIndirectA(device, &desc, font));
  RECT r{4, 4, 64, 64};
  EXPECT_EQ(font->DrawTextA(nullptr, "#", -1, &r, DT_LEFT | DT_TOP, 0xFFFFFF00), 20);
  device->EndScene();
  Pixels p(device.get());
  ASSERT_TRUE(p.ok());
  int lit = 0;
  for (UINT y = 0; y < 64; ++y)
    for (UINT x = 0; x < 64; ++x) {
      const Rgba c = p.At(x, y);
      if (c.r > 100) {
        ++lit;
        EXPECT_TRUE(x >= 4 && x < 24 && y >= 4 && y < 24) << "lit pixel at " << x << "," << y;
        EXPECT_EQ(c.b, 0) << "yellow text";
      }
    }
  EXPECT_GT(lit, 20) << "the glyph is drawn";
  device->BeginScene();
}

// Glyphs first needed in a later frame must show as well as the first frame's.
TEST_F(D3dxGl_conformance, GlyphsAddedInLaterFramesAreDrawn) {
  D3DXFONT_DESCA desc{};
  desc.Height = 20;
  LPD3DXFONT font;
  ASSERT_EQ(S_OK, D3DXCreateFontIndirectA(device, &desc, font));
  auto litIn = [&](int x0, int x1) {
    Pixels p(device.get());
    int lit = 0;
    for (UINT y = 0; y < 24; ++y)
      for (int x = x0; x < x1; ++x) lit += p.At(UINT(x), y).r > 100;
    return lit;
  };
  RECT r{0, 0, 64, 64};
  font->DrawTextA(nullptr, "FPS:", -1, &r, 0, 0xFFFFFFFF);
  RECT measure{0, 0, 64, 64};
  font->DrawTextA(nullptr, "FPS:", -1, &measure, DT_CALCRECT, 0);
  const int digitsAt = measure.right;
  device->EndScene();
  device->Present(nullptr, nullptr, nullptr, nullptr);
  // As the show's frames: a fade layer through a sprite, then the frame-rate line.
  LPD3DXSPRITE fade;
  ASSERT_EQ(S_OK, D3DXCreateSprite(device, fade));
  LPDIRECT3DTEXTURE9 layer;
  ASSERT_EQ(S_OK, D3DXCreateTexture(device, 64, 64, D3DX_DEFAULT, 0, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, layer));
  for (const char* text : {"FPS:0", "FPS:0", "FPS:75", "FPS:75", "FPS:60", "FPS:100"}) {
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    device->BeginScene();
    fade->Begin(D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT);
    fade->Draw(layer, nullptr, nullptr, nullptr, 0x00FFFFFF);
    fade->End();
    font->DrawTextA(nullptr, text, -1, &r, 0, 0xFFFFFFFF);
    device->EndScene();
    EXPECT_GT(litIn(0, digitsAt), 10) << text << ": the letters";
    EXPECT_GT(litIn(digitsAt, 64), 10) << text << ": the digits";
    device->Present(nullptr, nullptr, nullptr, nullptr);
  }
  device->BeginScene();
}

TEST_F(D3dxGl_conformance, RenderToSurfaceDrawsIntoItsTargetAndPutsTheScreenBack) {
  device->EndScene();  // the render-to-surface object begins its own scene
  d3dxtest::RenderToSurfaceTarget made;
  ASSERT_TRUE(d3dxtest::MakeRenderToSurface(device, made));
  auto& [tex, surface, rts] = made;
  ASSERT_EQ(S_OK, rts->BeginScene(surface, nullptr));
  device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 0.0f, 0);
  device->SetRenderState(D3DRS_ZENABLE, FALSE);
  device->SetRenderState(D3DRS_LIGHTING, FALSE);
  DrawQuad(device.get(), 0, 0, 4, 4, 0xFF00FF00);
  ASSERT_EQ(S_OK, rts->EndScene(0));
  Pixels target(surface.get());
  ASSERT_TRUE(target.ok());
  ExpectRgb(target.At(1, 1), 0, 255, 0, 0, "quad in the target's top-left corner");
  ExpectRgb(target.At(10, 10), 255, 0, 0, 0, "target cleared red");
  Pixels screen(device.get());
  ExpectRgb(screen.At(1, 1), 0, 0, 0, 0, "the back buffer is untouched");
  D3DVIEWPORT9 vp{};
  device->GetViewport(&vp);
  EXPECT_EQ(vp.Width, 64u);
  device->BeginScene();
}

}  // namespace
