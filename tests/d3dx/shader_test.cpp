// The shader compiler and its constant table.

#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/d3dx_device.h"

namespace {

const char* kBlur =
    "// the blur of the post effects\n"
    "uniform float fBlurLevel;\n"
    "uniform int iDreamCount = 12;\n"
    "/* uniform float fCommentedOut; */\n"
    "uniform mat4 mTex;\n"
    "vec4 BlurShader()\n"
    "{\n"
    "  return texture(gx_Sampler0, gx_Tex0.xy) * fBlurLevel * float(iDreamCount);\n"
    "}\n";

HRESULT Compile(const std::string& src, const char* entry, const char* profile, LPD3DXBUFFER& code,
                LPD3DXBUFFER* errors = nullptr, LPD3DXCONSTANTTABLE* table = nullptr) {
  return D3DXCompileShader(src.c_str(), UINT(src.size()), nullptr, nullptr, entry, profile, 0, &code, errors, table);
}

// The pixel-stage constants the device held at its last draw.
const gx::ShaderConstants& PixelConstantsAtDraw(const LPDIRECT3DDEVICE9& device) {
  struct V {
    float x, y, z, rhw;
  } v[3] = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}};
  device->SetFVF(D3DFVF_XYZRHW);
  device->BeginScene();
  device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
  device->EndScene();
  return gx::GxRecordedDraws(device.get()).back().state.constants[gx::kPixelStage];
}

const gx::ShaderConstant* Named(const gx::ShaderConstants& constants, const char* name) {
  for (const auto& c : constants.values)
    if (c.name == name) return &c;
  return nullptr;
}

TEST(D3dxCompileShader, ProducesACompleteProgramCallingTheEntryPoint) {
  LPD3DXBUFFER code;
  LPD3DXCONSTANTTABLE table;
  ASSERT_EQ(S_OK, Compile(kBlur, "BlurShader", "ps_2_0", code, nullptr, &table));
  ASSERT_TRUE(code);
  const std::string glsl(static_cast<const char*>(code->GetBufferPointer()));
  EXPECT_EQ(glsl.size(), code->GetBufferSize());
  EXPECT_EQ(glsl.rfind("#version 330 core\n", 0), 0u);
  EXPECT_NE(glsl.find("uniform sampler2D gx_Sampler0;"), std::string::npos);
  EXPECT_NE(glsl.find("out vec4 gx_FragColor;"), std::string::npos);
  EXPECT_NE(glsl.find("gx_FragColor = BlurShader();"), std::string::npos);
  EXPECT_EQ(glsl.find("in float gx_Fog"), std::string::npos) << "the device declares fog itself";

  D3DXCONSTANTTABLE_DESC desc{};
  table->GetDesc(&desc);
  EXPECT_EQ(desc.Constants, 3u);
  EXPECT_TRUE(table->GetConstantByName(nullptr, "fBlurLevel"));
  EXPECT_FALSE(table->GetConstantByName(nullptr, "fCommentedOut"));
  D3DXCONSTANT_DESC c{};
  UINT count = 0;
  ASSERT_EQ(S_OK, table->GetConstantDesc("iDreamCount", &c, &count));
  EXPECT_EQ(c.Type, D3DXPT_INT);
  ASSERT_EQ(S_OK, table->GetConstantDesc("mTex", &c, &count));
  EXPECT_EQ(c.Class, D3DXPC_MATRIX_COLUMNS);
}

// Saved by an editor that marks UTF-8, a shader or an effect still builds.
TEST(D3dxCompileShader, TextsWithAByteOrderMarkBuildAsWithout) {
  LPD3DXBUFFER plain, marked;
  ASSERT_EQ(S_OK, Compile(kBlur, "BlurShader", "ps_2_0", plain));
  ASSERT_EQ(S_OK, Compile("\xEF\xBB\xBF" + std::string(kBlur), "BlurShader", "ps_2_0", marked));
  EXPECT_STREQ(static_cast<const char*>(marked->GetBufferPointer()), static_cast<const char*>(plain->GetBufferPointer()));
}

TEST(D3dxCompileShader, RejectsMissingEntriesBadProfilesAndBrokenSources) {
  LPD3DXBUFFER code, errors;
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile(kBlur, "DreamShader", "ps_2_0", code, &errors));
  EXPECT_FALSE(code);
  ASSERT_TRUE(errors);
  EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("DreamShader"), std::string::npos);
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile(kBlur, "BlurShader", "tx_1_0", code));
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile("vec4 BlurShader( { return vec4(1); }", "BlurShader", "ps_2_0", code));
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile("vec4 BlurShader() { return vec4(1); ", "BlurShader", "ps_2_0", code));
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile("float BlurShader() { return 1.0; }", "BlurShader", "ps_2_0", code));
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile("#version 330\nvec4 E() { return vec4(1); }", "E", "ps_2_0", code));
  // The entry only in a comment does not count.
  EXPECT_EQ(D3DXERR_INVALIDDATA, Compile("// vec4 E() {}\nvec4 F() { return vec4(1); }", "E", "ps_2_0", code));
  EXPECT_EQ(D3DERR_INVALIDCALL,
            D3DXCompileShader(nullptr, 0, nullptr, nullptr, "E", "ps_2_0", 0, &code, nullptr, nullptr));
  // Length without the terminating NUL, and a vertex profile with a void entry.
  const std::string vs = "void Move() { gx_ClipPos = gx_Projection * (gx_View * (gx_World * gx_Position)); }";
  EXPECT_EQ(S_OK, Compile(vs, "Move", "vs_2_0", code));
  EXPECT_NE(std::string(static_cast<const char*>(code->GetBufferPointer())).find("layout(location = 0) in vec4 gx_Position"),
            std::string::npos);
}

TEST(D3dxConstantTable, ValuesBecomeTheDevicesConstantsOfTheTablesStage) {
  LPD3DXBUFFER code;
  LPD3DXCONSTANTTABLE table;
  ASSERT_EQ(S_OK, Compile(kBlur, "BlurShader", "ps_2_0", code, nullptr, &table));
  LPDIRECT3DDEVICE9 device = d3dxtest::MakeDevice(gx::BackendKind::Recording);
  ASSERT_TRUE(device);

  // Set while no shader exists at all: the value is the device's.
  EXPECT_EQ(S_OK, table->SetFloat(device, "fBlurLevel", 4.0f));
  // Ints stay ints; floats given to an int constant are converted.
  EXPECT_EQ(S_OK, table->SetInt(device, "iDreamCount", 7));
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, 1, 2, 3);
  EXPECT_EQ(S_OK, table->SetMatrix(device, "mTex", &m));
  {
    const auto& constants = PixelConstantsAtDraw(device);
    ASSERT_TRUE(Named(constants, "fBlurLevel"));
    EXPECT_EQ(Named(constants, "fBlurLevel")->floats, std::vector<float>{4.0f});
    EXPECT_EQ(Named(constants, "iDreamCount")->ints, std::vector<int>{7});
    ASSERT_EQ(Named(constants, "mTex")->floats.size(), 16u);
    EXPECT_EQ(Named(constants, "mTex")->floats[12], 1.0f);
  }
  EXPECT_EQ(S_OK, table->SetFloat(device, "iDreamCount", 9.0f));
  EXPECT_EQ(Named(PixelConstantsAtDraw(device), "iDreamCount")->ints, std::vector<int>{9});

  // Unknown names and a missing device fail and touch nothing.
  const LPDIRECT3DDEVICE9 noDevice;
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetFloat(device, "fNoSuchThing", 1.0f));
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetFloat(device, nullptr, 1.0f));
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetMatrix(device, "fBlurLevel", &m));
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetFloat(noDevice, "fBlurLevel", 1.0f));
  EXPECT_FALSE(Named(PixelConstantsAtDraw(device), "fNoSuchThing"));

  // A vertex table sets the vertex stage's constants.
  LPD3DXBUFFER vsCode;
  LPD3DXCONSTANTTABLE vsTable;
  const std::string vs = "uniform float fWave;\nvoid Move() { gx_ClipPos = gx_Position * fWave; }";
  ASSERT_EQ(S_OK, Compile(vs, "Move", "vs_2_0", vsCode, nullptr, &vsTable));
  EXPECT_EQ(S_OK, vsTable->SetFloat(device, "fWave", 2.0f));
  PixelConstantsAtDraw(device);
  const auto& vertex = gx::GxRecordedDraws(device.get()).back().state.constants[gx::kVertexStage];
  ASSERT_TRUE(Named(vertex, "fWave"));
  EXPECT_EQ(Named(vertex, "fWave")->floats, std::vector<float>{2.0f});
  EXPECT_FALSE(Named(PixelConstantsAtDraw(device), "fWave"));
}

}  // namespace

namespace {

// Damaged sources fail or compile, never crash or hang; long runs of one
// character must not exhaust the stack of any scanner.
TEST(D3dxCompileShader, FuzzedSourcesFailCleanly) {
  const std::string good = kBlur;
  std::mt19937 rng(77);
  for (int round = 0; round < 300; ++round) {
    std::string bad = good.substr(0, rng() % (good.size() + 1));
    for (int i = 0, n = int(rng() % 4); i < n && !bad.empty(); ++i) bad[rng() % bad.size()] = char(rng() % 128);
    LPD3DXBUFFER code;
    const HRESULT hr = Compile(bad, "BlurShader", "ps_2_0", code);
    EXPECT_TRUE(hr == S_OK || hr == D3DXERR_INVALIDDATA);
    EXPECT_EQ(SUCCEEDED(hr), bool(code));
  }
  LPD3DXBUFFER code;
  const std::string longParams = "vec4 E(" + std::string(200000, ' ') + ") { return vec4(1); }\n" +
                                 "varying" + std::string(200000, ' ') + "vec2 v;\n" + "uniform" +
                                 std::string(200000, ' ') + "float f;\n";
  EXPECT_EQ(S_OK, Compile(longParams, "E", "ps_2_0", code));
}

}  // namespace
