// Feeds arbitrary files to the archive reader. Every outcome but a crash, a leak, a read past the
// file or an oversized allocation is fine: found, not found, or refused with EResourceError.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/vokResource.h"

namespace {

std::string ScratchFile() {
  static const std::string path = "/tmp/fuzz_resource_" + std::to_string(::getpid()) + ".vkr";
  return path;
}

void Lookup(TvokResource& r, const std::string& name, TResourceEntry& e) {
  try {
    if (r.ReadByName(name, e) && e.Size > 0) {
      // Touch both ends of the block: it must be as large as the entry says.
      volatile uint8_t first = static_cast<uint8_t*>(e.Data)[0];
      volatile uint8_t last = static_cast<uint8_t*>(e.Data)[e.Size - 1];
      (void)first;
      (void)last;
    }
  } catch (const EResourceError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An odd first byte gets the magic in front, so most inputs reach the entries quickly.
  std::string file;
  const bool withMagic = size > 0 && (data[0] & 1);
  if (withMagic) file.assign(kResourceMagic, kResourceMagicLength);
  file.append(reinterpret_cast<const char*>(data) + (withMagic ? 1 : 0), size - (withMagic ? 1 : 0));
  {
    FILE* f = std::fopen(ScratchFile().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
  }

  // Names to look for: the first entry's own name (so matches happen) and one that never exists.
  std::string firstName;
  if (file.size() > kResourceHeaderSize) {
    const size_t n = std::min<size_t>(uint8_t(file[kResourceHeaderSize]), 40);
    firstName = file.substr(kResourceHeaderSize + 1, std::min(n, file.size() - kResourceHeaderSize - 1));
  }

  TvokResource r;
  try {
    r.Open(ScratchFile());
  } catch (const EResourceError&) {
    return 0;
  }
  TResourceEntry e{};
  Lookup(r, firstName, e);
  Lookup(r, "no such entry", e);
  r.FreeBeforeRead = false;
  Lookup(r, firstName, e);
  Lookup(r, firstName, e);
  r.FreeEntry(e);
  return 0;
}
