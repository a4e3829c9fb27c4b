// ID3DXSprite: screen-space textured quads, queued by Draw and drawn by
// Flush / End as pre-transformed triangles. Begin sets the states the
// original documents for sprites; unless told not to, it first saves every
// state the sprite will touch and End puts them all back.

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/gfx/d3dx/common.h"
#include "platform/gfx/d3dx/sprite_impl.h"

namespace d3dx {
namespace {

struct SpriteVertex {
  float x, y, z, rhw;
  D3DCOLOR color;
  float u, v;
};
constexpr DWORD kSpriteFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1;
static_assert(sizeof(SpriteVertex) == 28);

// The states Begin sets (render states, then stage 0 and 1, then sampler 0).
struct StateValue {
  DWORD id;
  DWORD value;
};
const StateValue kRenderStates[] = {
    {D3DRS_ALPHAFUNC, D3DCMP_GREATER},
    {D3DRS_ALPHAREF, 0},
    {D3DRS_BLENDOP, D3DBLENDOP_ADD},
    {D3DRS_CLIPPING, TRUE},
    {D3DRS_CLIPPLANEENABLE, FALSE},
    {D3DRS_COLORWRITEENABLE, 0xF},
    {D3DRS_CULLMODE, D3DCULL_NONE},
    {D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
    {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
    {D3DRS_FILLMODE, D3DFILL_SOLID},
    {D3DRS_FOGENABLE, FALSE},
    {D3DRS_LIGHTING, FALSE},
    {D3DRS_RANGEFOGENABLE, FALSE},
    {D3DRS_SEPARATEALPHABLENDENABLE, FALSE},
    {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
    {D3DRS_SPECULARENABLE, FALSE},
    {D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
    {D3DRS_SRGBWRITEENABLE, FALSE},
    {D3DRS_STENCILENABLE, FALSE},
    {D3DRS_VERTEXBLEND, FALSE},
    {D3DRS_WRAP0, 0},
};
const StateValue kStage0[] = {
    {D3DTSS_COLOROP, D3DTOP_MODULATE},     {D3DTSS_COLORARG1, D3DTA_TEXTURE},
    {D3DTSS_COLORARG2, D3DTA_DIFFUSE},     {D3DTSS_ALPHAOP, D3DTOP_MODULATE},
    {D3DTSS_ALPHAARG1, D3DTA_TEXTURE},     {D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
    {D3DTSS_TEXCOORDINDEX, 0},             {D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE},
};
const StateValue kStage1[] = {
    {D3DTSS_COLOROP, D3DTOP_DISABLE},
    {D3DTSS_ALPHAOP, D3DTOP_DISABLE},
};
const StateValue kSampler0[] = {
    {D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP}, {D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP},
    {D3DSAMP_MAGFILTER, D3DTEXF_LINEAR},   {D3DSAMP_MINFILTER, D3DTEXF_LINEAR},
    {D3DSAMP_MIPFILTER, D3DTEXF_LINEAR},   {D3DSAMP_MAXMIPLEVEL, 0},
    {D3DSAMP_MIPMAPLODBIAS, 0},            {D3DSAMP_SRGBTEXTURE, 0},
};

class Sprite final : public ID3DXSprite {
 public:
  explicit Sprite(LPDIRECT3DDEVICE9 device) : device_(std::move(device)) { D3DXMatrixIdentity(&transform_); }

  HRESULT GetDevice(LPDIRECT3DDEVICE9& device) override {
    device = device_;
    return S_OK;
  }
  HRESULT GetTransform(D3DXMATRIX* m) override { return d3dx::CopyOut(m, transform_); }
  HRESULT SetTransform(const D3DXMATRIX* m) override {
    if (!m) return D3DERR_INVALIDCALL;
    transform_ = *m;
    return S_OK;
  }

  HRESULT Begin(DWORD flags) override {
    if (begun_) return D3DERR_INVALIDCALL;
    begun_ = true;
    flags_ = flags;
    queue_.clear();
    saved_ = SavedSpriteState();
    if (!(flags & D3DXSPRITE_DONOTSAVESTATE)) Save();
    if (!(flags & D3DXSPRITE_DONOTMODIFY_RENDERSTATE)) SetStates();
    return S_OK;
  }

  HRESULT Draw(const LPDIRECT3DTEXTURE9& texture, const RECT* source, const D3DXVECTOR3* center,
               const D3DXVECTOR3* position, D3DCOLOR color) override {
    if (!begun_ || !texture) return D3DERR_INVALIDCALL;
    D3DSURFACE_DESC desc{};
    if (FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0) return D3DERR_INVALIDCALL;
    Queued q;
    q.texture = texture;
    q.source = source ? *source : RECT{0, 0, LONG(desc.Width), LONG(desc.Height)};
    q.texWidth = float(desc.Width);
    q.texHeight = float(desc.Height);
    q.center = center ? *center : D3DXVECTOR3(0, 0, 0);
    q.position = position ? *position : D3DXVECTOR3(0, 0, 0);
    q.color = color;
    q.transform = transform_;
    queue_.push_back(q);
    return S_OK;
  }

  HRESULT Flush() override {
    if (!begun_) return D3DERR_INVALIDCALL;
    if (flags_ & D3DXSPRITE_SORT_DEPTH_BACKTOFRONT)
      std::stable_sort(queue_.begin(), queue_.end(),
                       [](const Queued& a, const Queued& b) { return a.position.z > b.position.z; });
    else if (flags_ & D3DXSPRITE_SORT_DEPTH_FRONTTOBACK)
      std::stable_sort(queue_.begin(), queue_.end(),
                       [](const Queued& a, const Queued& b) { return a.position.z < b.position.z; });
    else if (flags_ & D3DXSPRITE_SORT_TEXTURE)
      std::stable_sort(queue_.begin(), queue_.end(),
                       [](const Queued& a, const Queued& b) { return a.texture.get() < b.texture.get(); });
    HRESULT result = S_OK;
    std::vector<SpriteVertex> vertices;
    for (std::size_t i = 0; i < queue_.size();) {
      // One draw per run of sprites sharing a texture.
      std::size_t j = i;
      vertices.clear();
      while (j < queue_.size() && queue_[j].texture == queue_[i].texture) AppendQuad(queue_[j++], vertices);
      device_->SetFVF(kSpriteFvf);
      device_->SetTexture(0, queue_[i].texture);
      const HRESULT hr =
          device_->DrawPrimitiveUP(D3DPT_TRIANGLELIST, UINT(vertices.size() / 3), vertices.data(), sizeof(SpriteVertex));
      if (FAILED(hr)) result = hr;
      i = j;
    }
    queue_.clear();
    return result;
  }

  HRESULT End() override {
    if (!begun_) return D3DERR_INVALIDCALL;
    const HRESULT hr = Flush();
    Restore();
    begun_ = false;
    return hr;
  }

  HRESULT OnLostDevice() override { return S_OK; }
  HRESULT OnResetDevice() override { return S_OK; }

 private:
  struct Queued {
    LPDIRECT3DTEXTURE9 texture;
    RECT source;
    float texWidth, texHeight;
    D3DXVECTOR3 center, position;
    D3DCOLOR color;
    D3DXMATRIX transform;
  };

  struct SavedSpriteState {
    bool valid = false;
    std::vector<StateValue> render;
    std::vector<StateValue> stage0, stage1, sampler0;
    DWORD fvf = 0;
    LPDIRECT3DBASETEXTURE9 texture0;
    LPDIRECT3DVERTEXSHADER9 vertexShader;
    LPDIRECT3DPIXELSHADER9 pixelShader;
    LPDIRECT3DVERTEXBUFFER9 stream;
    UINT streamOffset = 0, streamStride = 0;
    LPDIRECT3DINDEXBUFFER9 indices;
  };

  // Pre-transformed corners sit half a pixel up and left, so that texel (i, j)
  // of the source rectangle covers exactly pixel (x + i, y + j).
  static void AppendQuad(const Queued& q, std::vector<SpriteVertex>& out) {
    const float w = float(q.source.right - q.source.left), h = float(q.source.bottom - q.source.top);
    const float u0 = q.source.left / q.texWidth, v0 = q.source.top / q.texHeight;
    const float u1 = q.source.right / q.texWidth, v1 = q.source.bottom / q.texHeight;
    const float x0 = -q.center.x, y0 = -q.center.y;
    SpriteVertex c[4] = {
        {x0, y0, 0, 1, q.color, u0, v0},
        {x0 + w, y0, 0, 1, q.color, u1, v0},
        {x0, y0 + h, 0, 1, q.color, u0, v1},
        {x0 + w, y0 + h, 0, 1, q.color, u1, v1},
    };
    for (SpriteVertex& v : c) {
      D3DXVECTOR3 p(v.x + q.position.x, v.y + q.position.y, q.position.z), t;
      D3DXVec3TransformCoord(&t, &p, &q.transform);
      v.x = t.x - 0.5f;
      v.y = t.y - 0.5f;
      v.z = t.z;
    }
    const int order[6] = {0, 1, 2, 2, 1, 3};
    for (int k : order) out.push_back(c[k]);
  }

  void Save() {
    SavedSpriteState& s = saved_;
    s.valid = true;
    auto keep = [&](auto getter, const StateValue* list, std::size_t n, std::vector<StateValue>& into) {
      for (std::size_t i = 0; i < n; ++i) {
        DWORD v = 0;
        if (SUCCEEDED(getter(list[i].id, &v))) into.push_back({list[i].id, v});
      }
    };
    keep([&](DWORD id, DWORD* v) { return device_->GetRenderState(static_cast<D3DRENDERSTATETYPE>(id), v); },
         kRenderStates, std::size(kRenderStates), s.render);
    const StateValue blend[] = {{D3DRS_ALPHABLENDENABLE, 0}, {D3DRS_ALPHATESTENABLE, 0}};
    keep([&](DWORD id, DWORD* v) { return device_->GetRenderState(static_cast<D3DRENDERSTATETYPE>(id), v); }, blend,
         2, s.render);
    keep([&](DWORD id, DWORD* v) { return device_->GetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(id), v); },
         kStage0, std::size(kStage0), s.stage0);
    keep([&](DWORD id, DWORD* v) { return device_->GetTextureStageState(1, static_cast<D3DTEXTURESTAGESTATETYPE>(id), v); },
         kStage1, std::size(kStage1), s.stage1);
    keep([&](DWORD id, DWORD* v) { return device_->GetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(id), v); },
         kSampler0, std::size(kSampler0), s.sampler0);
    device_->GetFVF(&s.fvf);
    device_->GetTexture(0, s.texture0);
    device_->GetVertexShader(s.vertexShader);
    device_->GetPixelShader(s.pixelShader);
    device_->GetStreamSource(0, s.stream, &s.streamOffset, &s.streamStride);
    device_->GetIndices(s.indices);
  }

  void SetStates() {
    for (const StateValue& s : kRenderStates) device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s.id), s.value);
    const DWORD blend = (flags_ & D3DXSPRITE_ALPHABLEND) ? TRUE : FALSE;
    device_->SetRenderState(D3DRS_ALPHABLENDENABLE, blend);
    device_->SetRenderState(D3DRS_ALPHATESTENABLE, blend);
    for (const StateValue& s : kStage0)
      device_->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(s.id), s.value);
    for (const StateValue& s : kStage1)
      device_->SetTextureStageState(1, static_cast<D3DTEXTURESTAGESTATETYPE>(s.id), s.value);
    for (const StateValue& s : kSampler0) device_->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(s.id), s.value);
    device_->SetVertexShader(nullptr);
    device_->SetPixelShader(nullptr);
    device_->SetFVF(kSpriteFvf);
  }

  void Restore() {
    SavedSpriteState& s = saved_;
    if (!s.valid) return;
    for (const StateValue& v : s.render) device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(v.id), v.value);
    for (const StateValue& v : s.stage0)
      device_->SetTextureStageState(0, static_cast<D3DTEXTURESTAGESTATETYPE>(v.id), v.value);
    for (const StateValue& v : s.stage1)
      device_->SetTextureStageState(1, static_cast<D3DTEXTURESTAGESTATETYPE>(v.id), v.value);
    for (const StateValue& v : s.sampler0) device_->SetSamplerState(0, static_cast<D3DSAMPLERSTATETYPE>(v.id), v.value);
    device_->SetFVF(s.fvf);
    device_->SetTexture(0, s.texture0);
    device_->SetVertexShader(s.vertexShader);
    device_->SetPixelShader(s.pixelShader);
    device_->SetStreamSource(0, s.stream, s.streamOffset, s.streamStride);
    device_->SetIndices(s.indices);
    saved_ = SavedSpriteState();
  }

  LPDIRECT3DDEVICE9 device_;
  D3DXMATRIX transform_;
  bool begun_ = false;
  DWORD flags_ = 0;
  std::vector<Queued> queue_;
  SavedSpriteState saved_;
};

}  // namespace

LPD3DXSPRITE MakeSprite(const LPDIRECT3DDEVICE9& device) { return std::make_shared<Sprite>(device); }

}  // namespace d3dx

HRESULT D3DXCreateSprite(const LPDIRECT3DDEVICE9& device, LPD3DXSPRITE& sprite) {
  sprite.reset();
  if (!device) return D3DERR_INVALIDCALL;
  sprite = d3dx::MakeSprite(device);
  return S_OK;
}
