#include "engine/vokResource.h"

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string NotRegularReason(mode_t Mode) {
  if (S_ISDIR(Mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(Mode)) return "It is a pipe (FIFO), not a regular file.";
  if (S_ISCHR(Mode)) return "It is a character device, not a regular file.";
  if (S_ISBLK(Mode)) return "It is a block device, not a regular file.";
  if (S_ISSOCK(Mode)) return "It is a socket, not a regular file.";
  return "It is not a regular file.";
}

// Whether an entry's sizes fit what is left of the file.
bool SizesFit(const TResourceEntry& Entry, int64_t Remaining) {
  if (Entry.Size < 0) return false;
  const int64_t payload = Entry.Compressed ? Entry.StoredSize : Entry.Size;
  return payload >= 0 && payload <= Remaining;
}

// Whether a byte is one the packer writes in a name: printable ASCII other than the space (the
// manifest it reads separates its fields with white space).
bool NameByte(unsigned char c) { return c > 0x20 && c < 0x7f; }

// Why the header's name is not one the packer could have written; empty when it is. A header read
// from the wrong place (after an entry whose sizes are wrong) nearly always fails this; so does a
// good header whose name alone was damaged.
std::string NameDamage(const TResourceEntry& Entry) {
  if (Entry.NameLength == 0) return "its name is empty";
  if (Entry.NameLength > kResourceMaxNameLength)
    return "its name length is " + std::to_string(Entry.NameLength) + ", more than the " +
           std::to_string(kResourceMaxNameLength) + " a name may have";
  for (int i = 0; i < Entry.NameLength; ++i)
    if (!NameByte(static_cast<unsigned char>(Entry.Name[i]))) return "its name holds bytes no entry name has";
  return "";
}

bool NameLooksRight(const TResourceEntry& Entry) { return NameDamage(Entry).empty(); }

// Whether the bytes the reader does not interpret are as the packer leaves them: the name field
// zero after the name, the reserved bytes zero, the storage flag 0 or 1. A header read from the
// wrong place (from inside a payload) all but never has them so.
bool ShapeLooksRight(const TResourceEntry& Entry) {
  const auto Zero = [](const uint8_t* Bytes, size_t Count) {
    for (size_t i = 0; i < Count; ++i)
      if (Bytes[i] != 0) return false;
    return true;
  };
  const size_t used = Entry.NameLength > kResourceMaxNameLength ? kResourceMaxNameLength : Entry.NameLength;
  return Zero(reinterpret_cast<const uint8_t*>(Entry.Name) + used, kResourceMaxNameLength - used) &&
         Zero(Entry.Reserved1, sizeof Entry.Reserved1) && Zero(Entry.Reserved2, sizeof Entry.Reserved2) &&
         Zero(Entry.Reserved3, sizeof Entry.Reserved3) && Entry.Compressed <= 1;
}

// What a damaged name most likely said, for the messages: with a length beyond the field, the
// field's bytes up to the first that no name has.
std::string GuessedName(const TResourceEntry& Entry) {
  if (Entry.NameLength <= kResourceMaxNameLength) return PrintableName(Entry);
  std::string s;
  for (int i = 0; i < kResourceMaxNameLength && NameByte(static_cast<unsigned char>(Entry.Name[i])); ++i)
    s += Entry.Name[i];
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
  Damaged.clear();

  // Non-blocking, so that a FIFO or a terminal given as the archive is refused below instead of
  // waiting forever for a writer; the descriptor is a regular file's once it is kept.
  const int fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw EResourceError("Cannot open file \"" + FileName + "\". " + std::strerror(errno));
  struct stat st {};
  const int statError = fstat(fd, &st) != 0 ? errno : 0;
  if (statError != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw EResourceError("Cannot open file \"" + FileName + "\". " +
                         (statError != 0 ? std::string(std::strerror(statError)) : NotRegularReason(st.st_mode)));
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  Stream = fdopen(fd, "rb");
  if (!Stream) {
    const int err = errno;
    ::close(fd);
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
  // The entry before the one being read: when a header turns out damaged, the sizes of the
  // entry before it (which said where it starts) are the likelier culprit.
  std::string previous;
  while (Index < EntryCount) {
    // An archive that ends cleanly after fewer entries than its count promised simply has no more.
    if (Position == FileSize) break;
    if (FileSize - Position < kResourceEntryHeaderSize)
      Fail("the archive ends inside the header of entry number " + std::to_string(Index + 1) +
           (previous.empty() ? std::string() : " (after \"" + previous + "\")"));
    if (std::fread(&Entry, 1, kResourceEntryHeaderSize, Stream) != kResourceEntryHeaderSize)
      Fail("entry " + std::to_string(Index + 1) + ": read error");
    Position += kResourceEntryHeaderSize;
    ++Index;
    if (!SizesFit(Entry, FileSize - Position)) {
      const std::string name = PrintableName(Entry);
      const bool negative = Entry.Size < 0 || (Entry.Compressed && Entry.StoredSize < 0);
      const bool ownFault = Index == 1 || (NameLooksRight(Entry) && ShapeLooksRight(Entry));
      const std::string damage = NameDamage(Entry);
      std::memset(static_cast<void*>(&Entry), 0, kResourceEntryHeaderSize);
      if (!ownFault) Fail(StructureError(Index, previous));
      if (!damage.empty())
        Fail("entry number " + std::to_string(Index) + ": its header is damaged (" + damage + ", and " +
             (negative ? "a size is negative" : "its payload runs past the end of the file") + ")");
      Fail("entry \"" + name + "\" (number " + std::to_string(Index) + "): " +
           (negative ? "a size is negative" : "its payload runs past the end of the file"));
    }
    const int64_t payload = Entry.Compressed ? Entry.StoredSize : Entry.Size;
    const std::string damage = NameDamage(Entry);
    // A header whose name or shape is wrong: either this entry's header alone is damaged (the
    // entry after it is where its sizes say), or it is no header at all, read from the wrong place
    // because the sizes of the entry before it are wrong.
    if (Index > 1 && (!damage.empty() || !ShapeLooksRight(Entry)) && !NextHeaderFits(Position + payload)) {
      std::memset(static_cast<void*>(&Entry), 0, kResourceEntryHeaderSize);
      Fail(StructureError(Index, previous));
    }
    if (!damage.empty()) {
      NoteDamaged(Index, GuessedName(Entry), damage);
    } else if (NameMatches(Entry, Name)) {
      ReadData(Entry);
      return true;
    }
    if (fseeko(Stream, payload, SEEK_CUR) != 0) Fail("cannot seek past entry " + std::to_string(Index));
    Position += payload;
    previous = PrintableName(Entry);
  }
  LastWalked = previous;
  // Zeroing the record alone would lose the block it holds; release it first.
  ReleaseData(Entry);
  std::memset(static_cast<void*>(&Entry), 0, sizeof(Entry));
  ErrorText = Name + " resource not found! (ReadByName, ReadByNumber)";
  return false;
}

bool TvokResource::NextHeaderFits(int64_t At) {
  // The last entry ends the file; with entries still to come, a header must follow.
  if (At == FileSize) return Index == EntryCount;
  if (FileSize - At < kResourceEntryHeaderSize) return false;
  TResourceEntry next{};
  const off_t here = ftello(Stream);
  const bool read = fseeko(Stream, At, SEEK_SET) == 0 &&
                    std::fread(&next, 1, kResourceEntryHeaderSize, Stream) == kResourceEntryHeaderSize;
  if (fseeko(Stream, here, SEEK_SET) != 0) Fail("cannot seek back to entry " + std::to_string(Index));
  return read && ShapeLooksRight(next) && SizesFit(next, FileSize - At - kResourceEntryHeaderSize);
}

void TvokResource::NoteDamaged(int32_t Number, const std::string& Guess, const std::string& Damage) {
  for (const auto& d : Damaged)
    if (d.Number == Number) return;
  Damaged.push_back({Number, Guess, Damage});
}

std::string TvokResource::StructureError(int32_t Number, const std::string& Previous) const {
  return "entry \"" + Previous + "\" (number " + std::to_string(Number - 1) +
         "): its sizes do not fit the archive (the header after it is damaged)";
}

void TvokResource::Verify() {
  if (EntryCount <= 0)
    Fail("the archive holds no entries (its entry count is " + std::to_string(EntryCount) + ")");
  TResourceEntry probe{};
  // A name no entry can have (longer than any stored name) walks every header once.
  ReadByName(std::string(kResourceMaxNameLength + 1, '?'), probe);
  ReleaseData(probe);
  ErrorText.clear();
  // A file cut at an entry boundary reads cleanly up to the cut; its header still counts the
  // entries it lost.
  if (Index < EntryCount)
    Fail("the archive ends after entry " + std::to_string(Index) + " of " + std::to_string(EntryCount) +
         " (the file is cut short)");
  // The packer writes nothing after the last entry: bytes there mean its size is too small.
  if (Position < FileSize) {
    Fail("entry \"" + LastWalked + "\" (number " + std::to_string(EntryCount) + "), the last, is followed by " +
         std::to_string(FileSize - Position) + " bytes that belong to no entry (its size is wrong)");
  }
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
  int ret = inflate(&zs, Z_FINISH);
  const uLong produced = zs.total_out;
  const std::string zmsg = zs.msg ? zs.msg : "not a zlib stream";
  // Size bytes came out but the stream goes on: is there really more, or only the trailer left?
  // One more byte of room tells, and lets zlib check the trailer when the stream does end.
  bool longer = false;
  if (ret == Z_BUF_ERROR && zs.avail_out == 0 && produced == uLong(size)) {
    unsigned char spare = 0;
    zs.next_out = &spare;
    zs.avail_out = 1;
    ret = inflate(&zs, Z_FINISH);
    longer = zs.total_out > produced;
  }
  const std::string zmsgAfter = zs.msg ? zs.msg : zmsg;
  inflateEnd(&zs);
  if (ret == Z_DATA_ERROR || ret == Z_NEED_DICT || ret == Z_STREAM_ERROR || ret == Z_MEM_ERROR) {
    ReleaseData(Entry);
    Fail(what + ": compressed data is corrupt (" + zmsgAfter + ")");
  }
  // The entry is exactly Size bytes: a stream that holds more, fewer, or that stops before its end
  // is a damaged entry, never good data with a zeroed or cut-off tail.
  if (longer) {
    ReleaseData(Entry);
    Fail(what + ": compressed data holds more than its size of " + std::to_string(size) + " bytes");
  }
  if (ret != Z_STREAM_END && produced < uLong(size)) {
    ReleaseData(Entry);
    Fail(what + ": compressed data ends early (" + std::to_string(produced) + " of " + std::to_string(size) +
         " bytes)");
  }
  if (ret != Z_STREAM_END) {
    ReleaseData(Entry);
    Fail(what + ": compressed data is cut off before its end");
  }
  if (produced < uLong(size)) {
    ReleaseData(Entry);
    Fail(what + ": compressed data inflates to " + std::to_string(produced) + " bytes, its size says " +
         std::to_string(size));
  }
}

void TvokResource::Close() {
  if (Stream) std::fclose(Stream);
  Stream = nullptr;
  EntryCount = 0;
}

void TvokResource::FreeEntry(TResourceEntry& Entry) { ReleaseData(Entry); }

namespace {
std::string OpenedName;
}  // namespace

const std::string& ResourceFileName() { return OpenedName; }

void OpenResource(const std::string& FileName) {
  OpenedName = FileName;
  if (!Resource) Resource = new TvokResource;
  // The show cannot do anything sensible with a file that is no archive of its own: going on
  // with nothing found would play a show of blank shapes and end as if all were well.
  if (!Resource->Open(FileName)) {
    std::string why = "its first bytes are not \"" + std::string(kResourceMagic) + "\"";
    if (Resource->SizeOfFile() < kResourceHeaderSize)
      why = "it is too short (" + std::to_string(Resource->SizeOfFile()) + " bytes)";
    throw EResourceError(FileName + ": not an archive of this show: " + why);
  }
  Resource->Verify();
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
