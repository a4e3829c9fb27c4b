#include "platform/gfx/formats.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/gfx/diagnostics.h"

namespace gx {

UINT BytesPerPixel(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
    case D3DFMT_A8B8G8R8:
    case D3DFMT_X8B8G8R8:
      return 4;
    case D3DFMT_R8G8B8:
      return 3;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
      return 2;
    case D3DFMT_A8:
    case D3DFMT_L8:
      return 1;
    default:
      return 0;
  }
}

bool IsDepthFormat(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_D16_LOCKABLE:
    case D3DFMT_D32:
    case D3DFMT_D15S1:
    case D3DFMT_D24S8:
    case D3DFMT_D24X8:
    case D3DFMT_D24X4S4:
    case D3DFMT_D16:
    case D3DFMT_D24FS8:
      return true;
    default:
      return false;
  }
}

bool IsTextureFormat(D3DFORMAT format) {
  // R8G8B8 has no GL-friendly texture layout and no adapter of the period took it.
  return BytesPerPixel(format) != 0 && format != D3DFMT_R8G8B8;
}

static std::uint8_t Expand5(unsigned v) { return std::uint8_t((v << 3) | (v >> 2)); }
static std::uint8_t Expand6(unsigned v) { return std::uint8_t((v << 2) | (v >> 4)); }
static std::uint8_t Expand4(unsigned v) { return std::uint8_t(v * 17); }

void PixelToRgba8(D3DFORMAT format, const std::uint8_t* p, std::uint8_t rgba[4]) {
  unsigned v16 = p[0] | (unsigned(p[1]) << 8);
  switch (format) {
    case D3DFMT_A8R8G8B8:
      rgba[0] = p[2], rgba[1] = p[1], rgba[2] = p[0], rgba[3] = p[3];
      break;
    case D3DFMT_X8R8G8B8:
      rgba[0] = p[2], rgba[1] = p[1], rgba[2] = p[0], rgba[3] = 255;
      break;
    case D3DFMT_A8B8G8R8:
      rgba[0] = p[0], rgba[1] = p[1], rgba[2] = p[2], rgba[3] = p[3];
      break;
    case D3DFMT_X8B8G8R8:
      rgba[0] = p[0], rgba[1] = p[1], rgba[2] = p[2], rgba[3] = 255;
      break;
    case D3DFMT_R8G8B8:
      rgba[0] = p[2], rgba[1] = p[1], rgba[2] = p[0], rgba[3] = 255;
      break;
    case D3DFMT_R5G6B5:
      rgba[0] = Expand5((v16 >> 11) & 31), rgba[1] = Expand6((v16 >> 5) & 63), rgba[2] = Expand5(v16 & 31);
      rgba[3] = 255;
      break;
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
      rgba[0] = Expand5((v16 >> 10) & 31), rgba[1] = Expand5((v16 >> 5) & 31), rgba[2] = Expand5(v16 & 31);
      rgba[3] = (format == D3DFMT_X1R5G5B5 || (v16 & 0x8000)) ? 255 : 0;
      break;
    case D3DFMT_A4R4G4B4:
      rgba[0] = Expand4((v16 >> 8) & 15), rgba[1] = Expand4((v16 >> 4) & 15), rgba[2] = Expand4(v16 & 15);
      rgba[3] = Expand4(v16 >> 12);
      break;
    case D3DFMT_A8:
      rgba[0] = rgba[1] = rgba[2] = 0, rgba[3] = p[0];
      break;
    case D3DFMT_L8:
      rgba[0] = rgba[1] = rgba[2] = p[0], rgba[3] = 255;
      break;
    default:
      std::memset(rgba, 0, 4);
      break;
  }
}

UINT FullMipCount(UINT width, UINT height) {
  UINT size = std::max(width, height), levels = 1;
  while (size > 1) size >>= 1, ++levels;
  return levels;
}

FvfLayout LayoutOf(DWORD fvf) {
  FvfLayout l;
  UINT off = 0;
  switch (fvf & D3DFVF_POSITION_MASK) {
    case D3DFVF_XYZ:
      l.position = 0, l.positionFloats = 3, off = 12;
      break;
    case D3DFVF_XYZRHW:
      l.position = 0, l.positionFloats = 4, l.rhw = true, off = 16;
      break;
    default:
      break;  // blend weights are not used by the program
  }
  if (fvf & D3DFVF_NORMAL) l.normal = int(off), off += 12;
  if (fvf & D3DFVF_PSIZE) l.psize = int(off), off += 4;
  if (fvf & D3DFVF_DIFFUSE) l.diffuse = int(off), off += 4;
  if (fvf & D3DFVF_SPECULAR) l.specular = int(off), off += 4;
  l.texCount = std::min<UINT>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT, 8);
  for (UINT i = 0; i < l.texCount; ++i) {
    // D3DFVF_TEXCOORDSIZEn bits: 0 = two floats, 1 = three, 2 = four, 3 = one.
    static const UINT kSizes[4] = {2, 3, 4, 1};
    UINT size = kSizes[(fvf >> (16 + i * 2)) & 3];
    l.tex[i] = int(off), l.texSize[i] = size, off += size * 4;
  }
  l.stride = off;
  return l;
}

bool FvfOfDeclaration(const D3DVERTEXELEMENT9* elements, DWORD& fvf, UINT& count, std::string& why) {
  fvf = 0, count = 0;
  while (count < MAXD3DDECLLENGTH && elements[count].Stream != 0xFF) ++count;
  if (count == MAXD3DDECLLENGTH) {
    why = "no D3DDECL_END() within 64 elements";
    return false;
  }
  ++count;
  std::vector<D3DVERTEXELEMENT9> list(elements, elements + count - 1);
  std::stable_sort(list.begin(), list.end(),
                   [](const D3DVERTEXELEMENT9& a, const D3DVERTEXELEMENT9& b) { return a.Offset < b.Offset; });
  // What may come next in an FVF vertex, in order; each matching element moves the cursor on.
  struct Slot {
    BYTE usage, index, type;
    DWORD bits;
  };
  static const Slot kSlots[] = {
      {D3DDECLUSAGE_POSITION, 0, D3DDECLTYPE_FLOAT3, D3DFVF_XYZ},
      {D3DDECLUSAGE_POSITIONT, 0, D3DDECLTYPE_FLOAT4, D3DFVF_XYZRHW},
      {D3DDECLUSAGE_NORMAL, 0, D3DDECLTYPE_FLOAT3, D3DFVF_NORMAL},
      {D3DDECLUSAGE_PSIZE, 0, D3DDECLTYPE_FLOAT1, D3DFVF_PSIZE},
      {D3DDECLUSAGE_COLOR, 0, D3DDECLTYPE_D3DCOLOR, D3DFVF_DIFFUSE},
      {D3DDECLUSAGE_COLOR, 1, D3DDECLTYPE_D3DCOLOR, D3DFVF_SPECULAR},
  };
  constexpr size_t kFixedSlots = sizeof kSlots / sizeof kSlots[0];
  size_t next = 0;  // first slot still open; texture sets follow the fixed ones
  UINT offset = 0, sets = 0;
  static const BYTE kTypeBytes[] = {4, 8, 12, 16, 4};  // FLOAT1..4, D3DCOLOR
  for (const auto& e : list) {
    const std::string text = Why("element (usage %u, index %u, type %u) at offset %u of stream %u", e.Usage,
                                 e.UsageIndex, e.Type, e.Offset, e.Stream);
    if (e.Stream != 0 || e.Method != D3DDECLMETHOD_DEFAULT) {
      why = text + ": only stream 0 and the default method are taken";
      return false;
    }
    if (e.Offset != offset) {
      why = text + Why(": a flexible vertex format puts it at offset %u", offset);
      return false;
    }
    bool placed = false;
    for (size_t i = next; i < kFixedSlots && !placed; ++i)
      if (kSlots[i].usage == e.Usage && kSlots[i].index == e.UsageIndex && kSlots[i].type == e.Type) {
        // The two kinds of position exclude each other.
        fvf |= kSlots[i].bits, next = i + 1 + (i == 0), placed = true;
      }
    if (!placed && e.Usage == D3DDECLUSAGE_TEXCOORD && e.UsageIndex == sets && e.Type <= D3DDECLTYPE_FLOAT4 &&
        sets < 8) {
      static const DWORD kSizeBits[4] = {3, 0, 1, 2};  // one, two, three, four floats
      fvf |= kSizeBits[e.Type] << (16 + sets * 2);
      ++sets, next = kFixedSlots, placed = true;
    }
    if (!placed) {
      why = text + ": no flexible vertex format has it there";
      return false;
    }
    offset += kTypeBytes[e.Type];
  }
  if (!(fvf & D3DFVF_POSITION_MASK)) {
    why = "no POSITION (FLOAT3) or POSITIONT (FLOAT4) element at offset 0";
    return false;
  }
  fvf |= sets << D3DFVF_TEXCOUNT_SHIFT;
  return true;
}

UINT VertexCountOf(D3DPRIMITIVETYPE type, UINT n) {
  switch (type) {
    case D3DPT_POINTLIST: return n;
    case D3DPT_LINELIST: return n * 2;
    case D3DPT_LINESTRIP: return n ? n + 1 : 0;
    case D3DPT_TRIANGLELIST: return n * 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return n ? n + 2 : 0;
    default: return 0;
  }
}

}  // namespace gx
