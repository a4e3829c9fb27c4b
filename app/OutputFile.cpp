#include "app/OutputFile.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

std::string PartialName(const std::string& FileName) {
  return FileName + ".partial-" + std::to_string(static_cast<long>(getpid()));
}

// A pipe, a terminal or /dev/stdout is written as it is: it cannot be renamed into place.
bool WrittenInPlace(const std::string& FileName) {
  struct stat St {};
  return stat(FileName.c_str(), &St) == 0 && !S_ISREG(St.st_mode) && !S_ISDIR(St.st_mode);
}

// Whether a file can later be written under FileName: a trial of its partial name, removed at once.
bool CheckWritable(const std::string& FileName, std::string& Error) {
  struct stat St {};
  if (stat(FileName.c_str(), &St) == 0 && S_ISDIR(St.st_mode)) {
    Error = FileName + ": " + std::strerror(EISDIR);
    return false;
  }
  if (WrittenInPlace(FileName)) return true;
  const std::string Trial = PartialName(FileName);
  const int Fd = ::open(Trial.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (Fd < 0) {
    Error = FileName + ": " + std::strerror(errno);
    return false;
  }
  ::close(Fd);
  ::unlink(Trial.c_str());
  return true;
}

// Moves a completed partial file into place; false with Error (and the partial file removed).
bool Complete(const std::string& Partial, const std::string& FileName, std::string& Error) {
  if (std::rename(Partial.c_str(), FileName.c_str()) == 0) return true;
  Error = FileName + ": " + std::strerror(errno);
  ::unlink(Partial.c_str());
  return false;
}
bool WritePng(const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width, unsigned Height,
              std::string& Error) {
  if (Width == 0 || Height == 0 || Rgba.size() < static_cast<size_t>(Width) * Height * 4) {
    Error = FileName + ": no picture to write";
    return false;
  }
  const bool InPlace = WrittenInPlace(FileName);
  const std::string Target = InPlace ? FileName : PartialName(FileName);
  std::FILE* File = std::fopen(Target.c_str(), "wb");
  if (!File) {
    Error = FileName + ": " + std::strerror(errno);
    return false;
  }
  auto Discard = [&] {
    if (!InPlace) ::unlink(Target.c_str());
  };
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  if (!Png || !Info) {
    png_destroy_write_struct(&Png, nullptr);
    std::fclose(File);
    Discard();
    Error = FileName + ": out of memory";
    return false;
  }
  std::vector<png_bytep> Rows(Height);
  for (unsigned Y = 0; Y < Height; ++Y)
    Rows[Y] = const_cast<png_bytep>(Rgba.data() + static_cast<size_t>(Y) * Width * 4);
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_write_struct(&Png, &Info);
    std::fclose(File);
    Discard();
    Error = FileName + ": could not write the PNG";
    return false;
  }
  png_init_io(Png, File);
  png_set_IHDR(Png, Info, Width, Height, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(Png, Info);
  png_write_image(Png, Rows.data());
  png_write_end(Png, nullptr);
  png_destroy_write_struct(&Png, &Info);
  const bool Flushed = std::fflush(File) == 0 && (InPlace || fsync(fileno(File)) == 0);
  const int WriteError = errno;
  if (std::fclose(File) != 0 || !Flushed) {
    Error = FileName + ": " + std::strerror(Flushed ? errno : WriteError);
    Discard();
    return false;
  }
  return InPlace || Complete(Target, FileName, Error);
}
