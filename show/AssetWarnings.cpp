#include "show/AssetWarnings.h"

#include <cstdio>

#include "engine/vokResource.h"
#include "platform/gfx/d3dx/d3dx9.h"

namespace {
int Warnings = 0;
}  // namespace

void AssetWarning(const std::string& What, const std::string& Reason) {
  ++Warnings;
  std::fprintf(stderr, "Quorvanteplidusk: warning: %s: %s\n", What.c_str(), Reason.c_str());
  std::fflush(stderr);
}

void EntryWarning(const std::string& EntryName, const std::string& Reason) {
  AssetWarning(ResourceFileName() + " entry \"" + EntryName + "\"", Reason);
}

void WarnMissingEntry(const std::string& EntryName) { EntryWarning(EntryName, "missing from the archive; the show goes on without it"); }

std::string D3DXFailureReason(long hr, long long Size) {
  if (Size == 0) return "the entry is empty";
  const std::string Reason = GxD3DXTakeLastError();
  if (!Reason.empty()) return Reason;
  char Code[16];
  std::snprintf(Code, sizeof Code, "0x%08lX", static_cast<unsigned long>(hr) & 0xFFFFFFFFul);
  if (hr == D3DXERR_INVALIDDATA) return std::string("the data is not in a format it can read (") + Code + ")";
  if (hr == E_OUTOFMEMORY || hr == D3DERR_OUTOFVIDEOMEMORY) return std::string("out of memory (") + Code + ")";
  return std::string("the device refused it (") + Code + ")";
}

int AssetWarningCount() { return Warnings; }

void ResetAssetWarnings() { Warnings = 0; }
