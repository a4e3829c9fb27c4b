#include "app/Options.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/video/video.h"
#include "show/Show.h"

#include <sys/stat.h>
#include <unistd.h>

#ifndef VK_VERSION
#define VK_VERSION "1.0.0"
#endif

namespace {

bool ParseUnsigned(const std::string& Text, uint32_t& Value) {
  if (Text.empty() || Text.size() > 10) return false;
  uint64_t V = 0;
  for (char C : Text) {
    if (C < '0' || C > '9') return false;
    V = V * 10 + static_cast<uint64_t>(C - '0');
  }
  if (V > 0xFFFFFFFFull) return false;
  Value = static_cast<uint32_t>(V);
  return true;
}

// 8K UHD: beyond it the software renderer needs seconds and gigabytes per frame, and no display
// shows more.
constexpr uint32_t kMaxWidth = 7680;
constexpr uint32_t kMaxHeight = 4320;

bool ParseSize(const std::string& Text, int& Width, int& Height) {
  const auto X = Text.find_first_of("xX");
  if (X == std::string::npos) return false;
  uint32_t W = 0, H = 0;
  if (!ParseUnsigned(Text.substr(0, X), W) || !ParseUnsigned(Text.substr(X + 1), H)) return false;
  if (W < 1 || H < 1 || W > kMaxWidth || H > kMaxHeight) return false;
  Width = static_cast<int>(W);
  Height = static_cast<int>(H);
  return true;
}

// Output files are written under this name next to their own and renamed when complete, so a
// failed or interrupted write never leaves a truncated file under the name asked for.
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

// ---- Capture, seek and playback options ---------------------------------------------------------

// "N" or "N/D" with both from 1 to 1000000.
bool ParseRate(const std::string& Text, uint32_t& Num, uint32_t& Den) {
  const auto Slash = Text.find('/');
  uint32_t N = 0, D = 1;
  if (!ParseUnsigned(Text.substr(0, Slash), N)) return false;
  if (Slash != std::string::npos && !ParseUnsigned(Text.substr(Slash + 1), D)) return false;
  if (N < 1 || D < 1 || N > 1000000 || D > 1000000) return false;
  Num = N;
  Den = D;
  return true;
}

// False when Arg is none of these options; true otherwise, with Error set when its value is bad.
template <typename TakeValue>
bool ParseCaptureOption(const std::string& Arg, TakeValue& Value, TOptions& Options, std::string& Error) {
  std::string V;
  if (Arg == "--capture") {
    if (!Value("a video file name (.mp4, .mkv or .webm)", V)) return true;
    if (V.empty()) Error = "--capture: the file name is empty";
    Options.CaptureFile = V;
  } else if (Arg == "--fps") {
    if (!Value("a frame rate N or N/D", V)) return true;
    if (!ParseRate(V, Options.FpsNum, Options.FpsDen))
      Error = "--fps: '" + V + "' is not a frame rate like 60, 25 or 30000/1001 (whole numbers from 1 to 1000000)";
    Options.HasFps = true;
  } else if (Arg == "--start") {
    if (!Value("a show time in milliseconds", V)) return true;
    if (!ParseUnsigned(V, Options.Start))
      Error = "--start: '" + V + "' is not a show time in milliseconds (0 or more)";
    else if (Options.Start >= ShowEndTime)
      Error = "--start: " + V + " ms is beyond the end of the show (" + std::to_string(ShowEndTime) + " ms)";
    Options.HasStart = true;
  } else if (Arg == "--quality") {
    if (!Value("a quality from 0 (best) to 63", V)) return true;
    uint32_t Q = 0;
    if (!ParseUnsigned(V, Q) || Q > 63) Error = "--quality: '" + V + "' is not a number from 0 (best) to 63";
    Options.Quality = static_cast<int>(Q);
  } else if (Arg == "--lossless") {
    Options.Lossless = true;
  } else if (Arg == "--controls") {
    Options.Controls = true;
  } else {
    return false;
  }
  return true;
}

// What only the whole command line can tell: combinations, and whether the capture's file can be
// written at all (before anything is loaded or rendered).
bool CheckCaptureOptions(const TOptions& Options, std::string& Error) {
  if (Options.HasFps && Options.FixedStep > 0) {
    Error = "--fps and --fixed-step both set the step; give one of them";
    return false;
  }
  if (Options.HasStart && Options.HasUntil && Options.Until <= Options.Start) {
    Error = "--until " + std::to_string(Options.Until) + " is not after --start " + std::to_string(Options.Start);
    return false;
  }
  if (Options.CaptureFile.empty()) {
    if (Options.Lossless || Options.Quality >= 0) {
      Error = std::string(Options.Lossless ? "--lossless" : "--quality") + " applies only to --capture";
      return false;
    }
    return true;
  }
  if (Options.FixedStep > 0) {
    Error = "--fixed-step does not apply to --capture, whose step is its frame rate: use --fps";
    return false;
  }
  const std::string& File = Options.CaptureFile;
  video::Container Container;
  if (!video::ContainerOf(File, Container)) {
    Error = "--capture: '" + File + "' has none of the extensions .mp4, .mkv, .webm";
    return false;
  }
  if (Options.Lossless && Container != video::Container::Mkv) {
    Error = "--lossless: lossless video (FFV1) is written only to .mkv files";
    return false;
  }
  if (Options.Width > 3840 || Options.Height > 2160) {
    Error = "--size: " + std::to_string(Options.Width) + "x" + std::to_string(Options.Height) +
            " is larger than a capture can be (3840x2160)";
    return false;
  }
  if (!Options.Lossless && (Options.Width % 2 != 0 || Options.Height % 2 != 0)) {
    Error = "--size: " + std::to_string(Options.Width) + "x" + std::to_string(Options.Height) +
            " is odd; H.264 and VP9 video need an even width and height";
    return false;
  }
  struct stat Info {};
  if (stat(File.c_str(), &Info) == 0 && S_ISDIR(Info.st_mode)) {
    Error = "--capture: '" + File + "' is a directory";
    return false;
  }
  const auto Slash = File.find_last_of('/');
  const std::string Dir = Slash == std::string::npos ? "." : Slash == 0 ? "/" : File.substr(0, Slash);
  if (stat(Dir.c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode)) {
    Error = "--capture: the directory '" + Dir + "' does not exist";
    return false;
  }
  if (access(Dir.c_str(), W_OK) != 0 || (access(File.c_str(), F_OK) == 0 && access(File.c_str(), W_OK) != 0)) {
    Error = "--capture: '" + File + "' cannot be written (" + std::strerror(errno == 0 ? EACCES : errno) + ")";
    return false;
  }
  return true;
}

// The active run's tools, for the engine's plain-procedure hook.
TRunTools* ActiveTools = nullptr;

void OnFramePresented() {
  if (ActiveTools && Engine) ActiveTools->FramePresented(*Engine);
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& Args, TOptions& Options, std::string& Error) {
  bool OptionsEnded = false;
  for (size_t I = 0; I < Args.size(); ++I) {
    std::string Arg = Args[I];
    if (OptionsEnded || Arg.size() < 2 || Arg.compare(0, 2, "--") != 0) {
      Options.Switches.push_back(Arg);
      continue;
    }
    if (Arg == "--") {
      OptionsEnded = true;
      continue;
    }
    // "--name=value" is the same as "--name value".
    std::vector<std::string> Inline;
    const auto Eq = Arg.find('=');
    if (Eq != std::string::npos) {
      Inline.push_back(Arg.substr(Eq + 1));
      Arg = Arg.substr(0, Eq);
    }
    auto Value = [&](const char* What, std::string& Out) {
      if (!Inline.empty()) {
        Out = Inline.front();
        Inline.erase(Inline.begin());
        return true;
      }
      if (I + 1 >= Args.size()) {
        Error = Arg + " needs " + What;
        return false;
      }
      Out = Args[++I];
      return true;
    };
    std::string V;
    if (Arg == "--help") {
      Options.Help = true;
    } else if (Arg == "--version") {
      Options.Version = true;
    } else if (Arg == "--headless") {
      Options.Headless = true;
    } else if (Arg == "--strict") {
      Options.Strict = true;
    } else if (Arg == "--fullscreen") {
      Options.FullScreen = true;
    } else if (Arg == "--gfx-debug") {
      Options.GfxDebug = true;
    } else if (Arg == "--fixed-step") {
      if (!Value("a step length in milliseconds", V)) return false;
      if (!ParseUnsigned(V, Options.FixedStep) || Options.FixedStep < 1 || Options.FixedStep > 60000) {
        Error = "--fixed-step: '" + V + "' is not a step length from 1 to 60000 ms";
        return false;
      }
    } else if (Arg == "--until") {
      if (!Value("a time in milliseconds", V)) return false;
      if (!ParseUnsigned(V, Options.Until)) {
        Error = "--until: '" + V + "' is not a time in milliseconds";
        return false;
      }
      Options.HasUntil = true;
    } else if (Arg == "--size") {
      if (!Value("a size WIDTHxHEIGHT", V)) return false;
      if (!ParseSize(V, Options.Width, Options.Height)) {
        Error = "--size: '" + V + "' is not a size like 1280x720 (at most 7680x4320)";
        return false;
      }
      Options.HasSize = true;
    } else if (Arg == "--screenshot") {
      TScreenshotRequest Shot;
      if (!Value("a time in milliseconds and a file name", V)) return false;
      if (!ParseUnsigned(V, Shot.Time)) {
        Error = "--screenshot: '" + V + "' is not a time in milliseconds";
        return false;
      }
      if (!Value("a file name after the time", Shot.File)) return false;
      if (Shot.File.empty()) {
        Error = "--screenshot: the file name is empty";
        return false;
      }
      Options.Screenshots.push_back(Shot);
    } else if (Arg == "--trace") {
      if (!Value("a file name", Options.TraceFile)) return false;
      if (Options.TraceFile.empty()) {
        Error = "--trace: the file name is empty";
        return false;
      }
    } else if (Arg == "--multisample") {
      // Smooth edges: every target drawn with N samples per pixel. Off by default, as the show
      // has always run; captures may use it.
      if (!Value("a sample count", V)) return false;
      uint32_t N = 0;
      if (!ParseUnsigned(V, N) || (N != 0 && N != 2 && N != 4 && N != 8)) {
        Error = "--multisample: '" + V + "' is not 0, 2, 4 or 8 samples";
        return false;
      }
      Options.MultiSample = int(N);
    } else if (Arg == "--seed") {
      if (!Value("a number", V)) return false;
      if (!ParseUnsigned(V, Options.Seed)) {
        Error = "--seed: '" + V + "' is not a number from 0 to 4294967295";
        return false;
      }
      Options.HasSeed = true;
    } else if (Arg == "--backend") {
      if (!Value("gl or recording", V)) return false;
      if (V != "gl" && V != "recording") {
        Error = "--backend: '" + V + "' is neither gl nor recording";
        return false;
      }
      Options.Backend = V;
    } else if (ParseCaptureOption(Arg, Value, Options, Error)) {
      if (!Error.empty()) return false;
    } else {
      Error = "unknown option " + Arg;
      return false;
    }
    if (!Inline.empty()) {
      Error = Arg + " takes no value";
      return false;
    }
  }
  return CheckCaptureOptions(Options, Error);
}

std::string HelpText() {
  return "Usage: Quorvanteplidusk [SWITCH...] [OPTION...]\n"
         "A real-time 3D show of about 105 seconds in five scenes, timed to its music.\n"
         "Escape or closing the window ends it early.\n"
         "\n"
         "Switches (bare words; any parameter that begins with one, in any letter case):\n"
         "  DEBUG      no setup dialog: 1280x720 in a window, no vertical sync\n"
         "  SHOWFPS    show the frame rate\n"
         "  NOVSYNC    full screen without waiting for vertical sync\n"
         "\n"
         "Options:\n"
         "  --help                 this text\n"
         "  --version              the program's version\n"
         "  --headless             render offscreen, no display needed (implies the DEBUG settings)\n"
         "  --fixed-step MS        advance the clock by MS per frame instead of real time\n"
         "  --until MS             end the show at the first frame whose time is at least MS\n"
         "  --size WxH             the resolution of the DEBUG settings (default 1280x720)\n"
         "  --fullscreen           no setup dialog: full screen at the --size resolution, with\n"
         "                         vertical sync unless NOVSYNC is given\n"
         "  --screenshot MS FILE   save the picture of the first frame at or after MS as PNG\n"
         "                         (may be given more than once)\n"
         "  --trace FILE           write one JSON object per frame (frame, time, delta, fps, ...)\n"
         "  --multisample N        smooth edges with N samples per pixel (2, 4 or 8; default off)\n"
         "  --seed N               seed of the random generator (default: from the clock)\n"
         "  --backend gl|recording graphics backend (recording draws nothing; for tests)\n"
         "  --strict               end with status 1 after loading when a picture, effect, shader\n"
         "                         or the music could not be used (each is warned about anyway)\n"
         "  --start MS             begin at show time MS (the show is replayed up to it unseen)\n"
         "  --fps N[/D]            a fixed step of exactly D/N seconds (e.g. 60, 30000/1001)\n"
         "  --controls             in a window: Space pauses, Left/Right jump 5 s, Home restarts\n"
         "  --capture FILE         render headless into a video: .mp4 (H.264+AAC), .mkv\n"
         "                         (H.264+FLAC), .webm (VP9+Opus); --fps (default 60), --size\n"
         "                         (up to 3840x2160), --start and --until bound and shape it\n"
         "  --lossless             with --capture FILE.mkv: FFV1, bit-exact frames\n"
         "  --quality Q            with --capture: CRF-like, 0 best (default 20 H.264, 32 VP9)\n"
         "  --gfx-debug            say why graphics calls fail: GL debug messages and errors, refused\n"
         "                         calls, unhandled texture-stage settings (on in debug builds)\n"
         "\n"
         "Exit status: 0 after a normal end, 1 when the show could not run, an output asked for\n"
         "was not written or (with --strict) an asset was unusable, 2 for a bad command line.\n";
}

std::string VersionText() { return std::string("Quorvanteplidusk ") + VK_VERSION + "\n"; }

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

TRunTools::~TRunTools() {
  if (ActiveTools == this) ActiveTools = nullptr;
  // Finish was never reached: the trace is incomplete and goes.
  if (Trace) {
    std::fclose(Trace);
    if (TracePartial != Options.TraceFile) ::unlink(TracePartial.c_str());
  }
}

bool TRunTools::Start(const TOptions& Options, std::string& Error) {
  this->Options = Options;
  // A screenshot that cannot be written is refused now, like the trace, not when its frame comes.
  for (const auto& Shot : Options.Screenshots)
    if (!CheckWritable(Shot.File, Error)) return false;
  if (!Options.TraceFile.empty()) {
    if (!CheckWritable(Options.TraceFile, Error)) return false;
    TracePartial = WrittenInPlace(Options.TraceFile) ? Options.TraceFile : PartialName(Options.TraceFile);
    Trace = std::fopen(TracePartial.c_str(), "w");
    if (!Trace) {
      Error = Options.TraceFile + ": " + std::strerror(errno);
      return false;
    }
  }
  SetTraceActive(Trace != nullptr);
  return true;
}

void TRunTools::Attach(TvokEngine& Engine) {
  if (Options.FixedStep > 0) {
    Engine.FixedStep = true;
    Engine.FixedStepLength = Options.FixedStep;
  }
  // The recording backend keeps every draw it saw; over a whole show that must be let go per frame.
  Recording = gx::GetBackendKind() == gx::BackendKind::Recording;
  if (Trace || Options.HasUntil || !Options.Screenshots.empty() || Recording) {
    ActiveTools = this;
    Engine.OnFramePresented = ::OnFramePresented;
  }
}

void TRunTools::FramePresented(TvokEngine& Engine) {
  ++Frames;
  for (auto& Shot : Options.Screenshots) {
    if (Shot.Done || Engine.Time < Shot.Time) continue;
    Shot.Done = true;
    std::vector<uint8_t> Rgba;
    UINT W = 0, H = 0;
    std::string Error;
    if (!Engine.D3D || !Engine.D3D->Device ||
        FAILED(gx::GxReadBackBuffer(Engine.D3D->Device.get(), Rgba, W, H))) {
      Failures.push_back(Shot.File + ": the back buffer could not be read");
    } else if (!WritePng(Shot.File, Rgba, W, H, Error)) {
      Failures.push_back(Error);
    }
  }
  if (Trace) {
    std::string Line = TraceFrameFields(Frames, Engine.Time, Engine.DeltaTime, Engine.Fps);
    Line += "}\n";
    std::fwrite(Line.data(), 1, Line.size(), Trace);
  }
  if (Options.HasUntil && Engine.Time >= Options.Until) Engine.Quit();
  if (Recording && Engine.D3D && Engine.D3D->Device) gx::GxClearRecording(Engine.D3D->Device.get());
}

bool TRunTools::Finish(std::string& Problems) {
  if (ActiveTools == this) ActiveTools = nullptr;
  SetTraceActive(false);
  if (Trace) {
    const bool Written = std::fflush(Trace) == 0 && !std::ferror(Trace);
    const int WriteError = errno;
    const bool Closed = std::fclose(Trace) == 0;
    Trace = nullptr;
    std::string Error;
    if (!Written || !Closed) {
      Failures.push_back(Options.TraceFile + ": " + std::strerror(Written ? errno : WriteError));
      if (TracePartial != Options.TraceFile) ::unlink(TracePartial.c_str());
    } else if (TracePartial != Options.TraceFile && !Complete(TracePartial, Options.TraceFile, Error)) {
      Failures.push_back(Error);
    }
  }
  for (const auto& Shot : Options.Screenshots)
    if (!Shot.Done) Failures.push_back(Shot.File + ": the show ended before " + std::to_string(Shot.Time) + " ms");
  Problems.clear();
  for (const auto& F : Failures) Problems += (Problems.empty() ? "" : "; ") + F;
  return Failures.empty();
}
