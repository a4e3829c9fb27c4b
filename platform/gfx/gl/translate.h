#pragma once
// Direct3D 9 enumerations in GL terms.

#include "platform/gfx/gl/flavour.h"

#include "platform/gfx/d3d9types.h"

namespace gx {

struct GlTextureFormat {
  GLint internal = 0;
  GLenum format = 0, type = 0;
  GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
  // GL ES: no BGRA uploads and no texture swizzle, so the pixels are converted to RGBA8 on the
  // way up (the system copy keeps its Direct3D format).
  bool toRgba8 = false;
};
bool GlFormatOf(D3DFORMAT format, GlTextureFormat& out);

GLenum GlBlend(DWORD blend, bool alpha);
GLenum GlBlendOp(DWORD op);
GLenum GlCompare(DWORD cmp);
GLenum GlStencilOp(DWORD op);
GLenum GlPrimitive(D3DPRIMITIVETYPE type);
GLint GlAddress(DWORD address);
GLint GlMinFilter(DWORD min, DWORD mip);
GLint GlMagFilter(DWORD mag);

}  // namespace gx
