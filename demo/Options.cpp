#include "demo/Options.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "demo/Trace.h"
#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"

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

bool ParseSize(const std::string& Text, int& Width, int& Height) {
  const auto X = Text.find_first_of("xX");
  if (X == std::string::npos) return false;
  uint32_t W = 0, H = 0;
  if (!ParseUnsigned(Text.substr(0, X), W) || !ParseUnsigned(Text.substr(X + 1), H)) return false;
  if (W < 1 || H < 1 || W > 16384 || H > 16384) return false;
  Width = static_cast<int>(W);
  Height = static_cast<int>(H);
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
        Error = "--size: '" + V + "' is not a size like 1280x720 (1 to 16384 each way)";
        return false;
      }
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
    } else {
      Error = "unknown option " + Arg;
      return false;
    }
    if (!Inline.empty()) {
      Error = Arg + " takes no value";
      return false;
    }
  }
  return true;
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
         "  --screenshot MS FILE   save the picture of the first frame at or after MS as PNG\n"
         "                         (may be given more than once)\n"
         "  --trace FILE           write one JSON object per frame (frame, time, delta, fps, ...)\n"
         "  --seed N               seed of the random generator (default: from the clock)\n"
         "  --backend gl|recording graphics backend (recording draws nothing; for tests)\n"
         "  --gfx-debug            say why graphics calls fail: GL debug messages and errors, refused\n"
         "                         calls, unhandled texture-stage settings (on in debug builds)\n"
         "\n"
         "Exit status: 0 after a normal end, 1 when the show could not run or an output asked for\n"
         "was not written, 2 for a bad command line.\n";
}

std::string VersionText() { return std::string("Quorvanteplidusk ") + VK_VERSION + "\n"; }

bool WritePng(const std::string& FileName, const std::vector<uint8_t>& Rgba, unsigned Width, unsigned Height,
              std::string& Error) {
  if (Width == 0 || Height == 0 || Rgba.size() < static_cast<size_t>(Width) * Height * 4) {
    Error = FileName + ": no picture to write";
    return false;
  }
  std::FILE* File = std::fopen(FileName.c_str(), "wb");
  if (!File) {
    Error = FileName + ": " + std::strerror(errno);
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
    std::fclose(File);
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
  if (std::fclose(File) != 0) {
    Error = FileName + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

TRunTools::~TRunTools() {
  if (ActiveTools == this) ActiveTools = nullptr;
  if (Trace) std::fclose(Trace);
}

bool TRunTools::Start(const TOptions& Options, std::string& Error) {
  this->Options = Options;
  if (!Options.TraceFile.empty()) {
    Trace = std::fopen(Options.TraceFile.c_str(), "w");
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
  Recording = vkgfx::GetBackendKind() == vkgfx::BackendKind::Recording;
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
        FAILED(vkgfx::VkReadBackBuffer(Engine.D3D->Device.get(), Rgba, W, H))) {
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
  if (Recording && Engine.D3D && Engine.D3D->Device) vkgfx::VkClearRecording(Engine.D3D->Device.get());
}

bool TRunTools::Finish(std::string& Problems) {
  if (ActiveTools == this) ActiveTools = nullptr;
  SetTraceActive(false);
  if (Trace) {
    if (std::fclose(Trace) != 0) Failures.push_back(Options.TraceFile + ": " + std::strerror(errno));
    Trace = nullptr;
  }
  for (const auto& Shot : Options.Screenshots)
    if (!Shot.Done) Failures.push_back(Shot.File + ": the show ended before " + std::to_string(Shot.Time) + " ms");
  Problems.clear();
  for (const auto& F : Failures) Problems += (Problems.empty() ? "" : "; ") + F;
  return Failures.empty();
}
