#include "engine/vokResource.h"

#include <zlib.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

static_assert(sizeof(int32_t) == 4);
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the entry header is read straight into the record");

TvokResource* Resource = nullptr;
TResourceEntry ResourceData{};

namespace {

// Deflate cannot do better than about 1032:1; an entry claiming more than that from its payload
// is forged, and refusing it bounds what one read may allocate by the size of the file.
constexpr int64_t kMaxInflateRatio = 1032;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool NameMatches(const TResourceEntry& Entry, const std::string& Name) {
  if (Entry.NameLength > kResourceMaxNameLength || Entry.NameLength != Name.size()) return false;
  for (size_t i = 0; i < Name.size(); ++i)
    if (UpperAscii(Entry.Name[i]) != UpperAscii(Name[i])) return false;
  return true;
}

// The stored name, fit for a message whatever bytes the file holds.
std::string PrintableName(const TResourceEntry& Entry) {
  std::string s;
  const int n = Entry.NameLength > kResourceMaxNameLength ? kResourceMaxNameLength : Entry.NameLength;
  for (int i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(Entry.Name[i]);
    s += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  return s;
}

void ReleaseData(TResourceEntry& Entry) {
  std::free(Entry.Data);
  Entry.Data = nullptr;
  Entry.DataCapacity = 0;
}

}  // namespace

TvokResource::TvokResource() = default;

TvokResource::~TvokResource() {
  Close();
  Index = 0;
  FileName.clear();
  ErrorText.clear();
  FreeBeforeRead = true;
}

void TvokResource::Fail(const std::string& What) const { throw EResourceError(FileName + ": " + What); }

bool TvokResource::Open(const std::string& AFileName) {
  if (Stream) return true;
  EntryCount = 0;
  Index = 0;
  FileName = AFileName;

  Stream = std::fopen(FileName.c_str(), "rb");
  if (!Stream) throw EResourceError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
  struct stat st {};
  if (fstat(fileno(Stream), &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
    std::fclose(Stream);
    Stream = nullptr;
    throw EResourceError("Cannot open file \"" + FileName + "\". " + std::strerror(err));
  }
  FileSize = st.st_size;
  Position = 0;

  // A file too short to hold the header is no archive either: same answer as a wrong magic.
  unsigned char header[kResourceHeaderSize];
  const bool complete = FileSize >= kResourceHeaderSize &&
                        std::fread(header, 1, kResourceHeaderSize, Stream) == kResourceHeaderSize;
  if (!complete || std::memcmp(header, kResourceMagic, kResourceMagicLength) != 0) {
    ErrorText = "Not vok resource file! (Open/Load)";
    return false;
  }
  std::memcpy(&EntryCount, header + kResourceMagicLength, 4);
  Position = kResourceHeaderSize;
  return true;
}

void TvokResource::Rewind() {
  Open(FileName);
  if (fseeko(Stream, kResourceHeaderSize, SEEK_SET) != 0) Fail("cannot seek to the first entry");
  Position = kResourceHeaderSize;
  Index = 0;
}

bool TvokResource::ReadByName(const std::string& Name, TResourceEntry& Entry) {
  Rewind();
  while (Index < EntryCount) {
    // An archive that ends cleanly after fewer entries than its count promised simply has no more.
    if (Position == FileSize) break;
    if (FileSize - Position < kResourceEntryHeaderSize)
      Fail("entry " + std::to_string(Index + 1) + ": truncated entry header");
    if (std::fread(&Entry, 1, kResourceEntryHeaderSize, Stream) != kResourceEntryHeaderSize)
      Fail("entry " + std::to_string(Index + 1) + ": read error");
    Position += kResourceEntryHeaderSize;
    ++Index;
    if (NameMatches(Entry, Name)) {
      ReadData(Entry);
      return true;
    }
    const int64_t payload = Entry.Compressed ? Entry.StoredSize : Entry.Size;
    if (payload < 0 || payload > FileSize - Position)
      Fail("entry " + std::to_string(Index) + " (\"" + PrintableName(Entry) +
           "\"): payload runs past the end of the file");
    if (fseeko(Stream, payload, SEEK_CUR) != 0) Fail("cannot seek past entry " + std::to_string(Index));
    Position += payload;
  }
  // The original zeroed the record and lost the block it held; release it first.
  ReleaseData(Entry);
  std::memset(static_cast<void*>(&Entry), 0, sizeof(Entry));
  ErrorText = Name + " resource not found! (ReadByName, ReadByNumber)";
  return false;
}

void TvokResource::ReadData(TResourceEntry& Entry) {
  const std::string what = "entry \"" + PrintableName(Entry) + "\"";
  const int64_t remaining = FileSize - Position;
  const int64_t size = Entry.Size;
  if (size < 0) Fail(what + ": negative size");
  if (size > kMaxEntrySize) Fail(what + ": size " + std::to_string(size) + " is beyond any asset");
  if (Entry.Compressed) {
    if (Entry.StoredSize < 0 || Entry.StoredSize > remaining)
      Fail(what + ": compressed payload runs past the end of the file");
    if (size > int64_t(Entry.StoredSize) * kMaxInflateRatio + 64)
      Fail(what + ": size " + std::to_string(size) + " cannot come from " +
           std::to_string(Entry.StoredSize) + " compressed bytes");
  } else if (size > remaining) {
    Fail(what + ": payload runs past the end of the file");
  }

  if (FreeBeforeRead && Entry.Data) ReleaseData(Entry);
  if (Entry.Data && Entry.DataCapacity < size_t(size)) ReleaseData(Entry);
  if (!Entry.Data) {
    // A zero-length entry still gets a block of its own, so success always comes with Data.
    Entry.Data = std::malloc(size > 0 ? size_t(size) : 1);
    if (!Entry.Data) Fail(what + ": out of memory");
    Entry.DataCapacity = size_t(size);
  }

  if (!Entry.Compressed) {
    if (std::fread(Entry.Data, 1, size_t(size), Stream) != size_t(size)) {
      ReleaseData(Entry);
      Fail(what + ": read error");
    }
    Position += size;
    return;
  }

  std::vector<unsigned char> packed(size_t(Entry.StoredSize));
  if (!packed.empty() && std::fread(packed.data(), 1, packed.size(), Stream) != packed.size()) {
    ReleaseData(Entry);
    Fail(what + ": read error");
  }
  Position += Entry.StoredSize;

  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) {
    ReleaseData(Entry);
    Fail(what + ": cannot start zlib");
  }
  zs.next_in = packed.data();
  zs.avail_in = uInt(packed.size());
  zs.next_out = static_cast<Bytef*>(Entry.Data);
  zs.avail_out = uInt(size);
  const int ret = inflate(&zs, Z_FINISH);
  const uLong produced = zs.total_out;
  const std::string zmsg = zs.msg ? zs.msg : "not a zlib stream";
  inflateEnd(&zs);
  if (ret == Z_DATA_ERROR || ret == Z_NEED_DICT || ret == Z_STREAM_ERROR || ret == Z_MEM_ERROR) {
    ReleaseData(Entry);
    Fail(what + ": compressed data is corrupt (" + zmsg + ")");
  }
  // The entry is Size bytes whatever its payload holds: more data than that is not read, and a
  // payload that ends early leaves the rest of the block, which is zeroed here rather than handed
  // on as whatever the allocation held.
  if (produced < uLong(size)) std::memset(static_cast<char*>(Entry.Data) + produced, 0, size_t(size) - produced);
}

void TvokResource::Close() {
  if (Stream) std::fclose(Stream);
  Stream = nullptr;
  EntryCount = 0;
}

void TvokResource::FreeEntry(TResourceEntry& Entry) { ReleaseData(Entry); }

void OpenResource(const std::string& FileName) {
  if (!Resource) Resource = new TvokResource;
  Resource->Open(FileName);
}

void CloseResource() {
  if (Resource) {
    Resource->Close();
    Resource->FreeEntry(ResourceData);
  }
}

void FreeResource() {
  delete Resource;
  Resource = nullptr;
}
