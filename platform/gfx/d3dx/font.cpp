// ID3DXFont on FreeType. Whatever face the caller names, fontconfig is asked
// for the system's sans face (weight and slant kept). Glyphs are rasterised
// on first use into atlas textures (white, coverage in alpha) and drawn as
// sprites, so the text colour is the sprite's modulating colour. Text bytes
// are taken as Windows-1252 / Latin-1, one glyph per byte.

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#elif !defined(__EMSCRIPTEN__)
#include <fontconfig/fontconfig.h>
#endif
#include <ft2build.h>
#include FT_FREETYPE_H

#include "platform/gfx/d3dx/common.h"
#include "platform/gfx/d3dx/sprite_impl.h"

namespace d3dx {
namespace {

constexpr UINT kAtlasSize = 256;

#ifdef __EMSCRIPTEN__
// The browser has no fontconfig: the page preloads DejaVu Sans (Debian's fonts-dejavu-core), the
// face fontconfig picks for "sans-serif" on Debian, and only its regular face (all the show
// draws with), to keep the download small.
bool FindSansFace(bool, bool, std::string& path, int& index) {
  path = "/fonts/DejaVuSans.ttf";
  index = 0;
  return true;
}
#elif defined(_WIN32)
// Windows has no fontconfig. The program's folder carries DejaVu Sans (fonts\), the face
// fontconfig picks on Debian, so the text looks as it does on Linux; without it, Windows' Arial.
bool FindSansFace(bool bold, bool italic, std::string& path, int& index) {
  const auto exists = [](const std::string& p) { return _access(p.c_str(), 4) == 0; };
  index = 0;
  const char* program = _pgmptr;  // the program's own path, from the C library
  if (program && *program) {
    std::string dir(program);
    dir.erase(dir.find_last_of("\\/") + 1);
    const char* style = bold ? (italic ? "-BoldOblique" : "-Bold") : (italic ? "-Oblique" : "");
    for (const std::string& file : {dir + "fonts\\DejaVuSans" + style + ".ttf", dir + "fonts\\DejaVuSans.ttf"}) {
      if (exists(file)) {
        path = file;
        return true;
      }
    }
  }
  const char* windows = std::getenv("WINDIR");
  if (!windows) return false;
  const char* arial = bold ? (italic ? "arialbi.ttf" : "arialbd.ttf") : (italic ? "ariali.ttf" : "arial.ttf");
  for (const std::string& file : {std::string(windows) + "\\Fonts\\" + arial, std::string(windows) + "\\Fonts\\arial.ttf"}) {
    if (exists(file)) {
      path = file;
      return true;
    }
  }
  return false;
}
#else
// The sans face file fontconfig picks for this weight and slant.
// A configuration of its own, destroyed after the lookup, so that no fontconfig
// state outlives the call (the process-wide one is never freed).
bool FindSansFace(bool bold, bool italic, std::string& path, int& index) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return false;
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
  if (!pattern) {
    FcConfigDestroy(config);
    return false;
  }
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  bool found = false;
  if (match) {
    FcChar8* file = nullptr;
    int i = 0;
    if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file) {
      path = reinterpret_cast<const char*>(file);
      found = true;
      if (FcPatternGetInteger(match, FC_INDEX, 0, &i) == FcResultMatch) index = i;
    }
    FcPatternDestroy(match);
  }
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return found;
}
#endif

struct Glyph {
  int page = -1;          // atlas page; -1 for glyphs without pixels (space)
  RECT source{};          // in the page
  int left = 0, top = 0;  // bitmap offset from the pen position (top: above the baseline)
  int advance = 0;
};

class Font final : public ID3DXFont {
 public:
  Font(LPDIRECT3DDEVICE9 device, const D3DXFONT_DESCA& desc) : device_(std::move(device)), desc_(desc) {}
  ~Font() override {
    if (face_) FT_Done_Face(face_);
    if (library_) FT_Done_FreeType(library_);
  }

  HRESULT Init() {
    std::string path;
    int index = 0;
    if (!FindSansFace(desc_.Weight >= 600, desc_.Italic != 0, path, index)) return E_FAIL;
    if (FT_Init_FreeType(&library_)) return E_FAIL;
    if (FT_New_Face(library_, path.c_str(), index, &face_)) return E_FAIL;
    // Windows heights: positive = cell height (ascent + descent), negative = character (em) height.
    int pixels = desc_.Height == 0 ? 16 : std::abs(desc_.Height);
    if (desc_.Height > 0 && face_->units_per_EM && face_->ascender - face_->descender > 0)
      pixels = std::max(1, int(std::lround(double(pixels) * face_->units_per_EM / (face_->ascender - face_->descender))));
    if (FT_Set_Pixel_Sizes(face_, desc_.Width, FT_UInt(pixels))) return E_FAIL;
    ascent_ = int(face_->size->metrics.ascender >> 6);
    lineHeight_ = desc_.Height > 0 ? desc_.Height : int((face_->size->metrics.height + 63) >> 6);
    sprite_ = MakeSprite(device_);
    return S_OK;
  }

  HRESULT GetDevice(LPDIRECT3DDEVICE9& device) override {
    device = device_;
    return S_OK;
  }
  HRESULT GetDescA(D3DXFONT_DESCA* desc) override { return d3dx::CopyOut(desc, desc_); }

  HRESULT PreloadTextA(LPCSTR text, INT count) override {
    if (!text) return D3DERR_INVALIDCALL;
    const std::size_t n = count < 0 ? std::strlen(text) : std::size_t(count);
    for (std::size_t i = 0; i < n; ++i) GlyphFor(static_cast<unsigned char>(text[i]));
    return S_OK;
  }

  INT DrawTextA(const LPD3DXSPRITE& sprite, LPCSTR text, INT count, RECT* rect, DWORD format,
                D3DCOLOR color) override {
    if (!text || !rect) return 0;
    const std::size_t n = count < 0 ? std::strlen(text) : std::size_t(count);
    const std::vector<std::string> lines = Layout(std::string(text, n), *rect, format);
    const int height = int(lines.size()) * lineHeight_;
    if (format & DT_CALCRECT) {
      int width = 0;
      for (const std::string& line : lines) width = std::max(width, Width(line));
      rect->right = rect->left + width;
      rect->bottom = rect->top + height;
      return height;
    }
    // Vertical placement applies to single lines, as on Windows.
    int y = rect->top;
    if (format & DT_SINGLELINE) {
      if (format & DT_BOTTOM) y = rect->bottom - height;
      else if (format & DT_VCENTER) y = rect->top + (rect->bottom - rect->top - height) / 2;
    }
    const LPD3DXSPRITE& drawer = sprite ? sprite : sprite_;
    if (!sprite && FAILED(sprite_->Begin(D3DXSPRITE_ALPHABLEND))) return 0;
    for (const std::string& line : lines) {
      int x = rect->left;
      const int w = Width(line);
      if (format & DT_RIGHT) x = rect->right - w;
      else if (format & DT_CENTER) x = rect->left + (rect->right - rect->left - w) / 2;
      for (unsigned char c : line) {
        const Glyph& g = GlyphFor(c);
        if (g.page >= 0) DrawGlyph(*drawer, g, x, y, *rect, !(format & DT_NOCLIP), color);
        x += g.advance;
      }
      y += lineHeight_;
    }
    if (!sprite) sprite_->End();
    return height;
  }

  HRESULT OnLostDevice() override { return sprite_ ? sprite_->OnLostDevice() : S_OK; }
  HRESULT OnResetDevice() override { return sprite_ ? sprite_->OnResetDevice() : S_OK; }

 private:
  int Width(const std::string& line) {
    int w = 0;
    for (unsigned char c : line) w += GlyphFor(c).advance;
    return w;
  }

  std::vector<std::string> Layout(const std::string& text, const RECT& rect, DWORD format) {
    std::vector<std::string> lines;
    std::string current;
    const int limit = rect.right - rect.left;
    for (std::size_t i = 0; i <= text.size(); ++i) {
      const bool end = i == text.size();
      const char c = end ? '\n' : text[i];
      if (c == '\r') continue;
      if (c == '\n' && !(format & DT_SINGLELINE && !end)) {
        lines.push_back(current);
        current.clear();
        continue;
      }
      if (c == '\n') continue;  // single line: line breaks are dropped
      current.push_back(c == '\t' ? ' ' : c);
      if ((format & DT_WORDBREAK) && !(format & DT_SINGLELINE) && Width(current) > limit) {
        const std::size_t space = current.find_last_of(' ');
        if (space != std::string::npos && space > 0) {
          lines.push_back(current.substr(0, space));
          current = current.substr(space + 1);
        }
      }
    }
    return lines;
  }

  void DrawGlyph(ID3DXSprite& sprite, const Glyph& g, int penX, int top, const RECT& clip, bool clipping,
                 D3DCOLOR color) {
    RECT src = g.source;
    int x = penX + g.left;
    int y = top + ascent_ - g.top;
    if (clipping) {
      const int w = src.right - src.left, h = src.bottom - src.top;
      const int cutLeft = std::max(0, int(clip.left) - x), cutTop = std::max(0, int(clip.top) - y);
      const int cutRight = std::max(0, x + w - int(clip.right)), cutBottom = std::max(0, y + h - int(clip.bottom));
      if (cutLeft + cutRight >= w || cutTop + cutBottom >= h) return;
      src.left += cutLeft;
      src.top += cutTop;
      src.right -= cutRight;
      src.bottom -= cutBottom;
      x += cutLeft;
      y += cutTop;
    }
    const D3DXVECTOR3 position(float(x), float(y), 0.0f);
    sprite.Draw(pages_[std::size_t(g.page)], &src, nullptr, &position, color);
  }

  const Glyph& GlyphFor(unsigned char c) {
    auto it = glyphs_.find(c);
    if (it != glyphs_.end()) return it->second;
    Glyph g;
    // Windows-1252 and Latin-1 agree with Unicode from 0xA0 up; C1 controls show as '?'.
    const FT_ULong code = (c >= 0x80 && c < 0xA0) ? '?' : c;
    if (face_ && FT_Load_Char(face_, code, FT_LOAD_RENDER) == 0) {
      const FT_GlyphSlot slot = face_->glyph;
      g.advance = int((slot->advance.x + 32) >> 6);
      g.left = slot->bitmap_left;
      g.top = slot->bitmap_top;
      const FT_Bitmap& bm = slot->bitmap;
      if (bm.width > 0 && bm.rows > 0 && bm.pixel_mode == FT_PIXEL_MODE_GRAY) Place(bm, g);
    }
    return glyphs_.emplace(c, g).first->second;
  }

  // Shelf packing into 256 x 256 pages, one pixel apart.
  void Place(const FT_Bitmap& bm, Glyph& g) {
    const UINT w = bm.width, h = bm.rows;
    if (w + 1 > kAtlasSize || h + 1 > kAtlasSize) return;
    if (pages_.empty() || penX_ + w + 1 > kAtlasSize) {
      penX_ = 1;
      penY_ += shelf_ + 1;
      shelf_ = 0;
    }
    if (pages_.empty() || penY_ + h + 1 > kAtlasSize) {
      LPDIRECT3DTEXTURE9 page;
      if (FAILED(device_->CreateTexture(kAtlasSize, kAtlasSize, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, page, nullptr)))
        return;
      D3DLOCKED_RECT r{};
      if (SUCCEEDED(page->LockRect(0, &r, nullptr, 0))) {
        for (UINT y = 0; y < kAtlasSize; ++y)
          std::memset(static_cast<std::uint8_t*>(r.pBits) + std::int64_t(r.Pitch) * y, 0, kAtlasSize * 4);
        page->UnlockRect(0);
      }
      pages_.push_back(page);
      penX_ = penY_ = 1;
      shelf_ = 0;
    }
    const LPDIRECT3DTEXTURE9& page = pages_.back();
    D3DLOCKED_RECT r{};
    if (FAILED(page->LockRect(0, &r, nullptr, 0))) return;
    for (UINT y = 0; y < h; ++y) {
      auto* dst = static_cast<std::uint8_t*>(r.pBits) + std::int64_t(r.Pitch) * (penY_ + y) + 4 * penX_;
      const unsigned char* src = bm.buffer + std::int64_t(bm.pitch) * y;
      for (UINT x = 0; x < w; ++x, dst += 4) {
        dst[0] = dst[1] = dst[2] = 0xFF;
        dst[3] = src[x];
      }
    }
    page->UnlockRect(0);
    g.page = int(pages_.size() - 1);
    g.source = RECT{LONG(penX_), LONG(penY_), LONG(penX_ + w), LONG(penY_ + h)};
    penX_ += w + 1;
    shelf_ = std::max(shelf_, h);
  }

  LPDIRECT3DDEVICE9 device_;
  D3DXFONT_DESCA desc_;
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  int ascent_ = 0;
  int lineHeight_ = 0;
  LPD3DXSPRITE sprite_;
  std::map<unsigned char, Glyph> glyphs_;
  std::vector<LPDIRECT3DTEXTURE9> pages_;
  UINT penX_ = 1, penY_ = 1, shelf_ = 0;
};

}  // namespace
}  // namespace d3dx

HRESULT D3DXCreateFontIndirectA(const LPDIRECT3DDEVICE9& device, const D3DXFONT_DESCA* desc, LPD3DXFONT& font) {
  font.reset();
  if (!device || !desc) return D3DERR_INVALIDCALL;
  auto created = std::make_shared<d3dx::Font>(device, *desc);
  const HRESULT hr = created->Init();
  if (FAILED(hr)) {
    d3dx::DebugLog("font: no sans face found through fontconfig");
    return hr;
  }
  font = std::move(created);
  return S_OK;
}
