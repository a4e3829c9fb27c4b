#pragma once
// The asset archive: one file holding every picture, shader and effect source of the show,
// each entry stored as is or as a zlib stream. Entries are found by name with a linear scan
// (there is no directory), and every loader reads through one shared entry record.
//
// File layout (little-endian):
//   "vokResource1.00" (15 bytes, no length byte, no terminator), EntryCount (int32),
//   then EntryCount times: a 68-byte entry header (TResourceEntry minus Data) and its payload.
// A stored payload is Size bytes; a compressed one is StoredSize bytes holding one zlib stream
// that inflates to exactly Size bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// A damaged or missing archive. Rather than letting the runtime end the program unexplained, it
// names the file and the entry so the entry point can say what went wrong and exit non-zero.
class EResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The entry record: the header bytes exactly as stored, then the delivered data.
struct TResourceEntry {
  uint8_t NameLength;     // 0..40
  char Name[40];          // bytes after NameLength are not interpreted
  uint8_t Kind;           // 1 bitmap, 2 JPEG, 3 and 4 other data
  uint8_t Reserved1[6];
  int32_t Size;           // bytes of data (after inflation)
  int32_t StoredSize;     // payload bytes of a compressed entry
  uint8_t Reserved2[8];
  uint8_t Compressed;     // 0 stored, otherwise zlib
  uint8_t Reserved3[3];
  // Size bytes from std::malloc, or nullptr. Belongs to the record until FreeEntry or the next
  // read into it.
  void* Data;
  // Bytes allocated behind Data; lets a read with FreeBeforeRead false reuse the block only when
  // the entry fits (writing into a smaller block would run past its end).
  size_t DataCapacity;
};

constexpr int kResourceHeaderSize = 19;
constexpr int kResourceEntryHeaderSize = 68;
constexpr char kResourceMagic[] = "vokResource1.00";  // compared without the terminator
constexpr int kResourceMagicLength = 15;
constexpr int kResourceMaxNameLength = 40;

static_assert(offsetof(TResourceEntry, Kind) == 41);
static_assert(offsetof(TResourceEntry, Size) == 48);
static_assert(offsetof(TResourceEntry, StoredSize) == 52);
static_assert(offsetof(TResourceEntry, Compressed) == 64);
static_assert(offsetof(TResourceEntry, Data) >= kResourceEntryHeaderSize);

// An entry whose header is in its place (its sizes lead to the next header) but whose name is not
// one the packer writes: the entry is there, but no name finds it.
struct TDamagedEntry {
  int32_t Number;     // 1 for the first entry
  std::string Guess;  // what the name most likely said ("" when nothing of it can be read)
  std::string Damage; // "its name length is 200, more than the 40 a name may have"
};

class TvokResource {
 public:
  std::FILE* Stream = nullptr;
  int32_t EntryCount = 0;
  int32_t Index = 0;
  std::string FileName;
  std::string ErrorText;
  bool FreeBeforeRead = true;

  TvokResource();
  ~TvokResource();
  TvokResource(const TvokResource&) = delete;
  TvokResource& operator=(const TvokResource&) = delete;

  // True when the file is open and carries the magic (also when it was open already, whatever
  // name is given). Throws EResourceError when the file cannot be opened.
  bool Open(const std::string& FileName);
  // Reopens FileName if needed and goes back to the first entry header.
  void Rewind();
  // Finds the first entry whose name equals Name ignoring ASCII case and delivers its data into
  // Entry. Not found: Entry zeroed, false. Throws EResourceError for a damaged archive, corrupt
  // compressed data or a compressed payload that does not inflate to exactly Size bytes.
  bool ReadByName(const std::string& Name, TResourceEntry& Entry);
  void Close();
  void FreeEntry(TResourceEntry& Entry);
  // Walks every entry header once: throws EResourceError naming the entry when the count is not
  // positive or an entry's sizes do not fit the file (a header read from the wrong place because
  // of them blames the entry before it); notes the entries whose name alone is damaged.
  void Verify();
  int64_t SizeOfFile() const { return FileSize; }
  // The entries with a damaged name met so far (Verify meets them all), in archive order.
  const std::vector<TDamagedEntry>& DamagedEntries() const { return Damaged; }

  // Hard ceiling for one entry's data: no show picture comes near it, and it keeps a forged
  // Size from asking for gigabytes.
  static constexpr int64_t kMaxEntrySize = 256 * 1024 * 1024;

 private:
  int64_t FileSize = 0;
  int64_t Position = 0;  // where the next read starts; kept so nothing is read past FileSize
  std::vector<TDamagedEntry> Damaged;
  std::string LastWalked;  // the name of the last entry a lookup passed that found nothing

  // Whether a good header (or the end of the file after the last entry) lies at At.
  bool NextHeaderFits(int64_t At);
  void NoteDamaged(int32_t Number, const std::string& Guess, const std::string& Damage);

  void ReadData(TResourceEntry& Entry);
  // The message for a damaged header at entry Number: the entry before it, whose sizes led there.
  std::string StructureError(int32_t Number, const std::string& Previous) const;
  [[noreturn]] void Fail(const std::string& What) const;
};

// The archive while the start-up sequence loads, and the one record every loader reads into.
extern TvokResource* Resource;
extern TResourceEntry ResourceData;

// The name the archive was last opened under by OpenResource (the program chooses it), for
// messages about its entries while and after they load.
const std::string& ResourceFileName();

// The start-up sequence's use of the archive: create the reader, open the file and check its
// structure (throws EResourceError naming the file, and the entry where there is one, when it
// cannot be opened, is no archive, holds no entries or an entry's sizes do not fit);
// close it and release the shared record; free the reader (also after a failed open).
void OpenResource(const std::string& FileName);
void CloseResource();
void FreeResource();
