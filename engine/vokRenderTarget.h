#pragma once
// Textured rectangles in screen coordinates: a render target the frame can be drawn into
// and then put on the screen, and a plane that shows a texture somebody else owns.

#include <cstdint>

#include "engine/vokObject.h"
#include "platform/gfx/d3d9.h"

class TvokD3D;

// Pre-transformed vertex of every full-screen quad (FVF XYZRHW | TEX1, 24 bytes).
struct TScreenVertex {
  float x, y, z, rhw;
  float u, v;
};
static_assert(sizeof(TScreenVertex) == 24);

constexpr DWORD ScreenVertexFVF = D3DFVF_XYZRHW | D3DFVF_TEX1;  // $104

// The four corners in triangle-strip order: top-left, top-right, bottom-left, bottom-right.
using TScreenQuad = TScreenVertex[4];

void SetQuadTexCoords(TScreenQuad& Vertices, float U0, float V0, float U1, float V1);
// The far edges lie on Left + Width - 1 and Top + Height - 1: a 640 x 480 rectangle spans
// pixel x 0..639 and y 0..479.
void SetQuadRect(TScreenQuad& Vertices, int Left, int Top, int Width, int Height);
// Stretches a quad over every pixel and every sample of a ScreenWidth x ScreenHeight target:
// the corners move out to the outer edges of the pixel area (pixel centres lie on whole
// coordinates, so -0.5 and ScreenWidth - 0.5), and the texture coordinates follow the quad's
// own linear mapping, so the pixels it covered before show what they showed.
void CoverQuadOverScreen(TScreenQuad& Vertices, int ScreenWidth, int ScreenHeight);

class TvokRenderTarget : public TvokObject {
 public:
  TvokD3D* D3D = nullptr;  // not owned
  LPDIRECT3DSURFACE9 SavedTarget;
  int Width = 0;
  int Height = 0;
  TScreenQuad Vertices{};
  LPDIRECT3DSURFACE9 Surface;
  LPDIRECT3DTEXTURE9 Texture;  // nil when the device could not make it; the target then stays unused

  // A Width x Height texture in the back buffer's format, cleared to transparent black; the
  // quad covers the device wrapper's screen whatever the texture size.
  TvokRenderTarget(TvokD3D* D3D, int Width, int Height);
  ~TvokRenderTarget();
  TvokRenderTarget(const TvokRenderTarget&) = delete;
  TvokRenderTarget& operator=(const TvokRenderTarget&) = delete;

  void SetTexCoords(float U0, float V0, float U1, float V1);
  void SetRect(int Left, int Top, int Width, int Height);
  // The quad as set now, stretched over the whole screen (CoverQuadOverScreen); Draw then
  // clamps the texture at its borders, so the outermost pixels repeat the picture's edge
  // instead of wrapping round to the opposite side.
  void CoverScreen();
  bool CoversScreen = false;
  // Everything drawn from here to EndRender goes into Texture. The depth buffer stays the
  // device's own, as large as the screen.
  HRESULT BeginRender();
  HRESULT EndRender();
  // The texture as a quad on the current target, with only the texture, vertex format and
  // cull mode set; blending, depth and stage states are the caller's.
  HRESULT Draw();
};

class TvokScreenPlane : public TvokObject {
 public:
  TvokD3D* D3D = nullptr;  // not owned
  TScreenQuad Vertices{};
  LPDIRECT3DTEXTURE9 Texture;  // one reference held while the plane lives

  TvokScreenPlane(TvokD3D* D3D, LPDIRECT3DTEXTURE9 Texture);
  ~TvokScreenPlane();
  TvokScreenPlane(const TvokScreenPlane&) = delete;
  TvokScreenPlane& operator=(const TvokScreenPlane&) = delete;

  void SetTexCoords(float U0, float V0, float U1, float V1);
  void SetRect(int Left, int Top, int Width, int Height);
  // As TvokRenderTarget::CoverScreen.
  void CoverScreen();
  bool CoversScreen = false;
  HRESULT Draw();
};
