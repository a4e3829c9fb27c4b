// Feeds arbitrary text to the effect parser and to the shader compiler (both check and rewrite
// the text before any driver sees it). Refusals are fine; crashes, hangs and reads past the text
// are not.

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/gfx/d3dx/d3dx9.h"
#include "platform/gfx/d3dx/effect_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  d3dx::EffectDesc desc;
  std::string error;
  d3dx::ParseEffect(text, desc, error);

  // The entry points the show's shaders use, and the plain one; only those the text mentions,
  // so each input costs a few compiles at most.
  static const char* const Entries[] = {"main", "BlurShader", "DreamShader", "Dream2Shader", "GhostDreamShader",
                                        "ContrastDreamShader"};
  for (const char* entry : Entries) {
    if (text.find(entry) == std::string::npos) continue;
    for (const char* profile : {"ps_2_0", "vs_2_0"}) {
      LPD3DXBUFFER code, errors;
      LPD3DXCONSTANTTABLE constants;
      D3DXCompileShader(text.data(), UINT(text.size()), nullptr, nullptr, entry, profile, 0, &code, &errors,
                        &constants);
    }
  }
  GxD3DXTakeLastError();
  return 0;
}
