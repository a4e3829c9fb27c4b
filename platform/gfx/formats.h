#pragma once
// Facts about the pixel formats the layer stores.

#include <string>

#include "platform/gfx/d3d9types.h"

namespace gx {

// Bytes per pixel of a colour format the layer can hold; 0 for one it cannot.
UINT BytesPerPixel(D3DFORMAT format);
bool IsDepthFormat(D3DFORMAT format);
// Colour formats textures and render targets may have.
bool IsTextureFormat(D3DFORMAT format);

// One pixel of a stored format as RGBA8 (alpha 255 for formats without alpha).
void PixelToRgba8(D3DFORMAT format, const std::uint8_t* pixel, std::uint8_t rgba[4]);

// Levels of a full mip chain down to 1x1.
UINT FullMipCount(UINT width, UINT height);

// Vertex layout of a flexible vertex format.
struct FvfLayout {
  UINT stride = 0;
  int position = -1;   // byte offsets, -1 when absent
  int normal = -1;
  int diffuse = -1;
  int specular = -1;
  int psize = -1;
  int tex[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
  UINT texSize[8] = {};  // components per texture coordinate set
  UINT texCount = 0;
  bool rhw = false;      // pre-transformed positions
  UINT positionFloats = 0;
};
FvfLayout LayoutOf(DWORD fvf);

// The flexible vertex format a declaration describes: elements of stream 0 in the FVF's order
// at its offsets (position or pre-transformed position, normal, point size, diffuse, specular,
// texture coordinate sets 0, 1, ...), of the FVF's types. False, with the reason, for any other.
// count receives the number of elements, D3DDECL_END() included (also on failure when the end
// was found).
bool FvfOfDeclaration(const D3DVERTEXELEMENT9* elements, DWORD& fvf, UINT& count, std::string& why);

// Vertices read by a draw of primitiveCount primitives; 0 for an unknown type.
UINT VertexCountOf(D3DPRIMITIVETYPE type, UINT primitiveCount);

}  // namespace gx
