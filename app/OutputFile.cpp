#include "app/OutputFile.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/Options.h"
#include "platform/os/system.h"

namespace {

std::string Describe(const std::string& FileName, int Error) { return FileName + ": " + std::strerror(Error); }

// The folder a file name lies in, and its last part.
void SplitName(const std::string& FileName, std::string& Folder, std::string& Base) {
  const auto Slash = FileName.find_last_of('/');
  Folder = Slash == std::string::npos ? "." : Slash == 0 ? "/" : FileName.substr(0, Slash);
  Base = Slash == std::string::npos ? FileName : FileName.substr(Slash + 1);
}

// Opens a pipe or a device for writing without waiting for a reader; afterwards writes block as
// on any pipe. -1 with errno set (ENXIO: nothing reads the pipe).
int OpenInPlace(const std::string& FileName) {
  const int Fd = ::open(FileName.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (Fd < 0) return -1;
  const int Flags = fcntl(Fd, F_GETFL);
  if (Flags >= 0) fcntl(Fd, F_SETFL, Flags & ~O_NONBLOCK);
  return Fd;
}

// What kind of thing is under FileName now.
enum class TKind { Missing, Regular, Folder, InPlace, Other };

TKind KindOf(const std::string& FileName) {
  struct stat St {};
  if (stat(FileName.c_str(), &St) != 0) return TKind::Missing;
  if (S_ISREG(St.st_mode)) return TKind::Regular;
  if (S_ISDIR(St.st_mode)) return TKind::Folder;
  if (S_ISFIFO(St.st_mode) || S_ISCHR(St.st_mode)) return TKind::InPlace;
  return TKind::Other;
}

// The standard streams as the program found them: one that was closed has /dev/null in its place
// (so that no file the program opens takes its number and receives its messages), and an output
// that names it is refused rather than written into that stand-in.
bool StreamClosed[3] = {false, false, false};

// The descriptor an output name stands for when it names one of the program's own open streams
// (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, /proc/PID/fd/N of this process); -1 when
// it names none. Such a name is a link to whatever the stream is (a file the shell redirected
// to, a pipe, a terminal), so it is written through the stream itself: reopening it would start
// over at the beginning of a redirected file, and replacing it would replace the link.
int StreamNamed(const std::string& FileName) {
#ifdef _WIN32
  (void)FileName;
  return -1;  // Windows names its streams otherwise (CON), and they are no files to replace
#else
  std::error_code Ignored;
  const std::string Name = std::filesystem::absolute(FileName, Ignored).lexically_normal().string();
  if (Name == "/dev/stdin") return 0;
  if (Name == "/dev/stdout") return 1;
  if (Name == "/dev/stderr") return 2;
  std::string Number;
  const std::string Own = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (const std::string& Folder : {std::string("/dev/fd/"), std::string("/proc/self/fd/"), Own})
    if (Name.size() > Folder.size() && Name.compare(0, Folder.size(), Folder) == 0) Number = Name.substr(Folder.size());
  if (Number.empty() || Number.size() > 6 || Number.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(Number.c_str());
#endif
}

// Whether a name lies in the system's folders of devices and processes, where an output never
// creates or renames a file: what is there is written in place or not at all.
bool UnderSystemFolder(const std::string& FileName) {
  std::error_code Ignored;
  const std::filesystem::path Name = std::filesystem::absolute(FileName, Ignored).lexically_normal();
  const std::string Folder = std::filesystem::weakly_canonical(Name.parent_path(), Ignored).string() + "/";
  return Folder.rfind("/dev/", 0) == 0 || Folder.rfind("/proc/", 0) == 0;
}

// A symbolic link that the rename would replace (one to a regular file or to nothing): refused,
// because replacing it loses the link and writing through it would write where the link points,
// which is how a planted link turns an output into someone else's file.
bool ReplaceableLink(const std::string& FileName) {
#ifdef _WIN32
  (void)FileName;
  return false;
#else
  struct stat Link {};
  if (lstat(FileName.c_str(), &Link) != 0 || !S_ISLNK(Link.st_mode)) return false;
  const TKind Kind = KindOf(FileName);
  return Kind == TKind::Missing || Kind == TKind::Regular;
#endif
}

// ---- Which file a name means ------------------------------------------------------------------
// An output replaces the directory entry its name ends in (the rename replaces a symbolic link
// itself, never what it points to), so two names mean the same output when their entries are the
// same: the same last part in the same folder, the folder's own links resolved.

struct TIdentity {
  bool CharDevice = false;  // /dev/null, a terminal: written in place, any number of times
  std::string Entry;
};

TIdentity IdentityOf(const std::string& FileName) {
  TIdentity Id;
  struct stat St {};
  Id.CharDevice = stat(FileName.c_str(), &St) == 0 && S_ISCHR(St.st_mode);
  std::error_code Ignored;
  const std::filesystem::path Name = std::filesystem::absolute(FileName, Ignored).lexically_normal();
  Id.Entry = (std::filesystem::weakly_canonical(Name.parent_path(), Ignored) / Name.filename()).string();
  return Id;
}

bool SameFile(const TIdentity& A, const TIdentity& B) { return !A.Entry.empty() && A.Entry == B.Entry; }

// The running program's own file.
std::string ProgramFile() {
  char Buffer[4096];
  const ssize_t Length = readlink("/proc/self/exe", Buffer, sizeof Buffer - 1);
  return Length > 0 ? std::string(Buffer, static_cast<size_t>(Length)) : std::string();
}

}  // namespace

// ---- TOutputFile ------------------------------------------------------------------------------

TOutputFile::~TOutputFile() { Discard(); }

bool TOutputFile::Open(const std::string& AFileName, std::string& Error) {
  Discard();
  FileName = AFileName;
#ifndef _WIN32
  if (const int Stream = StreamNamed(FileName); Stream >= 0) {
    if (Stream <= 2 && StreamClosed[Stream]) {
      Error = FileName + ": the program was started with that stream closed";
      return false;
    }
    Fd = fcntl(Stream, F_DUPFD_CLOEXEC, 3);
    if (Fd < 0) {
      Error = Describe(FileName, errno == EINVAL ? EBADF : errno);
      return false;
    }
    return true;
  }
#endif
  if (ReplaceableLink(FileName)) return CheckRenamedOutput(FileName, Error);
  const TKind Kind = KindOf(FileName);
  switch (Kind) {
    case TKind::Folder:
      Error = Describe(FileName, EISDIR);
      return false;
    case TKind::Other:
      Error = FileName + ": not a regular file, a pipe or a terminal";
      return false;
    case TKind::InPlace:
      Fd = OpenInPlace(FileName);
      if (Fd < 0) {
        Error = errno == ENXIO ? FileName + ": nothing reads from this pipe" : Describe(FileName, errno);
        return false;
      }
      return true;
    default:
      break;
  }
  if (UnderSystemFolder(FileName)) {
    Error = Kind == TKind::Missing ? Describe(FileName, ENOENT) + " (outputs are not created among devices or processes)"
                                   : FileName + ": an output is not written over a file among devices or processes";
    return false;
  }
  std::string Folder, Base;
  SplitName(FileName, Folder, Base);
  // Found now rather than by the rename at the end, after the whole run.
  if (Base.size() > NAME_MAX) {
    Error = Describe(FileName, ENAMETOOLONG);
    return false;
  }
  Fd = os::CreateTemporaryFile(FileName, Temporary);
  if (Fd < 0) {
    Error = Describe(FileName, errno);
    Temporary.clear();
    return false;
  }
  return true;
}

bool TOutputFile::Commit(std::string& Error) {
  if (Fd < 0) {
    Error = FileName + ": not open";
    return false;
  }
  const bool InPlace = Temporary.empty();
  int Failure = 0;
  if (!InPlace && fsync(Fd) != 0) Failure = errno;
  if (::close(Fd) != 0 && Failure == 0) Failure = errno;
  Fd = -1;
  if (Failure == 0 && !InPlace && std::rename(Temporary.c_str(), FileName.c_str()) != 0) Failure = errno;
  if (Failure != 0) {
    Error = Describe(FileName, Failure);
    if (!InPlace) ::unlink(Temporary.c_str());
  }
  if (!InPlace) os::RemoveTemporaryFile(Temporary);
  Temporary.clear();
  return Failure == 0;
}

void TOutputFile::Discard() {
  if (Fd >= 0) ::close(Fd);
  Fd = -1;
  if (!Temporary.empty()) {
    ::unlink(Temporary.c_str());
    os::RemoveTemporaryFile(Temporary);
  }
  Temporary.clear();
}

// ---- Checks before the run --------------------------------------------------------------------

bool WrittenInPlace(const std::string& FileName) {
  return StreamNamed(FileName) >= 0 || (!ReplaceableLink(FileName) && KindOf(FileName) == TKind::InPlace);
}

bool CheckRenamedOutput(const std::string& FileName, std::string& Error) {
  if (StreamNamed(FileName) >= 0 || UnderSystemFolder(FileName)) {
    Error = FileName + ": names a device or a stream; this output is written only to a file of its own";
    return false;
  }
  if (ReplaceableLink(FileName)) {
    Error = FileName + ": is a symbolic link; an output is written under its own name, never through or over a link";
    return false;
  }
  if (KindOf(FileName) == TKind::Folder) {
    Error = Describe(FileName, EISDIR);
    return false;
  }
  return true;
}

void NoteStandardStreams() {
#ifndef _WIN32
  for (int Stream = 0; Stream <= 2; ++Stream) {
    if (fcntl(Stream, F_GETFD) >= 0 || errno != EBADF) continue;
    StreamClosed[Stream] = true;
    const int Fd = ::open("/dev/null", Stream == 0 ? O_RDONLY : O_WRONLY);
    if (Fd >= 0 && Fd != Stream) {
      dup2(Fd, Stream);
      ::close(Fd);
    }
  }
#endif
}

bool CheckWritable(const std::string& FileName, std::string& Error) {
  // A pipe is only tried by whoever keeps it open: closing a trial would end its reader's input.
  if (WrittenInPlace(FileName)) return true;
  TOutputFile Trial;
  return Trial.Open(FileName, Error);
}

bool CheckOutputNames(const TOptions& Options, const std::vector<TProtectedFile>& Protected, std::string& Error) {
  struct TOutput {
    std::string Option, FileName;
    TIdentity Id;
  };
  std::vector<TOutput> Outputs;
  for (const auto& Shot : Options.Screenshots) Outputs.push_back({"--screenshot", Shot.File, {}});
  if (!Options.TraceFile.empty()) Outputs.push_back({"--trace", Options.TraceFile, {}});
  if (!Options.CaptureFile.empty()) Outputs.push_back({"--capture", Options.CaptureFile, {}});
  if (Outputs.empty()) return true;
  std::vector<TProtectedFile> Kept = Protected;
  const std::string Program = ProgramFile();
  if (!Program.empty()) Kept.push_back({"the program itself", Program});
  std::vector<TIdentity> KeptIds;
  for (const auto& K : Kept) KeptIds.push_back(IdentityOf(K.FileName));
  for (size_t I = 0; I < Outputs.size(); ++I) {
    TOutput& Out = Outputs[I];
    Out.Id = IdentityOf(Out.FileName);
    for (size_t K = 0; K < Kept.size(); ++K) {
      if (Kept[K].FileName.empty() || !SameFile(Out.Id, KeptIds[K])) continue;
      Error = Out.Option + ": '" + Out.FileName + "' is " + Kept[K].What + "; an output may not replace it";
      return false;
    }
    // /dev/null and a terminal may take any number of outputs.
    if (Out.Id.CharDevice) continue;
    for (size_t J = 0; J < I; ++J) {
      if (!SameFile(Out.Id, Outputs[J].Id)) continue;
      Error = Out.Option + ": '" + Out.FileName + "' is also the file of " + Outputs[J].Option +
              "; every output needs a file of its own";
      return false;
    }
  }
  return true;
}

// ---- PNG --------------------------------------------------------------------------------------

bool WritePng(const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width, unsigned Height,
              std::string& Error) {
  TOutputFile Out;
  if (Width == 0 || Height == 0 || Rgba.size() < static_cast<size_t>(Width) * Height * 4) {
    Error = FileName + ": no picture to write";
    return false;
  }
  return Out.Open(FileName, Error) && WritePng(Out, FileName, Rgba, Width, Height, Error);
}

bool WritePng(TOutputFile& Out, const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width,
              unsigned Height, std::string& Error) {
  if (Width == 0 || Height == 0 || Rgba.size() < static_cast<size_t>(Width) * Height * 4) {
    Error = FileName + ": no picture to write";
    return false;
  }
  // The stream writes through its own copy of the descriptor; Commit closes the output file's own.
  const int Copy = dup(Out.Descriptor());
  std::FILE* File = Copy >= 0 ? fdopen(Copy, "wb") : nullptr;
  if (!File) {
    Error = Describe(FileName, errno);
    if (Copy >= 0) ::close(Copy);
    return false;
  }
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  if (!Png || !Info) {
    png_destroy_write_struct(&Png, nullptr);
    std::fclose(File);
    Error = FileName + ": out of memory";
    return false;
  }
  std::vector<png_bytep> Rows(Height);
  for (unsigned Y = 0; Y < Height; ++Y)
    Rows[Y] = const_cast<png_bytep>(Rgba.data() + static_cast<size_t>(Y) * Width * 4);
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_write_struct(&Png, &Info);
    const int WriteError = std::ferror(File) ? errno : 0;
    std::fclose(File);
    Error = WriteError ? Describe(FileName, WriteError) : FileName + ": could not write the PNG";
    return false;
  }
  png_init_io(Png, File);
  png_set_IHDR(Png, Info, Width, Height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(Png, Info);
  png_write_image(Png, Rows.data());
  png_write_end(Png, nullptr);
  png_destroy_write_struct(&Png, &Info);
  const bool Flushed = std::fflush(File) == 0;
  const int WriteError = errno;
  if (std::fclose(File) != 0 || !Flushed) {
    Error = Describe(FileName, Flushed ? errno : WriteError);
    return false;
  }
  return Out.Commit(Error);
}
