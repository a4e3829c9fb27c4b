// The post-processing shaders on the recording backend: loading from the archive, what a
// missing entry leaves behind, the constants each apply routine sets (by name, in order),
// and the release.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/show_fixture.h"

using namespace vktest;

namespace {

// A constant table that only remembers what was set through it.
class FakeConstants : public ID3DXConstantTable {
 public:
  std::vector<std::string> Log;
  HRESULT SetFloat(const LPDIRECT3DDEVICE9&, D3DXHANDLE C, float V) override {
    Log.push_back(std::string(C) + "=" + std::to_string(V));
    return S_OK;
  }
  HRESULT SetInt(const LPDIRECT3DDEVICE9&, D3DXHANDLE C, INT V) override {
    Log.push_back(std::string(C) + "=int " + std::to_string(V));
    return S_OK;
  }
  HRESULT GetDesc(D3DXCONSTANTTABLE_DESC*) override { return E_FAIL; }
  D3DXHANDLE GetConstant(D3DXHANDLE, UINT) override { return nullptr; }
  D3DXHANDLE GetConstantByName(D3DXHANDLE, LPCSTR) override { return nullptr; }
  HRESULT GetConstantDesc(D3DXHANDLE, D3DXCONSTANT_DESC*, UINT*) override { return E_FAIL; }
  HRESULT SetDefaults(const LPDIRECT3DDEVICE9&) override { return E_FAIL; }
  HRESULT SetFloatArray(const LPDIRECT3DDEVICE9&, D3DXHANDLE, const float*, UINT) override { return E_FAIL; }
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

TEST_F(PostShaderTest, AllLoadEvenWithoutPixelShaderSupportAndAreFreed) {
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

  std::weak_ptr<IDirect3DPixelShader9> Weak = BlurPS;
  FreePostShaders();
  EXPECT_TRUE(Weak.expired());
  EXPECT_FALSE(ContrastDreamConstants);
  EXPECT_FALSE(RadialBlurEffect);
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
  OpenArchive(Entries);
  LoadPostShaders();
  EXPECT_FALSE(BlurPS);
  EXPECT_FALSE(DreamPS);
  EXPECT_FALSE(DreamConstants);
}

TEST_F(PostShaderTest, ApplyRoutinesSetTheirConstantsByNameThenSelectTheShader) {
  OpenShaderArchive();
  LoadPostShaders();
  using Log = std::vector<std::string>;
  auto Blur = std::make_shared<FakeConstants>(), Dream = std::make_shared<FakeConstants>(),
       Dream2 = std::make_shared<FakeConstants>(), Ghost = std::make_shared<FakeConstants>(),
       Contrast = std::make_shared<FakeConstants>();
  BlurConstants = Blur, DreamConstants = Dream, Dream2Constants = Dream2;
  GhostDreamConstants = Ghost, ContrastDreamConstants = Contrast;
  GhostLevel = 0.5f;
  ApplyBlurShader(4.0f);
  EXPECT_EQ(BoundShader(Device()), BlurPS);
  ApplyDreamShader();
  EXPECT_EQ(BoundShader(Device()), DreamPS);
  ApplyDream2Shader();
  EXPECT_EQ(BoundShader(Device()), Dream2PS);
  ApplyGhostDreamShader();
  EXPECT_EQ(BoundShader(Device()), GhostDreamPS);
  ApplyContrastDreamShader();
  EXPECT_EQ(BoundShader(Device()), ContrastDreamPS);
  EXPECT_EQ(Blur->Log, Log{"fBlurLevel=4.000000"});
  EXPECT_EQ(Dream->Log, Log{"fDreamLevel=3.000000"});
  EXPECT_EQ(Dream2->Log, (Log{"fDreamLevel=3.000000", "iDreamCount=int 12"}));
  EXPECT_EQ(Ghost->Log, (Log{"fDreamLevel=3.000000", "fGhostLevel=0.500000"}));
  EXPECT_EQ(Contrast->Log, Log{"fDreamLevel=3.000000"});
}
