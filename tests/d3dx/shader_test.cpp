// The shader compiler and its constant table.

#include <map>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "platform/gfx/d3dx/shader_link.h"
#include "tests/d3dx/d3dx_test_util.h"

namespace {

const char* kBlur =
    "// the blur of the post effects\n"
    "uniform float fBlurLevel;\n"
    "uniform int iDreamCount = 12;\n"
    "/* uniform float fCommentedOut; */\n"
    "uniform mat4 mTex;\n"
    "vec4 BlurShader()\n"
    "{\n"
    "  return texture(vk_Sampler0, vk_Tex0.xy) * fBlurLevel * float(iDreamCount);\n"
    "}\n";

HRESULT Compile(const std::string& src, const char* entry, const char* profile, LPD3DXBUFFER& code,
                LPD3DXBUFFER* errors = nullptr, LPD3DXCONSTANTTABLE* table = nullptr) {
  return D3DXCompileShader(src.c_str(), UINT(src.size()), nullptr, nullptr, entry, profile, 0, &code, errors, table);
}

// Records what a constant table pushes into a shader object.
class FakeShader : public IDirect3DShader9Base {
 public:
  void VkSetFloats(const char* name, const float* v, UINT n) override { floats[name].assign(v, v + n); }
  void VkSetInts(const char* name, const int* v, UINT n) override { ints[name].assign(v, v + n); }
  void VkSetMatrix(const char* name, const D3DMATRIX& m) override { floats[name].assign(&m._11, &m._11 + 16); }
  const char* VkSource() override { return ""; }
  std::map<std::string, std::vector<float>> floats;
  std::map<std::string, std::vector<int>> ints;
};

TEST(D3dxCompileShader, ProducesACompleteProgramCallingTheEntryPoint) {
  LPD3DXBUFFER code;
  LPD3DXCONSTANTTABLE table;
  ASSERT_EQ(S_OK, Compile(kBlur, "BlurShader", "ps_2_0", code, nullptr, &table));
  ASSERT_TRUE(code);
  const std::string glsl(static_cast<const char*>(code->GetBufferPointer()));
  EXPECT_EQ(glsl.size(), code->GetBufferSize());
  EXPECT_EQ(glsl.rfind("#version 330 core\n", 0), 0u);
  EXPECT_NE(glsl.find("uniform sampler2D vk_Sampler0;"), std::string::npos);
  EXPECT_NE(glsl.find("out vec4 vk_FragColor;"), std::string::npos);
  EXPECT_NE(glsl.find("vk_FragColor = BlurShader();"), std::string::npos);
  EXPECT_EQ(glsl.find("in float vk_Fog"), std::string::npos) << "the device declares fog itself";

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
  const std::string vs = "void Move() { vk_ClipPos = vk_Projection * (vk_View * (vk_World * vk_Position)); }";
  EXPECT_EQ(S_OK, Compile(vs, "Move", "vs_2_0", code));
  EXPECT_NE(std::string(static_cast<const char*>(code->GetBufferPointer())).find("layout(location = 0) in vec4 vk_Position"),
            std::string::npos);
}

TEST(D3dxConstantTable, ValuesReachEveryShaderMadeFromTheCodeBeforeAndAfterCreation) {
  LPD3DXBUFFER code;
  LPD3DXCONSTANTTABLE table;
  ASSERT_EQ(S_OK, Compile(kBlur, "BlurShader", "ps_2_0", code, nullptr, &table));
  const LPDIRECT3DDEVICE9 noDevice;

  auto first = std::make_shared<FakeShader>();
  vkd3dx::LinkCreatedShader(static_cast<const DWORD*>(code->GetBufferPointer()), first);
  // Set while no shader is bound anywhere: the value still arrives.
  EXPECT_EQ(S_OK, table->SetFloat(noDevice, "fBlurLevel", 4.0f));
  EXPECT_EQ(first->floats["fBlurLevel"], std::vector<float>{4.0f});
  // Ints stay ints; floats given to an int constant are converted.
  EXPECT_EQ(S_OK, table->SetInt(noDevice, "iDreamCount", 7));
  EXPECT_EQ(first->ints["iDreamCount"], std::vector<int>{7});
  EXPECT_EQ(S_OK, table->SetFloat(noDevice, "iDreamCount", 9.0f));
  EXPECT_EQ(first->ints["iDreamCount"], std::vector<int>{9});
  D3DXMATRIX m;
  D3DXMatrixTranslation(&m, 1, 2, 3);
  EXPECT_EQ(S_OK, table->SetMatrix(noDevice, "mTex", &m));
  EXPECT_EQ(first->floats["mTex"][12], 1.0f);

  // A shader created later from a copy of the code gets the values set so far.
  const std::string copy(static_cast<const char*>(code->GetBufferPointer()));
  auto second = std::make_shared<FakeShader>();
  vkd3dx::LinkCreatedShader(reinterpret_cast<const DWORD*>(copy.c_str()), second);
  EXPECT_EQ(second->floats["fBlurLevel"], std::vector<float>{4.0f});
  EXPECT_EQ(second->ints["iDreamCount"], std::vector<int>{9});

  // Unknown names fail and touch nothing; a shader from other code is not linked.
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetFloat(noDevice, "fNoSuchThing", 1.0f));
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetFloat(noDevice, nullptr, 1.0f));
  EXPECT_EQ(D3DERR_INVALIDCALL, table->SetMatrix(noDevice, "fBlurLevel", &m));
  EXPECT_EQ(first->floats.count("fNoSuchThing"), 0u);
  auto stranger = std::make_shared<FakeShader>();
  const std::string otherCode = "#version 330 core\nvoid main() {}\n";
  vkd3dx::LinkCreatedShader(reinterpret_cast<const DWORD*>(otherCode.c_str()), stranger);
  table->SetFloat(noDevice, "fBlurLevel", 5.0f);
  EXPECT_TRUE(stranger->floats.empty());
  EXPECT_EQ(second->floats["fBlurLevel"], std::vector<float>{5.0f});

  // Two compiles of the same text stay apart.
  LPD3DXBUFFER code2;
  LPD3DXCONSTANTTABLE table2;
  ASSERT_EQ(S_OK, Compile(kBlur, "BlurShader", "ps_2_0", code2, nullptr, &table2));
  table2->SetFloat(noDevice, "fBlurLevel", 99.0f);
  EXPECT_EQ(first->floats["fBlurLevel"], std::vector<float>{5.0f});
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
