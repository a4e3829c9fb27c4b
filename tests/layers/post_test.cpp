// The post-processing shaders on the recording backend: loading from the archive, what a
// missing entry leaves behind, the constants each apply routine sets (by name, in order),
// and the release.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/layers/show_fixture.h"

using namespace vktest;

namespace {

// A constant table that only remembers what was asked of it.
class FakeConstants : public ID3DXConstantTable {
 public:
  std::vector<std::string> Log;

  HRESULT GetDesc(D3DXCONSTANTTABLE_DESC*) override { return E_FAIL; }
  D3DXHANDLE GetConstant(D3DXHANDLE, UINT) override { return nullptr; }
  D3DXHANDLE GetConstantByName(D3DXHANDLE, LPCSTR) override {
    Log.push_back("lookup");
    return nullptr;
  }
  HRESULT GetConstantDesc(D3DXHANDLE, D3DXCONSTANT_DESC*, UINT*) override { return E_FAIL; }
  HRESULT SetDefaults(const LPDIRECT3DDEVICE9&) override { return S_OK; }
  HRESULT SetFloat(const LPDIRECT3DDEVICE9&, D3DXHANDLE C, float V) override {
    Log.push_back("float " + std::string(C) + " " + std::to_string(V));
    return S_OK;
  }
  HRESULT SetFloatArray(const LPDIRECT3DDEVICE9&, D3DXHANDLE, const float*, UINT) override { return E_FAIL; }
  HRESULT SetInt(const LPDIRECT3DDEVICE9&, D3DXHANDLE C, INT V) override {
    Log.push_back("int " + std::string(C) + " " + std::to_string(V));
    return S_OK;
  }
  HRESULT SetIntArray(const LPDIRECT3DDEVICE9&, D3DXHANDLE, const INT*, UINT) override { return E_FAIL; }
  HRESULT SetBool(const LPDIRECT3DDEVICE9&, D3DXHANDLE, BOOL) override { return E_FAIL; }
  HRESULT SetVector(const LPDIRECT3DDEVICE9&, D3DXHANDLE, const D3DXVECTOR4*) override { return E_FAIL; }
  HRESULT SetMatrix(const LPDIRECT3DDEVICE9&, D3DXHANDLE, const D3DMATRIX*) override { return E_FAIL; }
};

LPDIRECT3DPIXELSHADER9 BoundShader(IDirect3DDevice9* Device) {
  LPDIRECT3DPIXELSHADER9 S;
  Device->GetPixelShader(S);
  return S;
}

}  // namespace

using PostShaderTest = ShowTest;

TEST_F(PostShaderTest, AllFiveShadersAndTheRadialBlurLoadEvenWithoutPixelShaderSupport) {
  PostEffectsAvailable = false;
  OpenShaderArchive();
  LoadPostShaders();
  for (auto* PS : {&BlurPS, &DreamPS, &Dream2PS, &GhostDreamPS, &ContrastDreamPS}) EXPECT_TRUE(*PS);
  for (auto* T : {&BlurConstants, &DreamConstants, &Dream2Constants, &GhostDreamConstants, &ContrastDreamConstants})
    EXPECT_TRUE(*T);
  ASSERT_TRUE(RadialBlurEffect);
  EXPECT_NE(RadialBlurTechnique, nullptr);
  EXPECT_EQ(RadialBlurEffect->GetCurrentTechnique(), RadialBlurTechnique);
  D3DXMATRIX M;
  ASSERT_EQ(RadialBlurEffect->GetMatrix("tTex", &M), D3D_OK);
  D3DXMATRIX I;
  D3DXMatrixIdentity(&I);
  EXPECT_EQ(0, std::memcmp(&M, &I, sizeof M));
}

TEST_F(PostShaderTest, EachShaderDeclaresTheConstantsOfItsRow) {
  OpenShaderArchive();
  LoadPostShaders();
  auto Has = [](const LPD3DXCONSTANTTABLE& T, const char* Name) {
    return T && T->GetConstantByName(nullptr, Name) != nullptr;
  };
  EXPECT_TRUE(Has(BlurConstants, "fBlurLevel"));
  EXPECT_TRUE(Has(DreamConstants, "fDreamLevel"));
  EXPECT_TRUE(Has(Dream2Constants, "fDreamLevel"));
  EXPECT_TRUE(Has(Dream2Constants, "iDreamCount"));
  EXPECT_TRUE(Has(GhostDreamConstants, "fDreamLevel"));
  EXPECT_TRUE(Has(GhostDreamConstants, "fGhostLevel"));
  EXPECT_TRUE(Has(ContrastDreamConstants, "fDreamLevel"));
  // The real tables accept the show's values by name.
  EXPECT_EQ(Dream2Constants->SetInt(D3D()->Device, "iDreamCount", 12), D3D_OK);
  EXPECT_EQ(BlurConstants->SetFloat(D3D()->Device, "fBlurLevel", 4.0f), D3D_OK);
}

TEST_F(PostShaderTest, MissingEntriesLeaveOnlyTheirOwnObjectsNil) {
  OpenShaderArchive({"pshBlur", "fxRadialBlur"});
  LoadPostShaders();
  EXPECT_FALSE(BlurPS);
  EXPECT_FALSE(BlurConstants);
  EXPECT_FALSE(RadialBlurEffect);
  EXPECT_TRUE(DreamPS);
  EXPECT_TRUE(ContrastDreamPS);

  // Applying the missing blur sets no constant and selects no shader, even over one set before.
  Device()->SetPixelShader(DreamPS);
  ApplyBlurShader(4.0f);
  EXPECT_FALSE(BoundShader(Device()));
}

TEST_F(PostShaderTest, SourceThatDoesNotCompileLeavesTheShaderNil) {
  std::vector<RawEntry> Entries{Stored("pshBlur", ToBytes("vec4 NotTheEntryPoint() { return vec4(1.0); }")),
                                Stored("pshDream", ToBytes("this is not a shader"))};
  Resource = new TvokResource();
  ASSERT_TRUE(Resource->Open(Temp.Write("broken.vkr", Archive(Entries))));
  LoadPostShaders();
  EXPECT_FALSE(BlurPS);
  EXPECT_FALSE(DreamPS);
  EXPECT_FALSE(DreamConstants);
}

TEST_F(PostShaderTest, ApplyRoutinesSetTheirConstantsByNameThenSelectTheShader) {
  OpenShaderArchive();
  LoadPostShaders();
  auto Blur = std::make_shared<FakeConstants>(), Dream = std::make_shared<FakeConstants>(),
       Dream2 = std::make_shared<FakeConstants>(), Ghost = std::make_shared<FakeConstants>(),
       Contrast = std::make_shared<FakeConstants>();
  BlurConstants = Blur;
  DreamConstants = Dream;
  Dream2Constants = Dream2;
  GhostDreamConstants = Ghost;
  ContrastDreamConstants = Contrast;
  DreamLevel = 3.0f;
  DreamCount = 12;
  GhostLevel = 0.5f;

  ApplyBlurShader(4.0f);
  EXPECT_EQ(Blur->Log, (std::vector<std::string>{"float fBlurLevel 4.000000"}));
  EXPECT_EQ(BoundShader(Device()), BlurPS);
  ApplyDreamShader();
  EXPECT_EQ(Dream->Log, (std::vector<std::string>{"float fDreamLevel 3.000000"}));
  EXPECT_EQ(BoundShader(Device()), DreamPS);
  ApplyDream2Shader();
  EXPECT_EQ(Dream2->Log, (std::vector<std::string>{"float fDreamLevel 3.000000", "int iDreamCount 12"}));
  EXPECT_EQ(BoundShader(Device()), Dream2PS);
  ApplyGhostDreamShader();
  EXPECT_EQ(Ghost->Log, (std::vector<std::string>{"float fDreamLevel 3.000000", "float fGhostLevel 0.500000"}));
  EXPECT_EQ(BoundShader(Device()), GhostDreamPS);
  ApplyContrastDreamShader();
  EXPECT_EQ(Contrast->Log, (std::vector<std::string>{"float fDreamLevel 3.000000"}));
  EXPECT_EQ(BoundShader(Device()), ContrastDreamPS);
  // No routine touched another row's table.
  EXPECT_EQ(Blur->Log.size(), 1u);
  EXPECT_EQ(Dream->Log.size(), 1u);
}

TEST_F(PostShaderTest, FreeReleasesEverythingAndKeepsThePostTarget) {
  CreatePostTarget();
  OpenShaderArchive();
  LoadPostShaders();
  std::weak_ptr<IDirect3DPixelShader9> Weak = BlurPS;
  FreePostShaders();
  EXPECT_TRUE(Weak.expired());
  for (auto* PS : {&BlurPS, &DreamPS, &Dream2PS, &GhostDreamPS, &ContrastDreamPS}) EXPECT_FALSE(*PS);
  for (auto* T : {&BlurConstants, &DreamConstants, &Dream2Constants, &GhostDreamConstants, &ContrastDreamConstants})
    EXPECT_FALSE(*T);
  EXPECT_FALSE(RadialBlurEffect);
  ASSERT_NE(PostTarget, nullptr);
  EXPECT_TRUE(PostTarget->Texture);
}

TEST_F(PostShaderTest, PostTargetIsScreenSizedAndShowsTheLowerPartOfTheCapture) {
  CreatePostTarget();
  ASSERT_NE(PostTarget, nullptr);
  EXPECT_EQ(PostTarget->Width, 64);
  EXPECT_EQ(PostTarget->Height, 48);
  const float V[4] = {0.08f, 0.08f, 1.0f, 1.0f}, Y[4] = {0, 0, 47, 47};
  for (int i = 0; i < 4; ++i) {
    EXPECT_FLOAT_EQ(PostTarget->Vertices[i].v, V[i]);
    EXPECT_FLOAT_EQ(PostTarget->Vertices[i].y, Y[i]);
  }
}
