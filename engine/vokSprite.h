#pragma once
// A screen-aligned textured rectangle drawn through the D3DX sprite, tinted and faded by a
// modulating colour. The show uses it for full-screen colour layers: a flat texture the size
// of the screen, faded in and out by its alpha.

#include <cstdint>

#include "engine/vokObject.h"
#include "platform/gfx/d3d9.h"
#include "platform/gfx/d3dx/d3dx9.h"

class TvokD3D;

class TvokSprite : public TvokObject {
 public:
  TvokD3D* D3D = nullptr;  // not owned
  LPDIRECT3DDEVICE9 Device;
  float X = 0.0f;
  float Y = 0.0f;
  D3DCOLOR Color = 0;       // (Alpha shl 24) + RGB
  RECT SourceRect{0, 0, 0, 0};
  uint8_t Alpha = 0;
  int TexWidth = 0;
  int TexHeight = 0;
  uint32_t RGB = 0;         // $00RRGGBB
  bool Visible = false;
  LPD3DXSPRITE Sprite;
  LPDIRECT3DTEXTURE9 Texture;
  uint32_t Flags = 0;       // ID3DXSprite::Begin flags

  explicit TvokSprite(TvokD3D* D3D);
  ~TvokSprite();
  TvokSprite(const TvokSprite&) = delete;
  TvokSprite& operator=(const TvokSprite&) = delete;

  void SetAlpha(uint8_t Value);
  void SetColor(uint32_t Value);
  void SetX(float Value);
  void SetY(float Value);
  // A texture with a full mip chain; the drawn rectangle keeps the size asked for even
  // where the device rounds the texture up.
  void CreateTexture(int Width, int Height, D3DFORMAT Format, LPDIRECT3DTEXTURE9& OutTexture);
  // Every texel of every level one opaque colour; a non-zero byte gives full intensity.
  bool FillTexture(uint8_t R, uint8_t G, uint8_t B);
  void Draw();
};
