#pragma once
// An effect whose techniques' validity and parameter use a test decides, and which
// remembers what the water effect asked of it.

#include <map>
#include <string>
#include <vector>

#include "platform/gfx/d3dx/d3dx9.h"

class FakeEffect : public ID3DXEffect {
 public:
  struct Technique {
    bool valid = true;
    bool usesCaustics = false;
    bool usesEnv = false;
    UINT passes = 1;
  };
  std::vector<Technique> techniques;
  int current = 0;
  std::vector<int> techniquesSet;  // every SetTechnique, in order
  std::map<std::string, D3DMATRIX> matrices;
  std::map<std::string, LPDIRECT3DBASETEXTURE9> textures;
  int begins = 0, passesBegun = 0, commits = 0, ends = 0;

  explicit FakeEffect(std::vector<Technique> t) : techniques(std::move(t)) {}

  HRESULT GetDesc(D3DXEFFECT_DESC* d) override {
    *d = {};
    d->Techniques = UINT(techniques.size());
    return S_OK;
  }
  D3DXHANDLE GetTechnique(UINT i) override { return i < techniques.size() ? kNames[i] : nullptr; }
  HRESULT SetTechnique(D3DXHANDLE h) override {
    for (size_t i = 0; i < techniques.size(); ++i)
      if (h == kNames[i]) return techniquesSet.push_back(current = int(i)), S_OK;
    return D3DERR_INVALIDCALL;
  }
  HRESULT ValidateTechnique(D3DXHANDLE h) override { return Of(h).valid ? S_OK : E_FAIL; }
  BOOL IsParameterUsed(D3DXHANDLE p, D3DXHANDLE h) override {
    const std::string name = p;
    if (name == "tCAU") return Of(h).usesCaustics;
    if (name == "tENV" || name == "mENV") return Of(h).usesEnv;
    return name == "tFLR";
  }
  HRESULT SetMatrix(D3DXHANDLE p, const D3DMATRIX* m) override { return matrices[p] = *m, S_OK; }
  HRESULT SetTexture(D3DXHANDLE p, const LPDIRECT3DBASETEXTURE9& t) override { return textures[p] = t, S_OK; }
  HRESULT Begin(UINT* passes, DWORD) override { return *passes = techniques.at(current).passes, ++begins, S_OK; }
  HRESULT BeginPass(UINT) override { return ++passesBegun, S_OK; }
  HRESULT CommitChanges() override { return ++commits, S_OK; }
  HRESULT End() override { return ++ends, S_OK; }

  // Not used by the water effect.
  HRESULT GetDevice(LPDIRECT3DDEVICE9&) override { return E_FAIL; }
  HRESULT GetTechniqueDesc(D3DXHANDLE, D3DXTECHNIQUE_DESC*) override { return E_FAIL; }
  HRESULT GetPassDesc(D3DXHANDLE, D3DXPASS_DESC*) override { return E_FAIL; }
  HRESULT GetParameterDesc(D3DXHANDLE, D3DXPARAMETER_DESC*) override { return E_FAIL; }
  D3DXHANDLE GetParameter(D3DXHANDLE, UINT) override { return nullptr; }
  D3DXHANDLE GetParameterByName(D3DXHANDLE, LPCSTR) override { return nullptr; }
  D3DXHANDLE GetTechniqueByName(LPCSTR) override { return nullptr; }
  D3DXHANDLE GetPass(D3DXHANDLE, UINT) override { return nullptr; }
  D3DXHANDLE GetCurrentTechnique() override { return kNames[current]; }
  HRESULT FindNextValidTechnique(D3DXHANDLE, D3DXHANDLE*) override { return E_FAIL; }
  HRESULT SetFloat(D3DXHANDLE, float) override { return S_OK; }
  HRESULT GetFloat(D3DXHANDLE, float*) override { return E_FAIL; }
  HRESULT SetFloatArray(D3DXHANDLE, const float*, UINT) override { return S_OK; }
  HRESULT SetInt(D3DXHANDLE, INT) override { return S_OK; }
  HRESULT GetInt(D3DXHANDLE, INT*) override { return E_FAIL; }
  HRESULT SetBool(D3DXHANDLE, BOOL) override { return S_OK; }
  HRESULT SetVector(D3DXHANDLE, const D3DXVECTOR4*) override { return S_OK; }
  HRESULT GetVector(D3DXHANDLE, D3DXVECTOR4*) override { return E_FAIL; }
  HRESULT GetMatrix(D3DXHANDLE, D3DMATRIX*) override { return E_FAIL; }
  HRESULT GetTexture(D3DXHANDLE, LPDIRECT3DBASETEXTURE9&) override { return E_FAIL; }
  HRESULT EndPass() override { return S_OK; }
  HRESULT OnLostDevice() override { return S_OK; }
  HRESULT OnResetDevice() override { return S_OK; }

 private:
  // A null handle means the current technique.
  const Technique& Of(D3DXHANDLE h) {
    for (size_t i = 0; h && i < techniques.size(); ++i)
      if (h == kNames[i]) return techniques[i];
    return techniques.at(current);
  }
  static constexpr const char* kNames[8] = {"t0", "t1", "t2", "t3", "t4", "t5", "t6", "t7"};
};
