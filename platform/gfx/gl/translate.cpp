#include "platform/gfx/gl/translate.h"

namespace gx {

bool GlFormatOf(D3DFORMAT f, GlTextureFormat& o) {
  o = GlTextureFormat{};
  switch (f) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
      o.internal = GL_RGBA8, o.format = GL_BGRA, o.type = GL_UNSIGNED_INT_8_8_8_8_REV;
      break;
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
      o.internal = GL_RGBA8, o.format = GL_RGBA, o.type = GL_UNSIGNED_BYTE;
      break;
    case D3DFMT_R5G6B5:
      o.internal = GL_RGB565, o.format = GL_RGB, o.type = GL_UNSIGNED_SHORT_5_6_5;
      break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      o.internal = GL_RGB5_A1, o.format = GL_BGRA, o.type = GL_UNSIGNED_SHORT_1_5_5_5_REV;
      break;
    case D3DFMT_A4R4G4B4:
      o.internal = GL_RGBA4, o.format = GL_BGRA, o.type = GL_UNSIGNED_SHORT_4_4_4_4_REV;
      break;
    case D3DFMT_A8:
      o.internal = GL_R8, o.format = GL_RED, o.type = GL_UNSIGNED_BYTE;
      o.swizzle[0] = o.swizzle[1] = o.swizzle[2] = GL_ZERO, o.swizzle[3] = GL_RED;
      break;
    case D3DFMT_L8:
      o.internal = GL_R8, o.format = GL_RED, o.type = GL_UNSIGNED_BYTE;
      o.swizzle[0] = o.swizzle[1] = o.swizzle[2] = GL_RED, o.swizzle[3] = GL_ONE;
      break;
    default:
      return false;
  }
  if (kGlEs) {
    o = GlTextureFormat{};  // every format the layer knows, as RGBA8
    o.internal = GL_RGBA8, o.format = GL_RGBA, o.type = GL_UNSIGNED_BYTE;
    o.toRgba8 = f != D3DFMT_A8B8G8R8;
    return true;
  }
  // Formats without alpha read alpha as one, whatever the stored bits say.
  if (f == D3DFMT_X8R8G8B8 || f == D3DFMT_X8B8G8R8 || f == D3DFMT_X1R5G5B5 || f == D3DFMT_R5G6B5)
    o.swizzle[3] = GL_ONE;
  return true;
}

GLenum GlBlend(DWORD b, bool alpha) {
  switch (b) {
    case D3DBLEND_ZERO: return GL_ZERO;
    case D3DBLEND_ONE: return GL_ONE;
    case D3DBLEND_SRCCOLOR: return alpha ? GL_SRC_ALPHA : GL_SRC_COLOR;
    case D3DBLEND_INVSRCCOLOR: return alpha ? GL_ONE_MINUS_SRC_ALPHA : GL_ONE_MINUS_SRC_COLOR;
    case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
    case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
    case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
    case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
    case D3DBLEND_DESTCOLOR: return alpha ? GL_DST_ALPHA : GL_DST_COLOR;
    case D3DBLEND_INVDESTCOLOR: return alpha ? GL_ONE_MINUS_DST_ALPHA : GL_ONE_MINUS_DST_COLOR;
    case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
    case D3DBLEND_BLENDFACTOR: return alpha ? GL_CONSTANT_ALPHA : GL_CONSTANT_COLOR;
    case D3DBLEND_INVBLENDFACTOR: return alpha ? GL_ONE_MINUS_CONSTANT_ALPHA : GL_ONE_MINUS_CONSTANT_COLOR;
    default: return GL_ONE;
  }
}

GLenum GlBlendOp(DWORD op) {
  switch (op) {
    case D3DBLENDOP_SUBTRACT: return GL_FUNC_SUBTRACT;
    case D3DBLENDOP_REVSUBTRACT: return GL_FUNC_REVERSE_SUBTRACT;
    case D3DBLENDOP_MIN: return GL_MIN;
    case D3DBLENDOP_MAX: return GL_MAX;
    default: return GL_FUNC_ADD;
  }
}

GLenum GlCompare(DWORD c) {
  switch (c) {
    case D3DCMP_NEVER: return GL_NEVER;
    case D3DCMP_LESS: return GL_LESS;
    case D3DCMP_EQUAL: return GL_EQUAL;
    case D3DCMP_LESSEQUAL: return GL_LEQUAL;
    case D3DCMP_GREATER: return GL_GREATER;
    case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
    case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
    default: return GL_ALWAYS;
  }
}

GLenum GlStencilOp(DWORD op) {
  switch (op) {
    case D3DSTENCILOP_ZERO: return GL_ZERO;
    case D3DSTENCILOP_REPLACE: return GL_REPLACE;
    case D3DSTENCILOP_INCRSAT: return GL_INCR;
    case D3DSTENCILOP_DECRSAT: return GL_DECR;
    case D3DSTENCILOP_INVERT: return GL_INVERT;
    case D3DSTENCILOP_INCR: return GL_INCR_WRAP;
    case D3DSTENCILOP_DECR: return GL_DECR_WRAP;
    default: return GL_KEEP;
  }
}

GLenum GlPrimitive(D3DPRIMITIVETYPE t) {
  switch (t) {
    case D3DPT_POINTLIST: return GL_POINTS;
    case D3DPT_LINELIST: return GL_LINES;
    case D3DPT_LINESTRIP: return GL_LINE_STRIP;
    case D3DPT_TRIANGLESTRIP: return GL_TRIANGLE_STRIP;
    case D3DPT_TRIANGLEFAN: return GL_TRIANGLE_FAN;
    default: return GL_TRIANGLES;
  }
}

GLint GlAddress(DWORD a) {
  switch (a) {
    case D3DTADDRESS_MIRROR: return GL_MIRRORED_REPEAT;
    case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
    case D3DTADDRESS_BORDER: return GL_CLAMP_TO_BORDER;
    case D3DTADDRESS_MIRRORONCE: return GL_MIRRORED_REPEAT;
    default: return GL_REPEAT;
  }
}

GLint GlMinFilter(DWORD min, DWORD mip) {
  bool linear = min == D3DTEXF_LINEAR || min == D3DTEXF_ANISOTROPIC;
  switch (mip) {
    case D3DTEXF_POINT: return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
    case D3DTEXF_LINEAR:
    case D3DTEXF_ANISOTROPIC: return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    default: return linear ? GL_LINEAR : GL_NEAREST;
  }
}

GLint GlMagFilter(DWORD mag) { return mag == D3DTEXF_LINEAR || mag == D3DTEXF_ANISOTROPIC ? GL_LINEAR : GL_NEAREST; }

}  // namespace gx
