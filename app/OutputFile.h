#pragma once
// The program's output files (screenshots, the trace, the capture). A file is written under an
// unpredictable temporary name in the folder of its final name, created there exclusively and
// never through a symbolic link, and renamed onto the final name once complete: a failed or
// interrupted write never leaves a truncated file under the name asked for, and the rename
// replaces only what this run wrote. A pipe or a character device (a terminal, /dev/null) is
// written in place, opened so that a pipe nobody reads is refused instead of blocking the run; a
// name of one of the program's own streams (/dev/stdout, /dev/fd/1 ...) is written through that
// stream, whatever it is. Nothing is ever created or renamed among devices and processes (/dev,
// /proc), and a symbolic link that the rename would replace is refused.

#include <cstdint>
#include <string>
#include <vector>

struct TOptions;

class TOutputFile {
 public:
  TOutputFile() = default;
  ~TOutputFile();  // an output never committed is removed
  TOutputFile(const TOutputFile&) = delete;
  TOutputFile& operator=(const TOutputFile&) = delete;

  // Creates the temporary file (or opens the pipe or device); false with Error naming FileName.
  bool Open(const std::string& FileName, std::string& Error);
  bool IsOpen() const { return Fd >= 0; }
  // The descriptor to write to; whoever writes leaves closing to Commit and Discard.
  int Descriptor() const { return Fd; }
  // Where the bytes go until Commit: the temporary name, or the final one when written in place.
  const std::string& Path() const { return Temporary.empty() ? FileName : Temporary; }
  // Flushes to the disk, closes and renames onto the final name; false with Error (the temporary
  // file is then gone).
  bool Commit(std::string& Error);
  // Closes and removes the temporary file.
  void Discard();

 private:
  std::string FileName;
  std::string Temporary;  // empty when written in place
  int Fd = -1;
};

// A pipe, a terminal, /dev/null or one of the program's streams is written as it is: it cannot be
// renamed into place.
bool WrittenInPlace(const std::string& FileName);
// For an output that is always written under a temporary name and renamed (a video): refuses a
// stream, anything among devices and processes, and a symbolic link the rename would replace.
bool CheckRenamedOutput(const std::string& FileName, std::string& Error);
// Called first thing: a standard stream the program was started without gets /dev/null in its
// place, and an output naming it is refused.
void NoteStandardStreams();
// Whether a file can later be written under FileName, found out now: a trial of a temporary file
// in its folder, removed at once; a pipe is tried for a reader.
bool CheckWritable(const std::string& FileName, std::string& Error);
// Refuses (false with Error, a command-line mistake) an output of the run that would replace one
// of Protected (the archive, the music, the program: "the show's archive" -> file name) or that
// two outputs of the run share.
struct TProtectedFile {
  std::string What;  // "the show's archive"
  std::string FileName;
};
bool CheckOutputNames(const TOptions& Options, const std::vector<TProtectedFile>& Protected, std::string& Error);

// Writes 8-bit RGBA rows (top row first) as a PNG file.
bool WritePng(const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width, unsigned Height,
              std::string& Error);
// The same into an output opened beforehand (a pipe held open since the start), committed.
bool WritePng(TOutputFile& Out, const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width,
              unsigned Height, std::string& Error);
