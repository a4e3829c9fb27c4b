// The device as a state machine, on the recording backend: defaults, Get after
// Set, redundant calls filtered out, the fixed-function key's normalisation,
// and argument checks that keep draws inside their buffers.

#include <algorithm>
#include <cstring>
#include <tuple>

#include "platform/gfx/ff_key.h"
#include "tests/support/gfx_device.h"

using namespace gfxtest;

namespace {

class RecordingDevice : public DeviceTest {
 protected:
  RecordingDevice() : DeviceTest(gx::BackendKind::Recording) {}
  size_t CountCalls(const std::string& call) {
    const auto& calls = gx::GxRecordedCalls(d);
    return size_t(std::count(calls.begin(), calls.end(), call));
  }
  DWORD Rs(D3DRENDERSTATETYPE s) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(D3D_OK, d->GetRenderState(s, &v));
    return v;
  }
  DWORD Tss(DWORD stage, D3DTEXTURESTAGESTATETYPE t) {
    DWORD v = 0xDEADBEEF;
    EXPECT_EQ(D3D_OK, d->GetTextureStageState(stage, t, &v));
    return v;
  }
  std::uint64_t KeyNow() {
    gx::FixedFunctionKey key;
    gx::BuildKey(static_cast<const gx::DeviceState&>(StateOf()), key);
    return gx::HashKey(key);
  }
  // The state in force, as the last recorded draw saw it.
  const gx::DeviceState& StateOf() {
    ScreenVertex v[3] = {};
    d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    d->BeginScene();
    d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
    d->EndScene();
    return gx::GxRecordedDraws(d).back().state;
  }
};

TEST_F(RecordingDevice, StartsWithDirect3DDefaults) {
  const std::pair<D3DRENDERSTATETYPE, DWORD> render[] = {
      {D3DRS_ZENABLE, D3DZB_TRUE},  // on because the device has a depth buffer
      {D3DRS_CULLMODE, D3DCULL_CCW},
      {D3DRS_LIGHTING, TRUE},
      {D3DRS_SRCBLEND, D3DBLEND_ONE},
      {D3DRS_DESTBLEND, D3DBLEND_ZERO},
      {D3DRS_ALPHAFUNC, D3DCMP_ALWAYS},
      {D3DRS_ZFUNC, D3DCMP_LESSEQUAL},
      {D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1},
      {D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
      {D3DRS_FILLMODE, D3DFILL_SOLID},
      {D3DRS_FOGEND, 0x3F800000u},  // 1.0f
      {D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu},
      {D3DRS_COLORWRITEENABLE, 0xFu},
  };
  for (const auto& [state, value] : render) EXPECT_EQ(value, Rs(state)) << "render state " << state;
  const std::tuple<DWORD, D3DTEXTURESTAGESTATETYPE, DWORD> stages[] = {
      {0, D3DTSS_COLOROP, D3DTOP_MODULATE},   {0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1},
      {1, D3DTSS_COLOROP, D3DTOP_DISABLE},    {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
      {3, D3DTSS_COLORARG1, D3DTA_TEXTURE},   {3, D3DTSS_COLORARG2, D3DTA_CURRENT},
      {3, D3DTSS_TEXCOORDINDEX, 3u},
  };
  for (const auto& [stage, state, value] : stages)
    EXPECT_EQ(value, Tss(stage, state)) << "stage " << stage << " state " << state;
  DWORD v = 0;
  d->GetSamplerState(2, D3DSAMP_MINFILTER, &v);
  EXPECT_EQ(DWORD(D3DTEXF_POINT), v);
  d->GetSamplerState(2, D3DSAMP_ADDRESSU, &v);
  EXPECT_EQ(DWORD(D3DTADDRESS_WRAP), v);
  D3DVIEWPORT9 vp{};
  d->GetViewport(&vp);
  EXPECT_EQ(64u, vp.Width);
  EXPECT_EQ(1.0f, vp.MaxZ);
  D3DMATRIX m{};
  d->GetTransform(D3DTS_TEXTURE3, &m);
  EXPECT_EQ(1.0f, m._11);
  EXPECT_EQ(1.0f, m._44);
  EXPECT_EQ(0.0f, m._12);

  auto noDepth = MakeDevice(gx::BackendKind::Recording, 32, 32, false);
  DWORD z = 7;
  noDepth->GetRenderState(D3DRS_ZENABLE, &z);
  EXPECT_EQ(DWORD(D3DZB_FALSE), z);
}

TEST_F(RecordingDevice, GetReturnsWhatSetStored) {
  d->SetRenderState(D3DRS_FOGCOLOR, 0x12345678);
  d->SetTextureStageState(5, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
  d->SetSamplerState(7, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  EXPECT_EQ(0x12345678u, Rs(D3DRS_FOGCOLOR));
  EXPECT_EQ(DWORD(D3DTTFF_COUNT2), Tss(5, D3DTSS_TEXTURETRANSFORMFLAGS));
  DWORD v = 0;
  d->GetSamplerState(7, D3DSAMP_MAGFILTER, &v);
  EXPECT_EQ(DWORD(D3DTEXF_LINEAR), v);

  D3DMATRIX m{};
  for (int i = 0; i < 16; ++i) (&m._11)[i] = float(i + 1);
  d->SetTransform(D3DTS_WORLD, &m);
  D3DMATRIX back{};
  d->GetTransform(D3DTS_WORLD, &back);
  EXPECT_EQ(0, std::memcmp(&m, &back, sizeof m));

  D3DMATERIAL9 mat{};
  mat.Diffuse = {0.25f, 0.5f, 0.75f, 1.0f};
  mat.Power = 8;
  d->SetMaterial(&mat);
  D3DMATERIAL9 matBack{};
  d->GetMaterial(&matBack);
  EXPECT_EQ(0, std::memcmp(&mat, &matBack, sizeof mat));

  D3DLIGHT9 light{};
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GetLight(0, &light));  // never set
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Direction = {1, -1, 0};
  d->SetLight(0, &light);
  d->LightEnable(0, TRUE);
  D3DLIGHT9 lightBack{};
  EXPECT_EQ(D3D_OK, d->GetLight(0, &lightBack));
  EXPECT_EQ(-1.0f, lightBack.Direction.y);
  BOOL on = FALSE;
  d->GetLightEnable(0, &on);
  EXPECT_TRUE(on);

  std::shared_ptr<IDirect3DTexture9> tex;
  ASSERT_EQ(D3D_OK, d->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr));
  d->SetTexture(2, tex);
  std::shared_ptr<IDirect3DBaseTexture9> bound;
  d->GetTexture(2, bound);
  EXPECT_EQ(tex.get(), bound.get());
  EXPECT_EQ(D3DRTYPE_TEXTURE, bound->GetType());

  EXPECT_EQ(D3DERR_INVALIDCALL, d->SetRenderState(D3DRENDERSTATETYPE(4000), 1));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->SetTextureStageState(8, D3DTSS_COLOROP, 1));
}

TEST_F(RecordingDevice, StateSetTwiceReachesTheBackendOnce) {
  gx::GxClearRecording(d);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
  d->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(1, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  D3DMATRIX m{};
  m._11 = m._22 = m._33 = m._44 = 2.0f;
  d->SetTransform(D3DTS_VIEW, &m);
  d->SetTransform(D3DTS_VIEW, &m);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);  // already the default
  EXPECT_EQ(1u, CountCalls("SetRenderState 27 1"));
  EXPECT_EQ(1u, CountCalls("SetTextureStageState 0 1 3"));
  EXPECT_EQ(1u, CountCalls("SetSamplerState 1 6 2"));
  EXPECT_EQ(1u, CountCalls("SetTransform 2"));
  EXPECT_EQ(0u, CountCalls("SetRenderState 22 3"));
  EXPECT_GE(gx::GxGetStats(d).redundantStates, 5u);
}

TEST_F(RecordingDevice, KeyIgnoresArgumentsOfDisabledStagesAndUnusedLighting) {
  std::uint64_t base = KeyNow();
  // Stage 1 is disabled: nothing about it may reach the key.
  d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  d->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
  d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_SPHEREMAP);
  d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_MODULATE);  // after a disabled stage: off too
  EXPECT_EQ(base, KeyNow());
  // SELECTARG1 reads only the first argument.
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  std::uint64_t select = KeyNow();
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
  EXPECT_EQ(select, KeyNow());
  // Pre-transformed vertices are never lit, so lighting settings do not matter to them.
  d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
  d->SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, D3DMCS_COLOR1);
  EXPECT_EQ(select, KeyNow());
  // Sampler states and transforms are uniforms and objects, not program shape.
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetRenderState(D3DRS_FOGCOLOR, 0xFF00FF00);
  EXPECT_EQ(select, KeyNow());
  // A real change does change it.
  d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
  d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
  EXPECT_NE(select, KeyNow());
}

TEST_F(RecordingDevice, StageReadingUnboundTextureKeysLikePassThrough) {
  // Default stage 0 (texture x diffuse) with nothing bound must equal "select current".
  std::uint64_t unbound = KeyNow();
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_CURRENT);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
  EXPECT_EQ(unbound, KeyNow());
  std::shared_ptr<IDirect3DTexture9> tex;
  d->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, tex, nullptr);
  d->SetTexture(0, tex);
  EXPECT_EQ(unbound, KeyNow());  // the stage does not read the texture
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  EXPECT_NE(unbound, KeyNow());
}

TEST_F(RecordingDevice, KeysRoundTripAsText) {
  gx::FixedFunctionKey key, back;
  d->SetRenderState(D3DRS_FOGENABLE, TRUE);
  d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
  gx::BuildKey(StateOf(), key);
  ASSERT_TRUE(gx::KeyFromString(gx::KeyToString(key), back));
  EXPECT_TRUE(key == back);
  EXPECT_FALSE(gx::KeyFromString("zz", back));
  EXPECT_FALSE(gx::KeyFromString(std::string(sizeof key * 2, 'g'), back));
  // Well-formed text that no state could have made is refused too.
  gx::FixedFunctionKey bad = key;
  bad.stageCount = 9;
  EXPECT_FALSE(gx::KeyFromString(gx::KeyToString(bad), back));
  bad = key;
  bad.texSets = 12;
  EXPECT_FALSE(gx::KeyFromString(gx::KeyToString(bad), back));
  bad = key;
  bad.stages[0].colorOp = D3DTOP_DOTPRODUCT3;
  EXPECT_FALSE(gx::KeyFromString(gx::KeyToString(bad), back));
  bad = key;
  bad.stages[key.stageCount].colorOp = D3DTOP_MODULATE;  // a stage past the last one
  EXPECT_FALSE(gx::KeyFromString(gx::KeyToString(bad), back));
}

TEST_F(RecordingDevice, RefusedCallsAndUnhandledStagesSayWhyOnce) {
  gx::GxClearReportedMessages();
  ScreenVertex v[3] = {};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(D3DERR_INVALIDCALL, d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]));
  auto said = gx::GxReportedMessages();
  ASSERT_EQ(1u, said.size());
  EXPECT_NE(std::string::npos, said[0].find("DrawPrimitiveUP refused (D3DERR_INVALIDCALL): outside BeginScene"));

  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_BUMPENVMAP);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEMP);
  d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  d->BeginScene();
  for (int i = 0; i < 3; ++i) d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]);
  d->EndScene();
  said = gx::GxReportedMessages();
  ASSERT_EQ(3u, said.size());
  EXPECT_NE(std::string::npos, said[1].find("stage 0: colour operation 22")) << said[1];
  EXPECT_NE(std::string::npos, said[2].find("stage 0: alpha argument 5")) << said[2];
}

// A refusal names what was wrong with the numbers given, one reason per message.
TEST_F(RecordingDevice, RefusalsNameTheValueTheyRefuse) {
  gx::GxClearReportedMessages();
  DWORD value = 0;
  D3DLIGHT9 light{};
  std::shared_ptr<IDirect3DTexture9> texture;
  std::shared_ptr<IDirect3DIndexBuffer9> indices;
  EXPECT_EQ(D3DERR_INVALIDCALL, d->SetTextureStageState(9, D3DTSS_COLOROP, D3DTOP_MODULATE));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GetSamplerState(0, D3DSAMPLERSTATETYPE(99), &value));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GetLight(3, &light));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->LightEnable(8, TRUE));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateTexture(0, 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateTexture(16, 16, 9, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, texture, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateIndexBuffer(64, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, indices, nullptr));
  const auto said = gx::GxReportedMessages();
  const char* expected[] = {"SetTextureStageState refused (D3DERR_INVALIDCALL): stage 9 is out of range (0 to 7)",
                            "GetSamplerState refused (D3DERR_INVALIDCALL): sampler state 99 is out of range",
                            "GetLight refused (D3DERR_INVALIDCALL): light 3 was never set",
                            "LightEnable refused (D3DERR_INVALIDCALL): light 8 is out of range (0 to 7)",
                            "size 0x16 is outside 1x1 to 8192x8192",
                            "9 levels asked for, a full mip chain has 5",
                            "only D3DFMT_INDEX16 is offered"};
  ASSERT_EQ(std::size(expected), said.size());
  for (std::size_t i = 0; i < said.size(); ++i) EXPECT_NE(std::string::npos, said[i].find(expected[i])) << said[i];
}

TEST_F(RecordingDevice, DrawsOutsideASceneFailAndDrawNothing) {
  gx::GxClearRecording(d);
  ScreenVertex v[3] = {};
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  EXPECT_EQ(D3DERR_INVALIDCALL, d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]));
  EXPECT_TRUE(gx::GxRecordedDraws(d).empty());
  EXPECT_EQ(D3DERR_INVALIDCALL, d->EndScene());
  EXPECT_EQ(D3D_OK, d->BeginScene());
  EXPECT_EQ(D3DERR_INVALIDCALL, d->BeginScene());
  EXPECT_EQ(D3DERR_INVALIDCALL, d->Present(nullptr, nullptr, nullptr, nullptr));  // inside a scene
  EXPECT_EQ(D3D_OK, d->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof v[0]));
  EXPECT_EQ(D3D_OK, d->EndScene());
  EXPECT_EQ(1u, gx::GxRecordedDraws(d).size());
}

TEST_F(RecordingDevice, DrawRecordsHoldTheVerticesAndTheStateInForce) {
  struct V {
    float x, y, z;
    D3DCOLOR c;
  };
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  ASSERT_EQ(D3D_OK, d->CreateVertexBuffer(6 * sizeof(V), D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE,
                                          D3DPOOL_MANAGED, vb, nullptr));
  void* p = nullptr;
  ASSERT_EQ(D3D_OK, vb->Lock(0, 0, &p, 0));
  V* verts = static_cast<V*>(p);
  for (int i = 0; i < 6; ++i) verts[i] = {float(i), 0, 0, D3DCOLOR(i)};
  vb->Unlock();
  d->SetStreamSource(0, vb, 0, sizeof(V));
  d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
  d->BeginScene();
  ASSERT_EQ(D3D_OK, d->DrawPrimitive(D3DPT_TRIANGLELIST, 3, 1));
  // Reading past the end of the buffer is refused.
  EXPECT_EQ(D3DERR_INVALIDCALL, d->DrawPrimitive(D3DPT_TRIANGLELIST, 4, 1));
  d->EndScene();
  const auto& draws = gx::GxRecordedDraws(d);
  ASSERT_EQ(1u, draws.size());
  ASSERT_EQ(3 * sizeof(V), draws[0].vertices.size());
  V first;
  std::memcpy(&first, draws[0].vertices.data(), sizeof first);
  EXPECT_EQ(3.0f, first.x);
  EXPECT_EQ(DWORD(TRUE), draws[0].state.render[D3DRS_ALPHABLENDENABLE]);
  EXPECT_EQ(DWORD(D3DFVF_XYZ | D3DFVF_DIFFUSE), draws[0].state.fvf);
}

TEST_F(RecordingDevice, IndexedDrawsStayInsideTheirBuffers) {
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  std::shared_ptr<IDirect3DIndexBuffer9> ib;
  d->CreateVertexBuffer(4 * 16, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, vb, nullptr);
  ASSERT_EQ(D3D_OK, d->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateIndexBuffer(12, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, ib, nullptr));
  d->CreateIndexBuffer(6 * 2, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, ib, nullptr);
  void* p = nullptr;
  ib->Lock(0, 0, &p, 0);
  std::uint16_t idx[6] = {0, 1, 2, 2, 1, 3};
  std::memcpy(p, idx, sizeof idx);
  ib->Unlock();
  d->SetFVF(D3DFVF_XYZ);
  d->SetStreamSource(0, vb, 0, 12);  // 64 bytes hold 5 vertices of 12
  d->SetIndices(ib);
  d->BeginScene();
  EXPECT_EQ(D3D_OK, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 2, 0, 4, 0, 2));  // index 3+2 = 5
  EXPECT_EQ(D3DERR_INVALIDCALL, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 3, 2));  // past the indexes
  EXPECT_EQ(D3DERR_INVALIDCALL, d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, -1, 0, 4, 0, 2));
  d->EndScene();
  const auto& draws = gx::GxRecordedDraws(d);
  ASSERT_EQ(1u, draws.size());
  EXPECT_EQ(std::vector<std::uint16_t>(idx, idx + 6), draws[0].indexes);
}

TEST_F(RecordingDevice, UserPointerDrawsLeaveTheStreamUnset) {
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  d->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, vb, nullptr);
  d->SetStreamSource(0, vb, 0, 16);
  d->BeginScene();
  DrawRect(d, 0, 0, 4, 4, 0xFFFFFFFF);
  d->EndScene();
  std::shared_ptr<IDirect3DVertexBuffer9> now;
  UINT offset = 1, stride = 1;
  d->GetStreamSource(0, now, &offset, &stride);
  EXPECT_EQ(nullptr, now);
  EXPECT_EQ(0u, stride);
}

// The scan of a user-pointer draw's indexes is what Direct3D's debug runtime adds: with debug
// output on an index outside the promised range is refused; without it the draw goes through.
// What Direct3D 9 itself refuses stays refused either way.
TEST_F(RecordingDevice, UserIndexesOutsideTheirRangeAreRefusedWithDebugOutputOnly) {
  const bool debugWas = gx::DebugOutput();
  ScreenVertex v[4] = {};
  const std::uint16_t idx[3] = {0, 1, 3};  // 3 is outside 0..2
  auto draw = [&](const void* indexes, D3DFORMAT format) {
    return d->DrawIndexedPrimitiveUP(D3DPT_TRIANGLELIST, 0, 3, 1, indexes, format, v, sizeof v[0]);
  };
  d->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
  gx::GxClearRecording(d);
  gx::SetDebugOutput(false);
  EXPECT_EQ(D3DERR_INVALIDCALL, draw(idx, D3DFMT_INDEX16));  // outside a scene
  d->BeginScene();
  gx::SetDebugOutput(true);
  EXPECT_EQ(D3DERR_INVALIDCALL, draw(idx, D3DFMT_INDEX16));
  gx::SetDebugOutput(false);
  EXPECT_EQ(D3DERR_INVALIDCALL, draw(idx, D3DFMT_INDEX32));
  EXPECT_EQ(D3DERR_INVALIDCALL, draw(nullptr, D3DFMT_INDEX16));
  EXPECT_EQ(D3D_OK, draw(idx, D3DFMT_INDEX16));
  d->EndScene();
  gx::SetDebugOutput(debugWas);
  const auto& draws = gx::GxRecordedDraws(d);
  ASSERT_EQ(1u, draws.size());
  EXPECT_EQ(3u, draws[0].vertexCount);  // the promised range, whatever the indexes say
}

TEST_F(RecordingDevice, LocksCheckTheirRangesAndPairing) {
  std::shared_ptr<IDirect3DVertexBuffer9> vb;
  d->CreateVertexBuffer(100, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, vb, nullptr);
  void* p = nullptr;
  EXPECT_EQ(D3DERR_INVALIDCALL, vb->Lock(90, 20, &p, 0));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(D3D_OK, vb->Lock(0, 0, &p, D3DLOCK_DISCARD));
  EXPECT_EQ(D3DERR_INVALIDCALL, vb->Lock(0, 0, &p, 0));  // already locked
  EXPECT_EQ(D3D_OK, vb->Unlock());
  EXPECT_EQ(D3DERR_INVALIDCALL, vb->Unlock());

  std::shared_ptr<IDirect3DTexture9> tex;
  ASSERT_EQ(D3D_OK, d->CreateTexture(16, 8, 0, 0, D3DFMT_R5G6B5, D3DPOOL_MANAGED, tex, nullptr));
  EXPECT_EQ(5u, tex->GetLevelCount());
  D3DSURFACE_DESC desc{};
  tex->GetLevelDesc(4, &desc);
  EXPECT_EQ(1u, desc.Width);
  EXPECT_EQ(1u, desc.Height);
  D3DLOCKED_RECT lr{};
  ASSERT_EQ(D3D_OK, tex->LockRect(1, &lr, nullptr, 0));
  EXPECT_EQ(16, lr.Pitch);  // 8 pixels of 2 bytes
  tex->UnlockRect(1);
  RECT outside{0, 0, 9, 1};
  EXPECT_EQ(D3DERR_INVALIDCALL, tex->LockRect(1, &lr, &outside, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL, tex->LockRect(5, &lr, nullptr, 0));

  std::shared_ptr<IDirect3DTexture9> rt;
  ASSERT_EQ(D3D_OK, d->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, rt, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, rt->LockRect(0, &lr, nullptr, 0));
  EXPECT_EQ(D3DERR_INVALIDCALL,
            d->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, rt, nullptr));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreateTexture(16, 16, 6, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, rt, nullptr));
}

TEST_F(RecordingDevice, RenderTargetsKeepIdentityAndResetTheViewport) {
  std::shared_ptr<IDirect3DTexture9> rt;
  d->CreateTexture(32, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, rt, nullptr);
  std::shared_ptr<IDirect3DSurface9> surface, again, saved, now;
  rt->GetSurfaceLevel(0, surface);
  rt->GetSurfaceLevel(0, again);
  EXPECT_EQ(surface.get(), again.get());
  d->GetRenderTarget(0, saved);
  std::shared_ptr<IDirect3DSurface9> back;
  d->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, back);
  EXPECT_EQ(back.get(), saved.get());
  D3DVIEWPORT9 small{4, 4, 8, 8, 0, 1};
  EXPECT_EQ(D3D_OK, d->SetViewport(&small));
  ASSERT_EQ(D3D_OK, d->SetRenderTarget(0, surface));
  D3DVIEWPORT9 vp{};
  d->GetViewport(&vp);
  EXPECT_EQ(0u, vp.X);
  EXPECT_EQ(32u, vp.Width);
  EXPECT_EQ(16u, vp.Height);
  D3DVIEWPORT9 tooBig{0, 0, 33, 16, 0, 1};
  EXPECT_EQ(D3DERR_INVALIDCALL, d->SetViewport(&tooBig));
  d->GetRenderTarget(0, now);
  EXPECT_EQ(surface.get(), now.get());
  EXPECT_EQ(D3DERR_INVALIDCALL, d->SetRenderTarget(0, nullptr));
  std::shared_ptr<IDirect3DTexture9> plain;
  d->CreateTexture(8, 8, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, plain, nullptr);
  std::shared_ptr<IDirect3DSurface9> plainSurface;
  plain->GetSurfaceLevel(0, plainSurface);
  EXPECT_EQ(D3DERR_INVALIDCALL, d->SetRenderTarget(0, plainSurface));
  EXPECT_EQ(D3D_OK, d->SetRenderTarget(0, saved));
}

TEST_F(RecordingDevice, ShadersKeepTheirSourceAndConstantsAreDeviceState) {
  const char* source = "#version 330 core\nout vec4 gx_FragColor;\nvoid main() { gx_FragColor = vec4(1.0); }\n";
  std::shared_ptr<IDirect3DPixelShader9> ps;
  ASSERT_EQ(D3D_OK, d->CreatePixelShader(reinterpret_cast<const DWORD*>(source), ps));
  EXPECT_STREQ(source, ps->GxSource());
  EXPECT_EQ(D3DERR_INVALIDCALL, d->CreatePixelShader(nullptr, ps));

  const float tint[4] = {0.5f, 1, 0.25f, 1};
  gx::GxResetStats(d);
  EXPECT_EQ(D3D_OK, d->GxSetPixelShaderConstantF("tint", tint, 4));
  EXPECT_EQ(D3D_OK, d->GxSetPixelShaderConstantF("tint", tint, 4));  // unchanged: filtered
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GxSetPixelShaderConstantF(nullptr, tint, 4));
  EXPECT_EQ(D3DERR_INVALIDCALL, d->GxSetVertexShaderConstantI("n", nullptr, 1));
  auto stats = gx::GxGetStats(d);
  EXPECT_EQ(1u, stats.stateChanges);
  EXPECT_EQ(1u, stats.redundantStates);
  EXPECT_EQ("SetPixelShaderConstant 4", gx::GxRecordedCalls(d).back());
}

}  // namespace
