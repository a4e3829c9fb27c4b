#include "engine/vokSprite.h"

#include "engine/vokD3D.h"

namespace {

// The fill colour handed to the fill callback, kept as Singles. The bytes go in unscaled:
// the conversion to the texture format clamps them, so any non-zero byte is full intensity.
float FillR = 0.0f, FillG = 0.0f, FillB = 0.0f;

void FillCallback(D3DXVECTOR4* Out, const D3DXVECTOR2* /*TexCoord*/, const D3DXVECTOR2* /*TexelSize*/,
                  void* /*Data*/) {
  Out->x = FillR;
  Out->y = FillG;
  Out->z = FillB;
  Out->w = 255.0f;
}

}  // namespace

TvokSprite::TvokSprite(TvokD3D* D3D) : D3D(D3D), Device(D3D->Device) {
  SetAlpha(255);
  SetColor(0xFFFFFF);
  SetX(0);
  SetY(0);
  Flags = D3DXSPRITE_ALPHABLEND | D3DXSPRITE_SORT_DEPTH_BACKTOFRONT;  // $90
  Visible = true;
  if (!Device || FAILED(D3DXCreateSprite(Device, Sprite))) {
    Sprite.reset();
    SetError("Sprite create error.");
  }
}

TvokSprite::~TvokSprite() {
  Sprite.reset();
  Texture.reset();
}

void TvokSprite::SetAlpha(uint8_t Value) {
  if (Value == Alpha) return;
  Alpha = Value;
  Color = (static_cast<uint32_t>(Value) << 24) + RGB;
}

void TvokSprite::SetColor(uint32_t Value) {
  if (Value == RGB) return;
  RGB = Value;
  Color = (static_cast<uint32_t>(Alpha) << 24) + Value;
}

void TvokSprite::SetX(float Value) {
  if (Value != X) X = Value;
}

void TvokSprite::SetY(float Value) {
  if (Value != Y) Y = Value;
}

void TvokSprite::CreateTexture(int Width, int Height, D3DFORMAT Format, LPDIRECT3DTEXTURE9& OutTexture) {
  Texture.reset();
  if (!Device || Width <= 0 || Height <= 0 ||
      FAILED(D3DXCreateTexture(Device, Width, Height, D3DX_DEFAULT, 0, Format, D3DPOOL_DEFAULT, Texture)) ||
      !Texture) {
    Texture.reset();
    OutTexture.reset();
    SetError("Sprite load texture from file error.");
    return;
  }
  OutTexture = Texture;
  TexWidth = Width;
  TexHeight = Height;
  SourceRect = RECT{0, 0, Width, Height};
}

bool TvokSprite::FillTexture(uint8_t R, uint8_t G, uint8_t B) {
  FillR = R;
  FillG = G;
  FillB = B;
  if (!Texture || FAILED(D3DXFillTexture(Texture, FillCallback, nullptr))) {
    SetError("Sprite fill texture error.");
    return false;
  }
  return true;
}

void TvokSprite::Draw() {
  if (!Visible) return;
  // Nothing to draw with: no sprite object, or no texture (which would draw the colour as a
  // solid sheet instead of the layer).
  if (!Sprite || !Texture) return;
  Sprite->Begin(Flags);
  const D3DXVECTOR3 Position{X, Y, 0.0f};
  Sprite->Draw(Texture, &SourceRect, nullptr, &Position, Color);
  Sprite->End();
}
