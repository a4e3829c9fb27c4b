// The gl backend's draws: the target, raster state, program, uniforms and textures the state in
// force asks for, then the vertices and indexes, then the draw call.

#include "platform/gfx/gl/gl_backend.h"

#include "platform/gfx/diagnostics.h"
#include "platform/gfx/draw_reach.h"
#include "platform/gfx/gl/debug.h"
#include "platform/gfx/shader_interface.h"

namespace gx {

HRESULT GlBackend::Draw(const DeviceState& s, const DrawCall& call) {
  // Warm-up draws build their programs whatever they would cover.
  if (!warmUp_ && LeavesTargetUnchanged(s, call)) return D3D_OK;
  if (context_ != Context::InUse) return D3D_OK;  // a lost device draws nothing, and says nothing
  gl_->Current();
  GlCallScope scope("Draw");
  if (HRESULT hr = PrepareDraw(s); FAILED(hr)) return hr;
  FvfLayout layout = LayoutOf(s.fvf);
  gl_->cache.BindVertexArray(vao_);
  const GlDrawInput in = BindVertices(s, call, layout);
  if (warmUp_) return D3D_OK;
  if (!Submit(call, layout, in)) return D3DERR_INVALIDCALL;
  ++gl_->cache.calls.draw;
  if (gl_->drawing && gl_->drawing->msFbo) gl_->drawing->unresolved = true;
  return D3D_OK;
}

// Everything but the vertices: target, viewport, raster state, program, uniforms and textures.
HRESULT GlBackend::PrepareDraw(const DeviceState& s) {
  auto& c = gl_->cache;
  if (!BindTarget(s)) return Refused(D3DERR_INVALIDCALL, "Draw", "the render target cannot be bound");
  if (viewportDirty_) {
    const auto& vp = s.viewport;
    c.Viewport(GLint(vp.X), GLint(vp.Y), GLsizei(vp.Width), GLsizei(vp.Height));
    c.DepthRange(vp.MinZ, vp.MaxZ);
    viewportDirty_ = false;
  }
  if (rasterDirty_) ApplyRaster(s);
  auto* ps = s.pixelShader ? &static_cast<PixelShader*>(s.pixelShader.get())->store : nullptr;
  auto* vs = s.vertexShader ? &static_cast<VertexShader*>(s.vertexShader.get())->store : nullptr;
  // A program that failed to build draws nothing rather than something stale.
  if (!SelectProgram(s, ps, vs))
    return Refused(D3DERR_INVALIDCALL, "Draw", "the program for the state in force does not build");
  c.UseProgram(program_->id);
  UploadUniforms(*program_, s);
  if (ps || vs) UploadShaderConstants(*program_, s, ps != nullptr, vs != nullptr);
  BindTextures(s, programKey_.ff);
  // A render target remade just now (the context came back) moved the framebuffer and masks.
  if (targetDirty_) {
    if (!BindTarget(s)) return Refused(D3DERR_INVALIDCALL, "Draw", "the render target cannot be bound");
    if (rasterDirty_) ApplyRaster(s);
  }
  return D3D_OK;
}

// The program for the state in force: the fixed-function key, rebuilt when state that shapes it
// changed, with the custom shaders bound.
bool GlBackend::SelectProgram(const DeviceState& s, const ShaderStore* ps, const ShaderStore* vs) {
  if (keyDirty_) {
    BuildKey(s, programKey_.ff);
    keyDirty_ = false;
    program_ = nullptr;
  }
  std::uint64_t psSerial = ps ? ps->serial : 0, vsSerial = vs ? vs->serial : 0;
  if (!program_ || programKey_.pixelShader != psSerial || programKey_.vertexShader != vsSerial) {
    programKey_.pixelShader = psSerial, programKey_.vertexShader = vsSerial;
    program_ = Program(programKey_, ps, vs);
  }
  return program_ && program_->ok;
}

// Points the attributes at the draw's vertices (the device's buffer, or user vertices copied to
// the stream buffer) and binds its indexes.
GlDrawInput GlBackend::BindVertices(const DeviceState& s, const DrawCall& call, const FvfLayout& layout) {
  GlDrawInput in;
  switch (call.kind) {
    case DrawRecord::Kind::Primitive:
    case DrawRecord::Kind::IndexedPrimitive: {
      auto* vb = static_cast<VertexBuffer*>(s.streamBuffer.get());
      GLuint name = Upload(vb->store, GL_ARRAY_BUFFER);
      SetAttributes(layout, name, s.streamOffset, s.streamStride);
      in.attribBuffer = name, in.attribBase = s.streamOffset, in.attribStride = s.streamStride;
      if (call.kind == DrawRecord::Kind::Primitive) {
        in.first = GLint(call.startVertex);
      } else {
        auto* ib = static_cast<IndexBuffer*>(s.indices.get());
        gl_->cache.BindElementBuffer(Upload(ib->store, GL_ELEMENT_ARRAY_BUFFER));
        in.indexed = true;
        in.baseVertex = call.baseVertex;
        in.indexOffset = reinterpret_cast<const void*>(std::uintptr_t(call.startIndex) * 2);
      }
      break;
    }
    case DrawRecord::Kind::PrimitiveUP: {
      GLint at = Stream(static_cast<const std::uint8_t*>(call.userVertices), call.vertexCount, call.userStride);
      SetAttributes(layout, streamVbo_, 0, call.userStride);
      in.first = at;
      break;
    }
    case DrawRecord::Kind::IndexedPrimitiveUP: {
      const auto* v = static_cast<const std::uint8_t*>(call.userVertices) + size_t(call.minIndex) * call.userStride;
      // ES draws cannot start below the buffer (see DrawIndexed): keep room for minIndex.
      GLint at = Stream(v, call.numVertices, call.userStride, kGlEs ? call.minIndex : 0);
      SetAttributes(layout, streamVbo_, 0, call.userStride);
      in.attribBuffer = streamVbo_, in.attribStride = call.userStride;
      in.indexed = true;
      in.baseVertex = at - GLint(call.minIndex);
      in.indexOffset = StreamIndexes(static_cast<const std::uint16_t*>(call.userIndices), call.vertexCount);
      break;
    }
  }
  return in;
}

bool GlBackend::Submit(const DrawCall& call, const FvfLayout& layout, const GlDrawInput& in) {
  const GLenum mode = GlPrimitive(call.type);
  if (in.indexed) return DrawIndexed(mode, GLsizei(call.vertexCount), layout, in);
  glDrawArrays(mode, in.first, GLsizei(call.vertexCount));
  return true;
}

#if GX_GLES
// No base-vertex draws on ES: the attributes start baseVertex vertices further instead.
bool GlBackend::DrawIndexed(GLenum mode, GLsizei count, const FvfLayout& layout, const GlDrawInput& in) {
  if (in.baseVertex != 0) {
    std::int64_t base = std::int64_t(in.attribBase) + std::int64_t(in.baseVertex) * in.attribStride;
    if (base < 0) return false;
    SetAttributes(layout, in.attribBuffer, UINT(base), in.attribStride);
  }
  glDrawElements(mode, count, GL_UNSIGNED_SHORT, in.indexOffset);
  return true;
}
#else
bool GlBackend::DrawIndexed(GLenum mode, GLsizei count, const FvfLayout&, const GlDrawInput& in) {
  glDrawElementsBaseVertex(mode, count, GL_UNSIGNED_SHORT, const_cast<void*>(in.indexOffset), in.baseVertex);
  return true;
}
#endif

// A draw that provably changes no pixel is not sent: its state stays dirty for the next one.
bool GlBackend::LeavesTargetUnchanged(const DeviceState& s, const DrawCall& call) {
  auto* target = static_cast<Surface*>(s.renderTarget.get());
  if (!target) return false;
  VertexSpan v;
  switch (call.kind) {
    case DrawRecord::Kind::Primitive:
    case DrawRecord::Kind::IndexedPrimitive: {
      auto* vb = static_cast<VertexBuffer*>(s.streamBuffer.get());
      if (!vb || s.streamStride == 0) return false;
      const std::int64_t first = call.kind == DrawRecord::Kind::Primitive
                                     ? std::int64_t(call.startVertex)
                                     : std::int64_t(call.baseVertex) + call.minIndex;
      const UINT count = call.kind == DrawRecord::Kind::Primitive ? call.vertexCount : call.numVertices;
      const std::int64_t begin = std::int64_t(s.streamOffset) + first * s.streamStride;
      if (first < 0 || begin + std::int64_t(count) * s.streamStride > std::int64_t(vb->store.data.size()))
        return false;
      v = {vb->store.data.data() + begin, s.streamStride, count};
      break;
    }
    case DrawRecord::Kind::PrimitiveUP:
      v = {static_cast<const std::uint8_t*>(call.userVertices), call.userStride, call.vertexCount};
      break;
    case DrawRecord::Kind::IndexedPrimitiveUP:
      v = {static_cast<const std::uint8_t*>(call.userVertices) + size_t(call.minIndex) * call.userStride,
           call.userStride, call.numVertices};
      break;
  }
  return DrawLeavesTargetUnchanged(s, call.type, v, target->desc.Format);
}

void GlBackend::SetAttributes(const FvfLayout& l, GLuint buffer, UINT base, UINT stride) {
  auto& c = gl_->cache;
  auto set = [&](int location, int offset, GLint size, GLenum type, bool normalized) {
    if (offset < 0) {
      c.DisableAttribute(location);
      return;
    }
    c.Attribute(location, GlAttribute{buffer, size, type, GLboolean(normalized), GLsizei(stride),
                                      std::uintptr_t(base) + std::uintptr_t(offset)});
  };
  set(kAttrPosition, l.position, GLint(l.positionFloats), GL_FLOAT, false);
  set(kAttrNormal, l.normal, 3, GL_FLOAT, false);
  set(kAttrDiffuse, l.diffuse, kColorAttributeSize, GL_UNSIGNED_BYTE, true);
  set(kAttrSpecular, l.specular, kColorAttributeSize, GL_UNSIGNED_BYTE, true);
  for (int i = 0; i < 8; ++i)
    set(TexCoordAttribute(i), i < int(l.texCount) ? l.tex[i] : -1, GLint(l.texSize[i]), GL_FLOAT, false);
}

void GlBackend::ApplyRaster(const DeviceState& s) {
  rasterDirty_ = false;
  auto& c = gl_->cache;
  const auto& r = s.render;
  ApplyDepthAndBlend(r);
  c.ColorMask(r[D3DRS_COLORWRITEENABLE] & 0xF);
  ApplyScissor(s);
  ApplyMultisample(r);
  switch (r[D3DRS_CULLMODE]) {
    case D3DCULL_CW: c.Cull(true, GL_FRONT); break;
    case D3DCULL_CCW: c.Cull(true, GL_BACK); break;
    default: c.Cull(false); break;
  }
  c.PolygonMode(r[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE
                : r[D3DRS_FILLMODE] == D3DFILL_POINT   ? GL_POINT
                                                       : GL_FILL);
  ApplyStencil(r);
}

void GlBackend::ApplyDepthAndBlend(const RenderStates& r) {
  auto& c = gl_->cache;
  bool depth = r[D3DRS_ZENABLE] != D3DZB_FALSE && depthAttached_;
  c.DepthTest(depth);
  if (depth) {
    c.DepthFunc(GlCompare(r[D3DRS_ZFUNC]));
    c.DepthMask(r[D3DRS_ZWRITEENABLE] != 0);
  }
  bool blend = r[D3DRS_ALPHABLENDENABLE] != 0;
  c.Blend(blend);
  if (!blend) return;
  DWORD src = r[D3DRS_SRCBLEND], dst = r[D3DRS_DESTBLEND];
  // The "both" factors set source and destination at once.
  if (src == D3DBLEND_BOTHSRCALPHA) src = D3DBLEND_SRCALPHA, dst = D3DBLEND_INVSRCALPHA;
  if (src == D3DBLEND_BOTHINVSRCALPHA) src = D3DBLEND_INVSRCALPHA, dst = D3DBLEND_SRCALPHA;
  DWORD srcA = src, dstA = dst, opA = r[D3DRS_BLENDOP];
  if (r[D3DRS_SEPARATEALPHABLENDENABLE])
    srcA = r[D3DRS_SRCBLENDALPHA], dstA = r[D3DRS_DESTBLENDALPHA], opA = r[D3DRS_BLENDOPALPHA];
  c.BlendFunc(GlBlend(src, false), GlBlend(dst, false), GlBlend(srcA, true), GlBlend(dstA, true));
  c.BlendEquation(GlBlendOp(r[D3DRS_BLENDOP]), GlBlendOp(opA));
  if (src == D3DBLEND_BLENDFACTOR || dst == D3DBLEND_BLENDFACTOR || src == D3DBLEND_INVBLENDFACTOR ||
      dst == D3DBLEND_INVBLENDFACTOR) {
    float f[4];
    ColorOf(r[D3DRS_BLENDFACTOR], f);
    glBlendColor(f[0], f[1], f[2], f[3]);
    ++c.calls.state;
  }
}

#if GX_GLES
// GL ES multisamples whenever the framebuffer has samples: the state cannot be switched off.
void GlBackend::ApplyMultisample(const RenderStates&) {}
#else
void GlBackend::ApplyMultisample(const RenderStates& r) {
  if (!samples_) return;
  const int on = r[D3DRS_MULTISAMPLEANTIALIAS] != 0;
  if (on == multisampleOn_) return;
  if (on)
    glEnable(GL_MULTISAMPLE);
  else
    glDisable(GL_MULTISAMPLE);  // every sample takes the pixel centre's coverage
  multisampleOn_ = on;
  ++gl_->cache.calls.state;
}
#endif

void GlBackend::ApplyStencil(const RenderStates& r) {
  auto& c = gl_->cache;
  bool stencil = r[D3DRS_STENCILENABLE] != 0 && stencilAttached_;
  c.StencilTest(stencil);
  if (!stencil) return;
  GlStencilFace front{GlCompare(r[D3DRS_STENCILFUNC]), GLint(r[D3DRS_STENCILREF] & 0xFF), r[D3DRS_STENCILMASK],
                      GlStencilOp(r[D3DRS_STENCILFAIL]), GlStencilOp(r[D3DRS_STENCILZFAIL]),
                      GlStencilOp(r[D3DRS_STENCILPASS])};
  GlStencilFace back = front;
  if (r[D3DRS_TWOSIDEDSTENCILMODE]) {
    back.func = GlCompare(r[D3DRS_CCW_STENCILFUNC]);
    back.fail = GlStencilOp(r[D3DRS_CCW_STENCILFAIL]);
    back.zfail = GlStencilOp(r[D3DRS_CCW_STENCILZFAIL]);
    back.zpass = GlStencilOp(r[D3DRS_CCW_STENCILPASS]);
  }
  c.Stencil(front, back);
  c.StencilWriteMask(r[D3DRS_STENCILWRITEMASK]);
}

}  // namespace gx
