#include "show/AssetWarnings.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "engine/vokResource.h"
#include "platform/gfx/d3dx/d3dx9.h"

namespace {

int Warnings = 0;
// The damaged entries already named, by number.
std::vector<int32_t> NamedDamaged;

// Whether a damaged entry's guessed name can be Name: the same ignoring case, a byte the guess
// could not read ('?') standing for any.
bool CanBe(const std::string& Guess, const std::string& Name) {
  if (Guess.size() != Name.size() || Guess.find_first_not_of('?') == std::string::npos) return false;
  for (size_t I = 0; I < Guess.size(); ++I)
    if (Guess[I] != '?' &&
        std::toupper(static_cast<unsigned char>(Guess[I])) != std::toupper(static_cast<unsigned char>(Name[I])))
      return false;
  return true;
}

bool AlreadyNamed(int32_t Number) {
  return std::find(NamedDamaged.begin(), NamedDamaged.end(), Number) != NamedDamaged.end();
}

void WarnDamaged(const TDamagedEntry& Entry, const std::string& Name) {
  NamedDamaged.push_back(Entry.Number);
  const std::string Number = std::to_string(Entry.Number);
  AssetWarning(ResourceFileName() + " entry " + (Name.empty() ? "number " + Number : "\"" + Name + "\" (number " + Number + ")"),
               "its header is damaged (" + Entry.Damage + "); the show goes on without it");
}

}  // namespace

void AssetWarning(const std::string& What, const std::string& Reason) {
  ++Warnings;
  std::fprintf(stderr, "Quorvanteplidusk: warning: %s: %s\n", What.c_str(), Reason.c_str());
  std::fflush(stderr);
}

void EntryWarning(const std::string& EntryName, const std::string& Reason) {
  AssetWarning(ResourceFileName() + " entry \"" + EntryName + "\"", Reason);
}

void WarnMissingEntry(const std::string& EntryName) {
  if (Resource) {
    for (const TDamagedEntry& Entry : Resource->DamagedEntries()) {
      if (!CanBe(Entry.Guess, EntryName)) continue;
      if (!AlreadyNamed(Entry.Number)) WarnDamaged(Entry, EntryName);
      return;
    }
  }
  EntryWarning(EntryName, "missing from the archive; the show goes on without it");
}

void WarnDamagedEntries() {
  if (!Resource) return;
  for (const TDamagedEntry& Entry : Resource->DamagedEntries())
    if (!AlreadyNamed(Entry.Number)) WarnDamaged(Entry, "");
}

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

void ResetAssetWarnings() {
  Warnings = 0;
  NamedDamaged.clear();
}
