#pragma once
// Direct3D 9 enumerations in GL terms.

#include <epoxy/gl.h>

#include "platform/gfx/d3d9types.h"

namespace vkgfx {

struct GlTextureFormat {
  GLint internal = 0;
  GLenum format = 0, type = 0;
  GLint swizzle[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};
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

}  // namespace vkgfx
