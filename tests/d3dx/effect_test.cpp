// Effects on the recording backend: parsing, technique validation and
// selection, parameter use, what a pass sets and what End restores, and
// fuzzing of the effect reader.

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/gfx/d3dx/effect_parser.h"
#include "tests/support/d3dx_device.h"

namespace {

const char* kWaterLike = R"(
// parameters
matrix mID;
matrix mENV;
texture tFLR;
texture2D tCAU;
textureCube tENV;
int iRef = 16;
float fFogStart = 2.5;
float4 vTint = { 1, 0.5, 0.25, 1 };
float fUnused = 1;

common
{
    varying vec3 vReflect;
}

vertexshader WaterVS
{
    void main()
    {
        gx_ClipPos = gx_Projection * (gx_View * (gx_World * gx_Position));
        vReflect = (mENV * vec4(gx_Normal, 0.0)).xyz;
        gx_Color0 = gx_Diffuse;
        gx_Tex0 = gx_TexCoord0;
    }
}

pixelshader WaterPS   /* reads three textures */
{
    void main()
    {
        gx_FragColor = (texture(tFLR, gx_Tex0.xy) + texture(tCAU, gx_Tex0.xy)) * texture(tENV, vReflect) * vTint;
    }
}

pixelshader FloorPS
{
    void main() { gx_FragColor = texture(tFLR, gx_Tex0.xy) * gx_Color0; }
}

technique Full
{
    requires cubemap;
    pass P0
    {
        VertexShader = WaterVS;
        PixelShader = WaterPS;
        Texture[2] = tFLR;
        CullMode = None;
        ZWriteEnable = false;
        AlphaRef = iRef;
        AlphaFunc = GreaterEqual;
    }
}

technique NoCaustics
{
    pass { PixelShader = FloorPS; SrcBlend = SrcAlpha; DestBlend = InvSrcAlpha; }
    pass Second { PixelShader = FloorPS; AlphaBlendEnable = true; FogStart = fFogStart; }
}

technique Modern
{
    requires ps_3_0, vs_3_0;
    pass { PixelShader = FloorPS; }
}

technique Fallback
{
    pass P0
    {
        Lighting = false;
        Texture[0] = tFLR;
        ColorOp[0] = SelectArg1;
        ColorArg1[0] = Texture;
        ColorOp[1] = Disable;
        TexCoordIndex[1] = CameraSpaceReflectionVector | 1;
        TextureTransformFlags[1] = Count3;
        TextureTransform[1] = mENV;
        MinFilter[0] = Linear;
        AddressU[0] = Clamp;
        TextureFactor = 0x80FF0000;
    }
}
)";

class D3dxEffect : public testing::Test {
 protected:
  void SetUp() override {
    device = d3dxtest::MakeDevice(gx::BackendKind::Recording);
    ASSERT_TRUE(device);
    ASSERT_EQ(S_OK, Create(kWaterLike, effect));
  }
  HRESULT Create(const std::string& text, LPD3DXEFFECT& out, LPD3DXBUFFER* errors = nullptr) {
    return D3DXCreateEffect(device, text.data(), UINT(text.size()), nullptr, nullptr, 0, nullptr, &out, errors);
  }
  DWORD Render(D3DRENDERSTATETYPE s) {
    DWORD v = 0;
    device->GetRenderState(s, &v);
    return v;
  }
  LPDIRECT3DBASETEXTURE9 TextureAt(DWORD stage) {
    LPDIRECT3DBASETEXTURE9 t;
    device->GetTexture(stage, t);
    return t;
  }

  LPDIRECT3DDEVICE9 device;
  LPD3DXEFFECT effect;
};

TEST_F(D3dxEffect, ATextWithAByteOrderMarkBuildsAsWithout) {
  LPD3DXEFFECT marked;
  ASSERT_EQ(S_OK, Create("\xEF\xBB\xBF" + std::string(kWaterLike), marked));
  D3DXEFFECT_DESC desc{};
  ASSERT_EQ(S_OK, marked->GetDesc(&desc));
  EXPECT_EQ(desc.Techniques, 4u);
}

TEST_F(D3dxEffect, TechniquesByIndexAndName) {
  D3DXEFFECT_DESC desc{};
  ASSERT_EQ(S_OK, effect->GetDesc(&desc));
  EXPECT_EQ(desc.Techniques, 4u);
  EXPECT_EQ(desc.Parameters, 9u);
  D3DXHANDLE full = effect->GetTechnique(0);
  ASSERT_TRUE(full);
  EXPECT_STREQ(full, "Full");
  EXPECT_EQ(effect->GetTechniqueByName("Fallback"), effect->GetTechnique(3));
  EXPECT_EQ(effect->GetTechnique(4), nullptr);
  EXPECT_EQ(effect->GetTechniqueByName("Nope"), nullptr);
  EXPECT_EQ(effect->GetCurrentTechnique(), full);
  // A name works as a handle as well as the handle itself.
  EXPECT_EQ(S_OK, effect->SetTechnique("NoCaustics"));
  EXPECT_EQ(effect->GetCurrentTechnique(), effect->GetTechnique(1));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetTechnique("Nope"));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetTechnique(nullptr));
  D3DXTECHNIQUE_DESC t{};
  ASSERT_EQ(S_OK, effect->GetTechniqueDesc(effect->GetTechnique(1), &t));
  EXPECT_EQ(t.Passes, 2u);
}

TEST_F(D3dxEffect, ValidationFollowsTheDeviceCapabilities) {
  // The recording device has cube maps and shader model 2.0 only.
  EXPECT_EQ(S_OK, effect->ValidateTechnique(nullptr));
  EXPECT_EQ(S_OK, effect->ValidateTechnique("Full"));
  EXPECT_FAILED(effect->ValidateTechnique("Modern"));
  EXPECT_EQ(S_OK, effect->ValidateTechnique("Fallback"));
  effect->SetTechnique("Modern");
  EXPECT_FAILED(effect->ValidateTechnique(nullptr));

  D3DXHANDLE next = nullptr;
  EXPECT_EQ(S_OK, effect->FindNextValidTechnique(nullptr, &next));
  EXPECT_EQ(next, effect->GetTechnique(0));
  EXPECT_EQ(S_OK, effect->FindNextValidTechnique(effect->GetTechnique(1), &next));
  EXPECT_EQ(next, effect->GetTechnique(3)) << "Modern is skipped";
  EXPECT_EQ(S_FALSE, effect->FindNextValidTechnique(effect->GetTechnique(3), &next));
  EXPECT_EQ(next, nullptr);
}

TEST_F(D3dxEffect, ShadersTheDeviceRefusesInvalidateOnlyTheirTechnique) {
  // The first shader the device is asked for (Full's vertex shader) fails.
  gx::InjectedFaults().failCreateResource = 1;
  LPD3DXEFFECT fx;
  ASSERT_EQ(S_OK, Create(kWaterLike, fx));
  gx::ClearFaults();
  EXPECT_FAILED(fx->ValidateTechnique("Full"));
  EXPECT_EQ(S_OK, fx->ValidateTechnique("NoCaustics"));
  D3DXHANDLE next = nullptr;
  fx->FindNextValidTechnique(nullptr, &next);
  EXPECT_STREQ(next, "NoCaustics");
}

TEST_F(D3dxEffect, ParameterUseByShadersAndStates) {
  // Null technique: the current one.
  EXPECT_TRUE(effect->IsParameterUsed("tCAU", nullptr));
  EXPECT_TRUE(effect->IsParameterUsed("mENV", nullptr));   // in the vertex shader
  EXPECT_TRUE(effect->IsParameterUsed("iRef", nullptr));   // as a state value
  EXPECT_TRUE(effect->IsParameterUsed("vTint", nullptr));
  EXPECT_FALSE(effect->IsParameterUsed("mID", nullptr));
  EXPECT_FALSE(effect->IsParameterUsed("fUnused", nullptr));
  EXPECT_FALSE(effect->IsParameterUsed("tCAU", "NoCaustics"));
  EXPECT_TRUE(effect->IsParameterUsed("fFogStart", "NoCaustics"));
  EXPECT_TRUE(effect->IsParameterUsed("mENV", "Fallback"));  // texture transform
  EXPECT_TRUE(effect->IsParameterUsed("tFLR", "Fallback"));
  effect->SetTechnique("NoCaustics");
  EXPECT_FALSE(effect->IsParameterUsed("tCAU", nullptr));
  EXPECT_FALSE(effect->IsParameterUsed("noSuchParameter", nullptr));
}

TEST_F(D3dxEffect, ParameterValuesAndTextureKinds) {
  LPDIRECT3DTEXTURE9 flat;
  LPDIRECT3DCUBETEXTURE9 cube;
  ASSERT_EQ(S_OK, device->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, flat, nullptr));
  ASSERT_EQ(S_OK, device->CreateCubeTexture(4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, cube, nullptr));
  EXPECT_EQ(S_OK, effect->SetTexture("tFLR", flat));
  EXPECT_EQ(S_OK, effect->SetTexture("tENV", cube));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetTexture("tFLR", cube));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetTexture("tENV", flat));
  EXPECT_EQ(S_OK, effect->SetTexture("tCAU", nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetTexture("iRef", flat));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetMatrix("tFLR", nullptr));

  D3DXMATRIX m, got;
  D3DXMatrixScaling(&m, 1, 1, -1);
  EXPECT_EQ(S_OK, effect->SetMatrix("mENV", &m));
  EXPECT_EQ(S_OK, effect->GetMatrix("mENV", &got));
  EXPECT_EQ(got, m);
  EXPECT_EQ(S_OK, effect->GetMatrix("mID", &got));
  EXPECT_TRUE(D3DXMatrixIsIdentity(&got));
  INT i = 0;
  EXPECT_EQ(S_OK, effect->GetInt("iRef", &i));
  EXPECT_EQ(i, 16);
  EXPECT_EQ(S_OK, effect->SetFloat("iRef", 7.9f));
  EXPECT_EQ(S_OK, effect->GetInt("iRef", &i));
  EXPECT_EQ(i, 7);
  D3DXVECTOR4 v;
  EXPECT_EQ(S_OK, effect->GetVector("vTint", &v));
  EXPECT_EQ(v, D3DXVECTOR4(1, 0.5f, 0.25f, 1));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->SetFloat("nothing", 1));
}

TEST_F(D3dxEffect, PassesSetTheirStatesAndEndPutsEverythingBack) {
  LPDIRECT3DTEXTURE9 flat, caustics;
  LPDIRECT3DCUBETEXTURE9 cube;
  device->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, flat, nullptr);
  device->CreateTexture(4, 4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, caustics, nullptr);
  device->CreateCubeTexture(4, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, cube, nullptr);
  effect->SetTexture("tFLR", flat);
  effect->SetTexture("tCAU", caustics);
  effect->SetTexture("tENV", cube);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  device->SetRenderState(D3DRS_ALPHAREF, 1);
  const auto before = d3dxtest::DeviceSnapshot::Take(device.get());

  UINT passes = 0;
  ASSERT_EQ(S_OK, effect->Begin(&passes, 0));
  EXPECT_EQ(passes, 1u);
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->Begin(&passes, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->BeginPass(1));
  ASSERT_EQ(S_OK, effect->BeginPass(0));
  EXPECT_EQ(Render(D3DRS_CULLMODE), DWORD(D3DCULL_NONE));
  EXPECT_EQ(Render(D3DRS_ZWRITEENABLE), DWORD(FALSE));
  EXPECT_EQ(Render(D3DRS_ALPHAREF), 16u);
  EXPECT_EQ(Render(D3DRS_ALPHAFUNC), DWORD(D3DCMP_GREATEREQUAL));
  // tFLR where the pass put it; the other textures the pixel shader reads on the free stages.
  EXPECT_EQ(TextureAt(2), flat);
  EXPECT_EQ(TextureAt(0), caustics);
  EXPECT_EQ(TextureAt(1), cube);
  LPDIRECT3DVERTEXSHADER9 vs;
  LPDIRECT3DPIXELSHADER9 ps;
  device->GetVertexShader(vs);
  device->GetPixelShader(ps);
  ASSERT_TRUE(vs && ps);
  const std::string psSource = ps->GxSource();
  EXPECT_NE(psSource.find("#define tFLR gx_Sampler2"), std::string::npos);
  EXPECT_NE(psSource.find("uniform samplerCube gx_Sampler1"), std::string::npos);
  EXPECT_NE(psSource.find("uniform vec4 vTint"), std::string::npos);
  EXPECT_NE(psSource.find("in vec3 vReflect"), std::string::npos);
  EXPECT_NE(std::string(vs->GxSource()).find("out vec3 vReflect"), std::string::npos);
  EXPECT_NE(std::string(vs->GxSource()).find("uniform mat4 mENV"), std::string::npos);

  // Changes inside a pass wait for CommitChanges.
  effect->SetInt("iRef", 99);
  EXPECT_EQ(Render(D3DRS_ALPHAREF), 16u);
  EXPECT_EQ(S_OK, effect->CommitChanges());
  EXPECT_EQ(Render(D3DRS_ALPHAREF), 99u);
  EXPECT_EQ(S_OK, effect->EndPass());
  EXPECT_EQ(S_OK, effect->End());
  d3dxtest::DeviceSnapshot::Take(device.get()).ExpectSame(before);
  EXPECT_EQ(D3DERR_INVALIDCALL, effect->End());
}

TEST_F(D3dxEffect, FixedFunctionPassAndDoNotSaveState) {
  effect->SetTechnique("Fallback");
  D3DXMATRIX env;
  D3DXMatrixRotationY(&env, 0.5f);
  effect->SetMatrix("mENV", &env);
  const auto before = d3dxtest::DeviceSnapshot::Take(device.get());
  UINT passes = 0;
  ASSERT_EQ(S_OK, effect->Begin(&passes, D3DXFX_DONOTSAVESTATE));
  ASSERT_EQ(S_OK, effect->BeginPass(0));
  LPDIRECT3DPIXELSHADER9 ps;
  device->GetPixelShader(ps);
  EXPECT_FALSE(ps);
  EXPECT_EQ(Render(D3DRS_LIGHTING), DWORD(FALSE));
  EXPECT_EQ(Render(D3DRS_TEXTUREFACTOR), 0x80FF0000u);
  DWORD v = 0;
  device->GetTextureStageState(1, D3DTSS_TEXCOORDINDEX, &v);
  EXPECT_EQ(v, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR | 1);
  device->GetTextureStageState(0, D3DTSS_COLOROP, &v);
  EXPECT_EQ(v, DWORD(D3DTOP_SELECTARG1));
  D3DMATRIX m;
  device->GetTransform(D3DTS_TEXTURE1, &m);
  EXPECT_EQ(D3DXMATRIX(m), D3DXMATRIX(env));
  effect->EndPass();
  effect->End();
  EXPECT_EQ(Render(D3DRS_LIGHTING), DWORD(FALSE)) << "nothing restored with DONOTSAVESTATE";
  EXPECT_NE(before.render[D3DRS_LIGHTING - 1], DWORD(FALSE));
}

TEST_F(D3dxEffect, MalformedEffectsFailWithALineNumber) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "no technique"},
      {"float f = 1;", "no technique"},
      {"technique T { }", "no pass"},
      {"technique T { pass P { Bogus = 1; } }", "unknown state"},
      {"technique T { pass P { CullMode = Sideways; } }", "not a value"},
      {"technique T { pass P { CullMode = 1 }", "expected ';'"},
      {"technique T { pass P { Texture[0] = tNone; } }", "unknown parameter"},
      {"float f;\ntechnique T { pass P { Texture[0] = f; } }", "not a texture"},
      {"texture t;\ntechnique T { pass P { TextureTransform[0] = t; } }", "not a matrix"},
      {"technique T { pass P { ColorOp[9] = Disable; } }", "0 to 7"},
      {"technique T { pass P { CullMode[1] = None; } }", "takes no index"},
      {"technique T { pass P { PixelShader = Missing; } }", "unknown shader"},
      {"vertexshader V { void main() {} }\ntechnique T { pass P { PixelShader = V; } }", "not a pixelshader"},
      {"pixelshader S { void main() { \ntechnique T { pass P { } }", "unclosed"},
      {"float2 v = { 1 };\ntechnique T { pass P { } }", "needs 2"},
      {"float f; float f;\ntechnique T { pass P { } }", "used twice"},
      {"technique T { pass P { } }\ntechnique T { pass P { } }", "defined twice"},
      {"technique T { requires warp_drive; pass P { } }", "unknown requirement"},
      {"texture t = 1;\ntechnique T { pass P { } }", "no default"},
      {"/* open comment\ntechnique T { pass P { } }", "unterminated comment"},
      {"technique T { pass P { AlphaRef = 1.5; } }", "whole number"},
      {"float4 v;\ntechnique T { pass P { AlphaRef = v; } }", "not a scalar"},
      {"strange thing;", "unknown parameter type"},
  };
  for (const Case& c : cases) {
    LPD3DXEFFECT fx;
    LPD3DXBUFFER errors;
    EXPECT_EQ(D3DXERR_INVALIDDATA, Create(c.text, fx, &errors)) << c.text;
    EXPECT_FALSE(fx);
    ASSERT_TRUE(errors) << c.text;
    const std::string message(static_cast<const char*>(errors->GetBufferPointer()));
    EXPECT_NE(message.find(c.message), std::string::npos) << c.text << " -> " << message;
    EXPECT_NE(message.find("line "), std::string::npos) << message;
  }
  // The line of the error is the line where it is.
  LPD3DXEFFECT fx;
  LPD3DXBUFFER errors;
  Create("float a;\n\n\ntechnique T {\n pass P {\n  Lightning = true;\n }\n}\n", fx, &errors);
  ASSERT_TRUE(errors);
  EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("line 6:"), std::string::npos);
}

TEST_F(D3dxEffect, ParserFuzzingNeverCrashes) {
  const std::string text = kWaterLike;
  for (std::size_t len = 0; len < text.size(); len += 3) {
    LPD3DXEFFECT fx;
    const HRESULT hr = Create(text.substr(0, len), fx);
    EXPECT_TRUE(hr == S_OK || hr == D3DXERR_INVALIDDATA) << len;
    EXPECT_EQ(SUCCEEDED(hr), bool(fx));
  }
  std::mt19937 rng(1207);
  for (int round = 0; round < 300; ++round) {
    std::string bad = text;
    for (int i = 0, n = 1 + int(rng() % 3); i < n; ++i) bad[rng() % bad.size()] = char(rng() % 256);
    LPD3DXEFFECT fx;
    const HRESULT hr = Create(bad, fx);
    EXPECT_TRUE(hr == S_OK || hr == D3DXERR_INVALIDDATA);
    if (fx) {
      // Whatever got through still runs.
      UINT passes = 0;
      if (SUCCEEDED(fx->Begin(&passes, 0))) {
        for (UINT p = 0; p < passes; ++p) {
          fx->BeginPass(p);
          fx->EndPass();
        }
        fx->End();
      }
    }
  }
}

}  // namespace
