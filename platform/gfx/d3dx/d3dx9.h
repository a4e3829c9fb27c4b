#pragma once
// The D3DX 9 subset the program uses: vector and matrix helpers, textures from
// image files in memory, texture filling, the sprite, the font, the shader
// compiler with its constant table, effects and render-to-surface.
//
// Names, argument order and results follow D3DX 9. Counted interfaces are
// std::shared_ptr as in d3d9.h; out-parameters exist both as T& and as T*
// (a null pointer meaning "not wanted") so code written either way reads well.
// Shaders and effects are GLSL based: docs/effect-format.md describes both
// source dialects.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/gfx/d3d9.h"

using LPVOID = void*;
using LPCVOID = const void*;
using VOID = void;

// A handle is either a name or a pointer the object returned earlier; the
// object compares pointers first, then names, as D3DX does.
using D3DXHANDLE = const char*;

constexpr UINT D3DX_DEFAULT = 0xFFFFFFFFu;
constexpr UINT D3DX_DEFAULT_NONPOW2 = 0xFFFFFFFEu;
constexpr UINT D3DX_FROM_FILE = 0xFFFFFFFDu;
constexpr D3DFORMAT D3DFMT_FROM_FILE = static_cast<D3DFORMAT>(0xFFFFFFFDu);

constexpr DWORD D3DX_FILTER_NONE = 1;
constexpr DWORD D3DX_FILTER_POINT = 2;
constexpr DWORD D3DX_FILTER_LINEAR = 3;
constexpr DWORD D3DX_FILTER_TRIANGLE = 4;
constexpr DWORD D3DX_FILTER_BOX = 5;

constexpr HRESULT D3DXERR_INVALIDDATA = MAKE_D3DHRESULT(2905);
constexpr HRESULT D3DXERR_INVALIDMESH = MAKE_D3DHRESULT(2900);

// ===========================================================================
// Math (row vectors, left-handed, single precision; D3DX 9 formulas)

struct D3DXVECTOR2 {
  float x = 0, y = 0;
  D3DXVECTOR2() = default;
  D3DXVECTOR2(float x_, float y_) : x(x_), y(y_) {}
  D3DXVECTOR2 operator+(const D3DXVECTOR2& v) const { return {x + v.x, y + v.y}; }
  D3DXVECTOR2 operator-(const D3DXVECTOR2& v) const { return {x - v.x, y - v.y}; }
  D3DXVECTOR2 operator*(float s) const { return {x * s, y * s}; }
  bool operator==(const D3DXVECTOR2& v) const { return x == v.x && y == v.y; }
};

struct D3DXVECTOR3 : D3DVECTOR {
  D3DXVECTOR3() : D3DVECTOR{0, 0, 0} {}
  D3DXVECTOR3(float x_, float y_, float z_) : D3DVECTOR{x_, y_, z_} {}
  D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}  // NOLINT: implicit like D3DX
  D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) { x += v.x; y += v.y; z += v.z; return *this; }
  D3DXVECTOR3& operator-=(const D3DXVECTOR3& v) { x -= v.x; y -= v.y; z -= v.z; return *this; }
  D3DXVECTOR3& operator*=(float s) { x *= s; y *= s; z *= s; return *this; }
  D3DXVECTOR3& operator/=(float s) { float r = 1.0f / s; x *= r; y *= r; z *= r; return *this; }
  D3DXVECTOR3 operator-() const { return {-x, -y, -z}; }
  D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return {x + v.x, y + v.y, z + v.z}; }
  D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return {x - v.x, y - v.y, z - v.z}; }
  D3DXVECTOR3 operator*(float s) const { return {x * s, y * s, z * s}; }
  D3DXVECTOR3 operator/(float s) const { float r = 1.0f / s; return {x * r, y * r, z * r}; }
  friend D3DXVECTOR3 operator*(float s, const D3DXVECTOR3& v) { return v * s; }
  bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
};

struct D3DXVECTOR4 {
  float x = 0, y = 0, z = 0, w = 0;
  D3DXVECTOR4() = default;
  D3DXVECTOR4(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  D3DXVECTOR4(const D3DVECTOR& v, float w_) : x(v.x), y(v.y), z(v.z), w(w_) {}
  D3DXVECTOR4 operator+(const D3DXVECTOR4& v) const { return {x + v.x, y + v.y, z + v.z, w + v.w}; }
  D3DXVECTOR4 operator-(const D3DXVECTOR4& v) const { return {x - v.x, y - v.y, z - v.z, w - v.w}; }
  D3DXVECTOR4 operator*(float s) const { return {x * s, y * s, z * s, w * s}; }
  bool operator==(const D3DXVECTOR4& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
};

struct D3DXQUATERNION {
  float x = 0, y = 0, z = 0, w = 0;
  D3DXQUATERNION() = default;
  D3DXQUATERNION(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}
  bool operator==(const D3DXQUATERNION& q) const { return x == q.x && y == q.y && z == q.z && w == q.w; }
};

struct D3DXMATRIX : D3DMATRIX {
  D3DXMATRIX() : D3DMATRIX{} {}
  D3DXMATRIX(const D3DMATRIX& m) : D3DMATRIX(m) {}  // NOLINT: implicit like D3DX
  explicit D3DXMATRIX(const float* f);
  D3DXMATRIX(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24,
             float f31, float f32, float f33, float f34, float f41, float f42, float f43, float f44);
  float& operator()(UINT row, UINT col) { return m[row][col]; }
  float operator()(UINT row, UINT col) const { return m[row][col]; }
  operator float*() { return &_11; }
  operator const float*() const { return &_11; }
  D3DXMATRIX& operator*=(const D3DXMATRIX& b);
  D3DXMATRIX operator*(const D3DXMATRIX& b) const;  // this acts first, as D3DXMatrixMultiply(this, b)
  bool operator==(const D3DXMATRIX& b) const;
  bool operator!=(const D3DXMATRIX& b) const { return !(*this == b); }
};

// A colour with float channels, convertible to and from D3DCOLOR (ARGB).
struct D3DXCOLOR {
  float r = 0, g = 0, b = 0, a = 0;
  D3DXCOLOR() = default;
  D3DXCOLOR(float r_, float g_, float b_, float a_) : r(r_), g(g_), b(b_), a(a_) {}
  explicit D3DXCOLOR(D3DCOLOR argb);
  operator D3DCOLOR() const;  // clamps each channel to 0..1
};

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
BOOL D3DXMatrixIsIdentity(const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* a, const D3DXMATRIX* b);
D3DXMATRIX* D3DXMatrixTranspose(D3DXMATRIX* out, const D3DXMATRIX* m);
float D3DXMatrixDeterminant(const D3DXMATRIX* m);
// Null (and out untouched) when the matrix is singular.
D3DXMATRIX* D3DXMatrixInverse(D3DXMATRIX* out, float* determinant, const D3DXMATRIX* m);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixScaling(D3DXMATRIX* out, float sx, float sy, float sz);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationAxis(D3DXMATRIX* out, const D3DXVECTOR3* axis, float angle);
D3DXMATRIX* D3DXMatrixRotationYawPitchRoll(D3DXMATRIX* out, float yaw, float pitch, float roll);
D3DXMATRIX* D3DXMatrixRotationQuaternion(D3DXMATRIX* out, const D3DXQUATERNION* q);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixLookAtRH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at,
                               const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);
D3DXMATRIX* D3DXMatrixPerspectiveFovRH(D3DXMATRIX* out, float fovy, float aspect, float zn, float zf);
D3DXMATRIX* D3DXMatrixOrthoLH(D3DXMATRIX* out, float w, float h, float zn, float zf);
D3DXMATRIX* D3DXMatrixOrthoRH(D3DXMATRIX* out, float w, float h, float zn, float zf);
D3DXMATRIX* D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* out, float l, float r, float b, float t, float zn, float zf);

D3DXQUATERNION* D3DXQuaternionIdentity(D3DXQUATERNION* out);
D3DXQUATERNION* D3DXQuaternionRotationYawPitchRoll(D3DXQUATERNION* out, float yaw, float pitch, float roll);
D3DXQUATERNION* D3DXQuaternionRotationAxis(D3DXQUATERNION* out, const D3DXVECTOR3* axis, float angle);
D3DXQUATERNION* D3DXQuaternionNormalize(D3DXQUATERNION* out, const D3DXQUATERNION* q);
// a acts first: the product is the rotation a followed by b.
D3DXQUATERNION* D3DXQuaternionMultiply(D3DXQUATERNION* out, const D3DXQUATERNION* a, const D3DXQUATERNION* b);

float D3DXVec2Length(const D3DXVECTOR2* v);
D3DXVECTOR2* D3DXVec2Normalize(D3DXVECTOR2* out, const D3DXVECTOR2* v);
float D3DXVec3Length(const D3DXVECTOR3* v);
float D3DXVec3LengthSq(const D3DXVECTOR3* v);
float D3DXVec3Dot(const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Cross(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Add(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Subtract(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b);
D3DXVECTOR3* D3DXVec3Scale(D3DXVECTOR3* out, const D3DXVECTOR3* v, float s);
D3DXVECTOR3* D3DXVec3Lerp(D3DXVECTOR3* out, const D3DXVECTOR3* a, const D3DXVECTOR3* b, float s);
// A zero vector stays zero.
D3DXVECTOR3* D3DXVec3Normalize(D3DXVECTOR3* out, const D3DXVECTOR3* v);
// (x, y, z, 1) · M divided by the resulting w.
D3DXVECTOR3* D3DXVec3TransformCoord(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 0) · M.
D3DXVECTOR3* D3DXVec3TransformNormal(D3DXVECTOR3* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
// (x, y, z, 1) · M.
D3DXVECTOR4* D3DXVec3Transform(D3DXVECTOR4* out, const D3DXVECTOR3* v, const D3DXMATRIX* m);
D3DXVECTOR4* D3DXVec4Transform(D3DXVECTOR4* out, const D3DXVECTOR4* v, const D3DXMATRIX* m);
float D3DXVec4Dot(const D3DXVECTOR4* a, const D3DXVECTOR4* b);

// ===========================================================================
// Textures

enum D3DXIMAGE_FILEFORMAT : DWORD {
  D3DXIFF_BMP = 0,
  D3DXIFF_JPG = 1,
  D3DXIFF_TGA = 2,
  D3DXIFF_PNG = 3,
  D3DXIFF_DDS = 4,
};

struct D3DXIMAGE_INFO {
  UINT Width;
  UINT Height;
  UINT Depth;
  UINT MipLevels;
  D3DFORMAT Format;
  D3DRESOURCETYPE ResourceType;
  D3DXIMAGE_FILEFORMAT ImageFileFormat;
};

// Reads only the header: size, format the file would load as, kind.
HRESULT D3DXGetImageInfoFromFileInMemory(LPCVOID data, UINT size, D3DXIMAGE_INFO* info);

// width/height/levels D3DX_DEFAULT: the device-supported size nearest the request and
// a full mip chain. Format D3DFMT_UNKNOWN means A8R8G8B8.
HRESULT D3DXCreateTexture(const LPDIRECT3DDEVICE9& device, UINT width, UINT height, UINT mipLevels,
                          DWORD usage, D3DFORMAT format, D3DPOOL pool, LPDIRECT3DTEXTURE9& texture);

// BMP (8-bit palettised, 24 and 32 bit, either row order), JPEG, PNG and 2D DDS.
// Full mip chain (box filtered), managed pool, A8R8G8B8 for images with alpha
// else X8R8G8B8. Malformed data: D3DXERR_INVALIDDATA, texture left null.
HRESULT D3DXCreateTextureFromFileInMemory(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                          LPDIRECT3DTEXTURE9& texture);
// Width/Height: D3DX_DEFAULT (rounded up to powers of two when the device needs it),
// D3DX_DEFAULT_NONPOW2 or D3DX_FROM_FILE (the image's size), or a size to scale to.
// MipLevels: D3DX_DEFAULT or 0 for a full chain, D3DX_FROM_FILE, or a count.
// Format: D3DFMT_UNKNOWN / D3DFMT_FROM_FILE or A8R8G8B8 / X8R8G8B8 / R5G6B5 / X1R5G5B5 /
// A1R5G5B5 / A4R4G4B4. colorKey (ARGB, 0 = none) makes matching texels transparent black.
HRESULT D3DXCreateTextureFromFileInMemoryEx(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                            UINT width, UINT height, UINT mipLevels, DWORD usage,
                                            D3DFORMAT format, D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                            D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo, void* palette,
                                            LPDIRECT3DTEXTURE9& texture);

// DDS cube maps, uncompressed (A8R8G8B8, X8R8G8B8, R8G8B8 and other RGB bit masks),
// six faces, with or without mip levels (missing levels are generated).
HRESULT D3DXCreateCubeTextureFromFileInMemory(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                              LPDIRECT3DCUBETEXTURE9& texture);

using LPD3DXFILL2D = void (*)(D3DXVECTOR4* out, const D3DXVECTOR2* texCoord, const D3DXVECTOR2* texelSize,
                              LPVOID data);
// Calls the function at the centre of every texel of every level; each component
// of the result is clamped to 0..1 before conversion to the texture's format.
HRESULT D3DXFillTexture(const LPDIRECT3DTEXTURE9& texture, LPD3DXFILL2D function, LPVOID data);

// ===========================================================================
// Sprite

constexpr DWORD D3DXSPRITE_DONOTSAVESTATE = 1u << 0;
constexpr DWORD D3DXSPRITE_DONOTMODIFY_RENDERSTATE = 1u << 1;
constexpr DWORD D3DXSPRITE_OBJECTSPACE = 1u << 2;
constexpr DWORD D3DXSPRITE_BILLBOARD = 1u << 3;
constexpr DWORD D3DXSPRITE_ALPHABLEND = 1u << 4;
constexpr DWORD D3DXSPRITE_SORT_TEXTURE = 1u << 5;
constexpr DWORD D3DXSPRITE_SORT_DEPTH_FRONTTOBACK = 1u << 6;
constexpr DWORD D3DXSPRITE_SORT_DEPTH_BACKTOFRONT = 1u << 7;

class ID3DXSprite {
 public:
  virtual ~ID3DXSprite() = default;
  virtual HRESULT GetDevice(LPDIRECT3DDEVICE9& device) = 0;
  // The sprite transform, applied to each sprite's screen position (identity at start).
  virtual HRESULT GetTransform(D3DXMATRIX* transform) = 0;
  virtual HRESULT SetTransform(const D3DXMATRIX* transform) = 0;
  virtual HRESULT Begin(DWORD flags) = 0;
  // source null: the whole texture; center null: (0, 0, 0); position null: (0, 0, 0).
  // The texel colour is multiplied by color.
  virtual HRESULT Draw(const LPDIRECT3DTEXTURE9& texture, const RECT* source, const D3DXVECTOR3* center,
                       const D3DXVECTOR3* position, D3DCOLOR color) = 0;
  virtual HRESULT Flush() = 0;
  virtual HRESULT End() = 0;
  virtual HRESULT OnLostDevice() = 0;
  virtual HRESULT OnResetDevice() = 0;
};
using LPD3DXSPRITE = std::shared_ptr<ID3DXSprite>;

HRESULT D3DXCreateSprite(const LPDIRECT3DDEVICE9& device, LPD3DXSPRITE& sprite);
inline HRESULT D3DXCreateSprite(const LPDIRECT3DDEVICE9& device, LPD3DXSPRITE* sprite) {
  return sprite ? D3DXCreateSprite(device, *sprite) : D3DERR_INVALIDCALL;
}

// ===========================================================================
// Font

constexpr DWORD DT_TOP = 0x00000000;
constexpr DWORD DT_LEFT = 0x00000000;
constexpr DWORD DT_CENTER = 0x00000001;
constexpr DWORD DT_RIGHT = 0x00000002;
constexpr DWORD DT_VCENTER = 0x00000004;
constexpr DWORD DT_BOTTOM = 0x00000008;
constexpr DWORD DT_WORDBREAK = 0x00000010;
constexpr DWORD DT_SINGLELINE = 0x00000020;
constexpr DWORD DT_EXPANDTABS = 0x00000040;
constexpr DWORD DT_NOCLIP = 0x00000100;
constexpr DWORD DT_CALCRECT = 0x00000400;

constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE OUT_OUTLINE_PRECIS = 8;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE ANTIALIASED_QUALITY = 4;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr UINT FW_DONTCARE = 0;
constexpr UINT FW_NORMAL = 400;
constexpr UINT FW_BOLD = 700;

struct D3DXFONT_DESCA {
  INT Height;  // cell height in pixels; negative: character height
  UINT Width;
  UINT Weight;
  UINT MipLevels;
  BOOL Italic;
  BYTE CharSet;
  BYTE OutputPrecision;
  BYTE Quality;
  BYTE PitchAndFamily;
  char FaceName[32];
};
using D3DXFONT_DESC = D3DXFONT_DESCA;

class ID3DXFont {
 public:
  virtual ~ID3DXFont() = default;
  virtual HRESULT GetDevice(LPDIRECT3DDEVICE9& device) = 0;
  virtual HRESULT GetDescA(D3DXFONT_DESCA* desc) = 0;
  // Draws (or with DT_CALCRECT measures) the text; count -1: up to the NUL.
  // Without a sprite the font draws through one of its own, saving and
  // restoring the device state it touches. Returns the text height in pixels, 0 on failure.
  virtual INT DrawTextA(const LPD3DXSPRITE& sprite, LPCSTR text, INT count, RECT* rect, DWORD format,
                        D3DCOLOR color) = 0;
  virtual HRESULT PreloadTextA(LPCSTR text, INT count) = 0;
  virtual HRESULT OnLostDevice() = 0;
  virtual HRESULT OnResetDevice() = 0;
  INT DrawText(const LPD3DXSPRITE& sprite, LPCSTR text, INT count, RECT* rect, DWORD format, D3DCOLOR color) {
    return DrawTextA(sprite, text, count, rect, format, color);
  }
};
using LPD3DXFONT = std::shared_ptr<ID3DXFont>;

// Any face name maps to the system's sans face (fontconfig). Fails when no face is found.
HRESULT D3DXCreateFontIndirectA(const LPDIRECT3DDEVICE9& device, const D3DXFONT_DESCA* desc, LPD3DXFONT& font);
inline HRESULT D3DXCreateFontIndirectA(const LPDIRECT3DDEVICE9& device, const D3DXFONT_DESCA* desc,
                                       LPD3DXFONT* font) {
  return font ? D3DXCreateFontIndirectA(device, desc, *font) : D3DERR_INVALIDCALL;
}
inline HRESULT D3DXCreateFontIndirect(const LPDIRECT3DDEVICE9& device, const D3DXFONT_DESCA* desc,
                                      LPD3DXFONT& font) {
  return D3DXCreateFontIndirectA(device, desc, font);
}

// ===========================================================================
// Buffers, shader compiler and constant table

class ID3DXBuffer {
 public:
  virtual ~ID3DXBuffer() = default;
  virtual LPVOID GetBufferPointer() = 0;
  virtual DWORD GetBufferSize() = 0;
};
using LPD3DXBUFFER = std::shared_ptr<ID3DXBuffer>;
HRESULT D3DXCreateBuffer(DWORD size, LPD3DXBUFFER& buffer);

struct D3DXMACRO {
  LPCSTR Name;
  LPCSTR Definition;
};

// Include handlers are accepted for signature's sake; "#include" is not supported.
class ID3DXInclude;
using LPD3DXINCLUDE = ID3DXInclude*;

enum D3DXREGISTER_SET : DWORD { D3DXRS_BOOL = 0, D3DXRS_INT4 = 1, D3DXRS_FLOAT4 = 2, D3DXRS_SAMPLER = 3 };
enum D3DXPARAMETER_CLASS : DWORD {
  D3DXPC_SCALAR = 0,
  D3DXPC_VECTOR = 1,
  D3DXPC_MATRIX_ROWS = 2,
  D3DXPC_MATRIX_COLUMNS = 3,
  D3DXPC_OBJECT = 4,
  D3DXPC_STRUCT = 5,
};
enum D3DXPARAMETER_TYPE : DWORD {
  D3DXPT_VOID = 0,
  D3DXPT_BOOL = 1,
  D3DXPT_INT = 2,
  D3DXPT_FLOAT = 3,
  D3DXPT_STRING = 4,
  D3DXPT_TEXTURE = 5,
  D3DXPT_TEXTURE1D = 6,
  D3DXPT_TEXTURE2D = 7,
  D3DXPT_TEXTURE3D = 8,
  D3DXPT_TEXTURECUBE = 9,
  D3DXPT_SAMPLER = 10,
  D3DXPT_SAMPLER1D = 11,
  D3DXPT_SAMPLER2D = 12,
  D3DXPT_SAMPLER3D = 13,
  D3DXPT_SAMPLERCUBE = 14,
  D3DXPT_PIXELSHADER = 15,
  D3DXPT_VERTEXSHADER = 16,
};

struct D3DXCONSTANTTABLE_DESC {
  LPCSTR Creator;
  DWORD Version;
  UINT Constants;
};

struct D3DXCONSTANT_DESC {
  LPCSTR Name;
  D3DXREGISTER_SET RegisterSet;
  UINT RegisterIndex;
  UINT RegisterCount;
  D3DXPARAMETER_CLASS Class;
  D3DXPARAMETER_TYPE Type;
  UINT Rows;
  UINT Columns;
  UINT Elements;
  UINT StructMembers;
  UINT Bytes;
  LPCVOID DefaultValue;
};

// The constants (uniforms) of one compiled shader. Values set here become the
// given device's shader constants of the table's stage (as Direct3D 9's tables set
// constant registers): they stay in force across shader switches and reach every
// shader of that stage declaring the name. Unknown names, and a null device, fail
// with D3DERR_INVALIDCALL and change nothing.
class ID3DXConstantTable {
 public:
  virtual ~ID3DXConstantTable() = default;
  virtual HRESULT GetDesc(D3DXCONSTANTTABLE_DESC* desc) = 0;
  virtual D3DXHANDLE GetConstant(D3DXHANDLE parent, UINT index) = 0;
  virtual D3DXHANDLE GetConstantByName(D3DXHANDLE parent, LPCSTR name) = 0;
  virtual HRESULT GetConstantDesc(D3DXHANDLE constant, D3DXCONSTANT_DESC* desc, UINT* count) = 0;
  virtual HRESULT SetDefaults(const LPDIRECT3DDEVICE9& device) = 0;
  virtual HRESULT SetFloat(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, float value) = 0;
  virtual HRESULT SetFloatArray(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, const float* values,
                                UINT count) = 0;
  virtual HRESULT SetInt(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, INT value) = 0;
  virtual HRESULT SetIntArray(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, const INT* values,
                              UINT count) = 0;
  virtual HRESULT SetBool(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, BOOL value) = 0;
  virtual HRESULT SetVector(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, const D3DXVECTOR4* value) = 0;
  virtual HRESULT SetMatrix(const LPDIRECT3DDEVICE9& device, D3DXHANDLE constant, const D3DMATRIX* value) = 0;
};
using LPD3DXCONSTANTTABLE = std::shared_ptr<ID3DXConstantTable>;

constexpr DWORD D3DXSHADER_DEBUG = 1u << 0;
constexpr DWORD D3DXSHADER_SKIPVALIDATION = 1u << 1;
constexpr DWORD D3DXSHADER_SKIPOPTIMIZATION = 1u << 2;

// Compiles a GLSL-flavoured shader (docs/effect-format.md) whose entry point is the
// function named `function`. Profiles: ps_2_0 and up (pixel), vs_2_0 and up (vertex).
// The code buffer holds the complete NUL-terminated GLSL 330 source that
// CreatePixelShader / CreateVertexShader take. errors (optional) receives the
// messages; constantTable (optional) the table of the source's uniforms.
HRESULT D3DXCompileShader(LPCSTR source, UINT sourceLength, const D3DXMACRO* defines, LPD3DXINCLUDE include,
                          LPCSTR function, LPCSTR profile, DWORD flags, LPD3DXBUFFER* shader,
                          LPD3DXBUFFER* errors, LPD3DXCONSTANTTABLE* constantTable);
inline HRESULT D3DXCompileShader(LPCSTR source, UINT sourceLength, const D3DXMACRO* defines,
                                 LPD3DXINCLUDE include, LPCSTR function, LPCSTR profile, DWORD flags,
                                 LPD3DXBUFFER& shader, LPD3DXBUFFER* errors, LPD3DXCONSTANTTABLE& constantTable) {
  return D3DXCompileShader(source, sourceLength, defines, include, function, profile, flags, &shader, errors,
                           &constantTable);
}

// ===========================================================================
// Effects (text format of our own: docs/effect-format.md)

constexpr DWORD D3DXFX_DONOTSAVESTATE = 1u << 0;
constexpr DWORD D3DXFX_DONOTSAVESHADERSTATE = 1u << 1;
constexpr DWORD D3DXFX_DONOTSAVESAMPLERSTATE = 1u << 2;

struct D3DXEFFECT_DESC {
  LPCSTR Creator;
  UINT Parameters;
  UINT Techniques;
  UINT Functions;
};

struct D3DXTECHNIQUE_DESC {
  LPCSTR Name;
  UINT Passes;
  UINT Annotations;
};

struct D3DXPASS_DESC {
  LPCSTR Name;
  UINT Annotations;
  const DWORD* pVertexShaderFunction;
  const DWORD* pPixelShaderFunction;
};

struct D3DXPARAMETER_DESC {
  LPCSTR Name;
  LPCSTR Semantic;
  D3DXPARAMETER_CLASS Class;
  D3DXPARAMETER_TYPE Type;
  UINT Rows;
  UINT Columns;
  UINT Elements;
  UINT Annotations;
  UINT StructMembers;
  DWORD Flags;
  UINT Bytes;
};

class ID3DXEffectPool;
using LPD3DXEFFECTPOOL = ID3DXEffectPool*;

class ID3DXEffect {
 public:
  virtual ~ID3DXEffect() = default;
  virtual HRESULT GetDevice(LPDIRECT3DDEVICE9& device) = 0;
  virtual HRESULT GetDesc(D3DXEFFECT_DESC* desc) = 0;
  virtual HRESULT GetTechniqueDesc(D3DXHANDLE technique, D3DXTECHNIQUE_DESC* desc) = 0;
  virtual HRESULT GetPassDesc(D3DXHANDLE pass, D3DXPASS_DESC* desc) = 0;
  virtual HRESULT GetParameterDesc(D3DXHANDLE parameter, D3DXPARAMETER_DESC* desc) = 0;

  virtual D3DXHANDLE GetParameter(D3DXHANDLE parent, UINT index) = 0;
  virtual D3DXHANDLE GetParameterByName(D3DXHANDLE parent, LPCSTR name) = 0;
  virtual D3DXHANDLE GetTechnique(UINT index) = 0;
  virtual D3DXHANDLE GetTechniqueByName(LPCSTR name) = 0;
  virtual D3DXHANDLE GetPass(D3DXHANDLE technique, UINT index) = 0;

  virtual HRESULT SetTechnique(D3DXHANDLE technique) = 0;
  virtual D3DXHANDLE GetCurrentTechnique() = 0;
  // technique null: the current one. Fails when a pass's shaders did not compile
  // on this device or the technique needs a capability the device lacks.
  virtual HRESULT ValidateTechnique(D3DXHANDLE technique) = 0;
  // The first valid technique after `technique` (null: from the start); S_FALSE
  // and a null handle when there is none.
  virtual HRESULT FindNextValidTechnique(D3DXHANDLE technique, D3DXHANDLE* next) = 0;
  // technique null: the current one. Used = named by a state or a shader of one of its passes.
  virtual BOOL IsParameterUsed(D3DXHANDLE parameter, D3DXHANDLE technique) = 0;

  virtual HRESULT SetFloat(D3DXHANDLE parameter, float value) = 0;
  virtual HRESULT GetFloat(D3DXHANDLE parameter, float* value) = 0;
  virtual HRESULT SetFloatArray(D3DXHANDLE parameter, const float* values, UINT count) = 0;
  virtual HRESULT SetInt(D3DXHANDLE parameter, INT value) = 0;
  virtual HRESULT GetInt(D3DXHANDLE parameter, INT* value) = 0;
  virtual HRESULT SetBool(D3DXHANDLE parameter, BOOL value) = 0;
  virtual HRESULT SetVector(D3DXHANDLE parameter, const D3DXVECTOR4* value) = 0;
  virtual HRESULT GetVector(D3DXHANDLE parameter, D3DXVECTOR4* value) = 0;
  virtual HRESULT SetMatrix(D3DXHANDLE parameter, const D3DMATRIX* value) = 0;
  virtual HRESULT GetMatrix(D3DXHANDLE parameter, D3DMATRIX* value) = 0;
  // 2D and cube textures; null allowed. The kind must match the parameter's.
  virtual HRESULT SetTexture(D3DXHANDLE parameter, const LPDIRECT3DBASETEXTURE9& texture) = 0;
  virtual HRESULT GetTexture(D3DXHANDLE parameter, LPDIRECT3DBASETEXTURE9& texture) = 0;

  // Begin saves every state the technique's passes change (unless
  // D3DXFX_DONOTSAVESTATE) and End restores it.
  virtual HRESULT Begin(UINT* passes, DWORD flags) = 0;
  virtual HRESULT BeginPass(UINT pass) = 0;
  // Sends parameter values changed inside a pass to the device.
  virtual HRESULT CommitChanges() = 0;
  virtual HRESULT EndPass() = 0;
  virtual HRESULT End() = 0;

  virtual HRESULT OnLostDevice() = 0;
  virtual HRESULT OnResetDevice() = 0;
};
using LPD3DXEFFECT = std::shared_ptr<ID3DXEffect>;

// Parse or structure errors fail the call with D3DXERR_INVALIDDATA (the messages go to
// errors, when asked, and to standard error in debug builds). Shaders that the device
// does not accept only make their techniques invalid.
HRESULT D3DXCreateEffect(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT dataLength, const D3DXMACRO* defines,
                         LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTPOOL pool, LPD3DXEFFECT* effect,
                         LPD3DXBUFFER* errors);
inline HRESULT D3DXCreateEffect(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT dataLength,
                                const D3DXMACRO* defines, LPD3DXINCLUDE include, DWORD flags,
                                LPD3DXEFFECTPOOL pool, LPD3DXEFFECT& effect, LPD3DXBUFFER* errors) {
  return D3DXCreateEffect(device, data, dataLength, defines, include, flags, pool, &effect, errors);
}

// ===========================================================================
// Render to surface

struct D3DXRTS_DESC {
  UINT Width;
  UINT Height;
  D3DFORMAT Format;
  BOOL DepthStencil;
  D3DFORMAT DepthStencilFormat;
};

class ID3DXRenderToSurface {
 public:
  virtual ~ID3DXRenderToSurface() = default;
  virtual HRESULT GetDevice(LPDIRECT3DDEVICE9& device) = 0;
  virtual HRESULT GetDesc(D3DXRTS_DESC* desc) = 0;
  // Makes surface the render target (with the object's own depth buffer when it
  // was created with one), sets the viewport (null: the whole surface) and
  // begins a device scene. EndScene ends it and restores target, depth buffer
  // and viewport.
  virtual HRESULT BeginScene(const LPDIRECT3DSURFACE9& surface, const D3DVIEWPORT9* viewport) = 0;
  virtual HRESULT EndScene(DWORD mipFilter) = 0;
  virtual HRESULT OnLostDevice() = 0;
  virtual HRESULT OnResetDevice() = 0;
};
using LPD3DXRENDERTOSURFACE = std::shared_ptr<ID3DXRenderToSurface>;

HRESULT D3DXCreateRenderToSurface(const LPDIRECT3DDEVICE9& device, UINT width, UINT height, D3DFORMAT format,
                                  BOOL depthStencil, D3DFORMAT depthStencilFormat,
                                  LPD3DXRENDERTOSURFACE& renderToSurface);
inline HRESULT D3DXCreateRenderToSurface(const LPDIRECT3DDEVICE9& device, UINT width, UINT height,
                                         D3DFORMAT format, BOOL depthStencil, D3DFORMAT depthStencilFormat,
                                         LPD3DXRENDERTOSURFACE* renderToSurface) {
  return renderToSurface ? D3DXCreateRenderToSurface(device, width, height, format, depthStencil,
                                                     depthStencilFormat, *renderToSurface)
                         : D3DERR_INVALIDCALL;
}

// Not in D3DX, which reports only an HRESULT: why the last texture, cube map, effect or shader
// load on this thread failed, in the decoder's or parser's own words ("PNG: ..."), and forgets
// it. Empty when no load failed with a reason since the last call.
std::string GxD3DXTakeLastError();

inline HRESULT D3DXCreateTexture(const LPDIRECT3DDEVICE9& device, UINT width, UINT height, UINT mipLevels,
                                 DWORD usage, D3DFORMAT format, D3DPOOL pool, LPDIRECT3DTEXTURE9* texture) {
  return texture ? D3DXCreateTexture(device, width, height, mipLevels, usage, format, pool, *texture)
                 : D3DERR_INVALIDCALL;
}
inline HRESULT D3DXCreateTextureFromFileInMemory(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                                 LPDIRECT3DTEXTURE9* texture) {
  return texture ? D3DXCreateTextureFromFileInMemory(device, data, size, *texture) : D3DERR_INVALIDCALL;
}
inline HRESULT D3DXCreateCubeTextureFromFileInMemory(const LPDIRECT3DDEVICE9& device, LPCVOID data, UINT size,
                                                     LPDIRECT3DCUBETEXTURE9* texture) {
  return texture ? D3DXCreateCubeTextureFromFileInMemory(device, data, size, *texture) : D3DERR_INVALIDCALL;
}
