#pragma once
// The one place that says which OpenGL the gl backend talks to, chosen at build time:
//   - desktop OpenGL 3.3 core through libepoxy (the native build), or
//   - OpenGL ES 3.0 = WebGL 2 (GX_GLES: the browser build, GLES3 headers from emscripten).
// Everything that differs between the two is named here; the backend's few guarded spots use
// these names instead of testing the build themselves.

#include <string>

#if defined(__EMSCRIPTEN__) && !defined(GX_GLES)
#define GX_GLES 1
#endif

#if GX_GLES
#include <GLES3/gl3.h>
#else
#include <epoxy/gl.h>
#endif

namespace gx {

#if GX_GLES
constexpr bool kGlEs = true;
// GL ES 3.0 lacks these desktop names; they are only passed to calls the ES path skips.
#ifndef GL_CLAMP_TO_BORDER
#define GL_CLAMP_TO_BORDER GL_CLAMP_TO_EDGE
#endif
#ifndef GL_BGRA
#define GL_BGRA 0x80E1
#define GL_UNSIGNED_INT_8_8_8_8_REV 0x8367
#define GL_UNSIGNED_SHORT_1_5_5_5_REV 0x8366
#define GL_UNSIGNED_SHORT_4_4_4_4_REV 0x8365
#endif
#ifndef GL_DEPTH_COMPONENT32
#define GL_DEPTH_COMPONENT32 GL_DEPTH_COMPONENT24
#endif
#ifndef GL_LINE
#define GL_LINE 0x1B01
#define GL_POINT 0x1B00
#define GL_FILL 0x1B02
#endif
// Size argument of a D3DCOLOR vertex attribute: desktop GL swaps B and R itself (GL_BGRA); on
// ES the shader does (see glsl_gen.cpp).
constexpr GLint kColorAttributeSize = 4;
inline void glClearDepth(double d) { glClearDepthf(float(d)); }
inline void glDepthRange(double n, double f) { glDepthRangef(float(n), float(f)); }
#else
constexpr bool kGlEs = false;
constexpr GLint kColorAttributeSize = GL_BGRA;
#endif

// The first lines of every GLSL source the layer compiles: the version, and for GLSL ES the
// default precisions (highp throughout, as desktop GLSL computes).
inline const char* GlslPrologue() {
#if GX_GLES
  return "#version 300 es\n"
         "precision highp float;\nprecision highp int;\n"
         "precision highp sampler2D;\nprecision highp samplerCube;\n";
#else
  return "#version 330 core\n";
#endif
}

}  // namespace gx
