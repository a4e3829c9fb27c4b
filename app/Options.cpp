#include "app/Options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstring>

#include "platform/video/video.h"
#include "show/Show.h"

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

// A decimal fraction from 0.25 to 1 ("0.5", "1", ".75"): at most three decimals, no exponent.
bool ParseFraction(const std::string& Text, float& Value) {
  const auto Point = Text.find('.');
  const std::string Whole = Text.substr(0, Point), Decimals = Point == std::string::npos ? "" : Text.substr(Point + 1);
  uint32_t W = 0, D = 0;
  if (Whole.empty() && Decimals.empty()) return false;
  if (!Whole.empty() && !ParseUnsigned(Whole, W)) return false;
  if (Point != std::string::npos && (Decimals.empty() || Decimals.size() > 3 || !ParseUnsigned(Decimals, D))) return false;
  double V = W;
  for (size_t I = 0; I < Decimals.size(); ++I) V += (Decimals[I] - '0') / std::pow(10.0, double(I + 1));
  if (V < 0.25 || V > 1.0) return false;
  Value = static_cast<float>(V);
  return true;
}

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

using TValues = TOptionValues;

// ---- The switches -----------------------------------------------------------------------------

const std::vector<TSwitchRow> Switches = {
    {"DEBUG", "no setup dialog: 1280x720 in a window, no vertical sync",
     "no setup dialog: 1280 × 720 in a window, no vertical sync"},
    {"SHOWFPS", "show the frame rate", "draw the frame rate (\"FPS:60\")"},
    {"NOVSYNC", "full screen without waiting for vertical sync", "a full-screen show does not wait for vertical sync"},
    {"GENTLE", "gentler flashes: at most three a second, no sudden full-screen rise",
     "gentler flashes for viewers sensitive to flashing light: at most three white flashes begin in any second, and a flash climbs over about a tenth of a second instead of at once"},
    {"CODA", "the music plays on under the end picture to the last frame",
     "the music does not stop 7.3 s into the last scene: its closing phrase plays on under the end picture and fades with it to the show's last frame"},
};

// ---- The options ------------------------------------------------------------------------------
// In the order --help lists them. A row's reader sees the option's values one by one; what only
// the whole command line can tell is checked afterwards (CheckCombinations).

const std::vector<TOptionRow> Options = {
    {"--help", "", "this text", "print the switches and options, and exit",
     [](TValues&, TOptions& O, std::string&) { return O.Help = true; }},
    {"--version", "", "the program's version", "print the program's version, and exit",
     [](TValues&, TOptions& O, std::string&) { return O.Version = true; }},
    {"--headless", "", "render offscreen, no display needed (implies the DEBUG settings)",
     "no window: render offscreen (no display needed)",
     [](TValues&, TOptions& O, std::string&) { return O.Headless = true; }},
    {"--fixed-step", "MS", "advance the clock by MS per frame instead of real time",
     "advance the clock by MS per frame instead of real time",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a step length in milliseconds", S)) return false;
       if (!ParseUnsigned(S, O.FixedStep) || O.FixedStep < 1 || O.FixedStep > 60000) {
         Error = "--fixed-step: '" + S + "' is not a step length from 1 to 60000 ms";
         return false;
       }
       return true;
     }},
    {"--until", "MS", "end the show at the first frame whose time is at least MS",
     "end the show at the first frame at or after MS",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a time in milliseconds", S)) return false;
       if (!ParseUnsigned(S, O.Until)) {
         Error = "--until: '" + S + "' is not a time in milliseconds";
         return false;
       }
       return O.HasUntil = true;
     }},
    {"--size", "WxH", "the resolution of the DEBUG settings (default 1280x720)",
     "the resolution the `DEBUG` settings use (at most 7680x4320)",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a size WIDTHxHEIGHT", S)) return false;
       if (!ParseSize(S, O.Width, O.Height)) {
         Error = "--size: '" + S + "' is not a size like 1280x720 (at most 7680x4320)";
         return false;
       }
       return O.HasSize = true;
     }},
    {"--fullscreen", "",
     "no setup dialog: full screen at the --size resolution, with\n"
     "vertical sync unless NOVSYNC is given",
     "no setup dialog: full screen at the `--size` resolution (default 1280 × 720), with vertical sync unless "
     "`NOVSYNC` is given",
     [](TValues&, TOptions& O, std::string&) { return O.FullScreen = true; }},
    {"--screenshot", "MS FILE",
     "save the picture of the first frame at or after MS as PNG\n"
     "(may be given more than once)",
     "write a PNG of the frame at or after MS (repeatable)",
     [](TValues& V, TOptions& O, std::string& Error) {
       TScreenshotRequest Shot;
       std::string S;
       if (!V.Next("a time in milliseconds and a file name", S)) return false;
       if (!ParseUnsigned(S, Shot.Time)) {
         Error = "--screenshot: '" + S + "' is not a time in milliseconds";
         return false;
       }
       if (!V.Next("a file name after the time", Shot.File)) return false;
       if (Shot.File.empty()) {
         Error = "--screenshot: the file name is empty";
         return false;
       }
       O.Screenshots.push_back(Shot);
       return true;
     }},
    {"--trace", "FILE", "write one JSON object per frame (frame, time, delta, fps, ...)",
     "one JSON object per frame: time, frame rate and the show's state",
     [](TValues& V, TOptions& O, std::string& Error) {
       if (!V.Next("a file name", O.TraceFile)) return false;
       if (O.TraceFile.empty()) {
         Error = "--trace: the file name is empty";
         return false;
       }
       return true;
     }},
    {"--multisample", "N", "smooth edges with N samples per pixel (2, 4 or 8; default off)",
     "smooth edges with N samples per pixel (2, 4 or 8; default off)",
     // Every target drawn with N samples per pixel. Off by default, as the show has always run.
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a sample count", S)) return false;
       uint32_t N = 0;
       if (!ParseUnsigned(S, N) || (N != 0 && N != 2 && N != 4 && N != 8)) {
         Error = "--multisample: '" + S + "' is not 0, 2, 4 or 8 samples";
         return false;
       }
       O.MultiSample = int(N);
       return true;
     }},
    {"--post-scale", "F",
     "draw the scenes with a post effect at F times the screen's size\n"
     "(0.25 to 1; default 1): faster, slightly softer",
     "draw the scenes that have a post effect (the blur) at F times the screen's size, from 0.25 to 1 (default 1, "
     "every pixel as always): faster, and slightly softer",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a fraction of the screen's size", S)) return false;
       if (!ParseFraction(S, O.PostScale)) Error = "--post-scale: '" + S + "' is not a fraction from 0.25 to 1";
       return Error.empty();
     }},
    {"--seed", "N", "seed of the random generator (default: from the clock)",
     "seed the random generator (a run can be repeated exactly)",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a number", S)) return false;
       if (!ParseUnsigned(S, O.Seed)) {
         Error = "--seed: '" + S + "' is not a number from 0 to 4294967295";
         return false;
       }
       return O.HasSeed = true;
     }},
    {"--backend", "gl|recording", "graphics backend (recording draws nothing; for tests)",
     "draw with OpenGL (default) or only record the draws",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("gl or recording", S)) return false;
       if (S != "gl" && S != "recording") {
         Error = "--backend: '" + S + "' is neither gl nor recording";
         return false;
       }
       O.Backend = S;
       return true;
     }},
    {"--strict", "",
     "end with status 1 after loading when a picture, effect, shader\n"
     "or the music could not be used (each is warned about anyway)",
     "exit with status 1 after loading when any picture, effect, shader or the music was unusable",
     [](TValues&, TOptions& O, std::string&) { return O.Strict = true; }},
    {"--start", "MS", "begin at show time MS (the show is replayed up to it unseen)",
     "begin at show time MS (the show's logic is replayed from 0 unseen; the music starts there too)",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a show time in milliseconds", S)) return false;
       O.HasStart = true;
       if (!ParseUnsigned(S, O.Start))
         Error = "--start: '" + S + "' is not a show time in milliseconds (0 or more)";
       else if (O.Start >= ShowEndTime)
         Error = "--start: " + S + " ms is beyond the end of the show (" + std::to_string(ShowEndTime) + " ms)";
       return Error.empty();
     }},
    {"--fps", "N[/D]", "a fixed step of exactly D/N seconds (e.g. 60, 30000/1001)",
     "a fixed step of exactly D/N s: frame k shows `floor(k·1000·D/N)` ms (`60`, `30000/1001`); a capture takes 1 to "
     "1000 frames per second",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a frame rate N or N/D", S)) return false;
       O.HasFps = true;
       if (!ParseRate(S, O.FpsNum, O.FpsDen)) {
         Error = "--fps: '" + S + "' is not a frame rate like 60, 25 or 30000/1001 (whole numbers from 1 to 1000000)";
         return false;
       }
       return true;
     }},
    {"--controls", "", "in a window: Space pauses, Left/Right jump 5 s, Home restarts",
     "in a window: Space pauses and resumes, Left/Right jump 5 s, Home restarts; the title shows the show time",
     [](TValues&, TOptions& O, std::string&) { return O.Controls = true; }},
    {"--wall-clock", "", "a live run's clock counts real time instead of following the music heard",
     "a live run's clock counts real time alone; by default it follows the music as it is heard (after a stall, a busy machine or a slow sound output the picture catches up with the sound)",
     [](TValues&, TOptions& O, std::string&) { return O.WallClock = true; }},
    {"--capture", "FILE",
     "render headless into a video: .mp4 (H.264+AAC), .mkv\n"
     "(H.264+FLAC), .webm (VP9+Opus); --fps (default 60), --size\n"
     "(up to 3840x2160), --start and --until bound and shape it",
     "render headless into a video with its sound: `.mp4` (H.264 + AAC), `.mkv` (H.264 + FLAC), `.webm` (VP9 + "
     "Opus)",
     [](TValues& V, TOptions& O, std::string& Error) {
       if (!V.Next("a video file name (.mp4, .mkv or .webm)", O.CaptureFile)) return false;
       if (O.CaptureFile.empty()) Error = "--capture: the file name is empty";
       return Error.empty();
     }},
    {"--lossless", "", "with --capture FILE.mkv: FFV1, bit-exact frames",
     "with `--capture FILE.mkv`: FFV1 video, frames bit-exact",
     [](TValues&, TOptions& O, std::string&) { return O.Lossless = true; }},
    {"--quality", "Q", "with --capture: CRF-like, 0 best (default 20 H.264, 32 VP9)",
     "with `--capture`: CRF-like, lower is better (default 20 for H.264, 32 for VP9)",
     [](TValues& V, TOptions& O, std::string& Error) {
       std::string S;
       if (!V.Next("a quality from 0 (best) to 63", S)) return false;
       uint32_t Q = 0;
       if (!ParseUnsigned(S, Q) || Q > 63) Error = "--quality: '" + S + "' is not a number from 0 (best) to 63";
       O.Quality = static_cast<int>(Q);
       return Error.empty();
     }},
    {"--gfx-debug", "",
     "say why graphics calls fail: GL debug messages and errors, refused\n"
     "calls, unhandled texture-stage settings (on in debug builds)",
     "the graphics layer says why things fail: GL debug messages and errors with the call, refused calls, "
     "unhandled texture-stage settings, each once (on in debug builds, or with `GX_GFX_DEBUG=1`)",
     [](TValues&, TOptions& O, std::string&) { return O.GfxDebug = true; }},
};

// What only the whole command line can tell: combinations, and whether the capture's file can be
// written at all (before anything is loaded or rendered).
bool CheckCombinations(const TOptions& Options, std::string& Error) {
  // Headless there is no window: no full screen to switch to and no keys to read.
  if (Options.Headless && (Options.FullScreen || Options.Controls)) {
    Error = std::string(Options.FullScreen ? "--fullscreen" : "--controls") +
            " and --headless exclude each other: a headless run has no window";
    return false;
  }
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
  if (Options.Controls) {
    Error = "--controls does not apply to --capture, which renders headless with no window to steer";
    return false;
  }
  // The containers keep time in milliseconds at best (Matroska, WebM), and a frame of more than a
  // second is no video: 1 to 1000 frames per second.
  if (Options.HasFps && (Options.FpsNum < Options.FpsDen || Options.FpsNum > 1000ull * Options.FpsDen)) {
    Error = "--fps: " + std::to_string(Options.FpsNum) +
            (Options.FpsDen != 1 ? "/" + std::to_string(Options.FpsDen) : std::string()) +
            " is outside the frame rates a video can hold (1 to 1000 frames per second)";
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
  // H.264's scale ends at 51, VP9's at 63; lossless video has none.
  if (Options.Lossless && Options.Quality >= 0) {
    Error = "--quality does not apply to --lossless video, which keeps every frame exactly";
    return false;
  }
  if (Container != video::Container::Webm && Options.Quality > 51) {
    Error = "--quality: " + std::to_string(Options.Quality) + " is beyond H.264's scale (0 to 51)";
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
  // A video is written with seeks back to its header: only into a file. (Whether the file can be
  // made in its folder is found when the capture opens it, as for every other output: status 1.)
  struct stat Info {};
  if (stat(File.c_str(), &Info) == 0 && !S_ISREG(Info.st_mode) && !S_ISDIR(Info.st_mode)) {
    Error = "--capture: '" + File + "' is no regular file (a pipe, a device or a socket cannot take a video)";
    return false;
  }
  return true;
}

// The values of one option: "--name=value" gives the first, the parameters after it the rest.
class TArgValues : public TOptionValues {
 public:
  TArgValues(const std::vector<std::string>& Args, size_t& I, const std::string& Name, std::vector<std::string>& Inline,
             std::string& Error)
      : Args(Args), I(I), Name(Name), Inline(Inline), Error(Error) {}
  bool Next(const char* What, std::string& Out) override {
    if (!Inline.empty()) {
      Out = Inline.front();
      Inline.erase(Inline.begin());
      return true;
    }
    if (I + 1 >= Args.size()) {
      Error = Name + " needs " + What;
      return false;
    }
    Out = Args[++I];
    return true;
  }

 private:
  const std::vector<std::string>& Args;
  size_t& I;
  const std::string& Name;
  std::vector<std::string>& Inline;
  std::string& Error;
};

std::string Pad(std::string Text, size_t Width) {
  if (Text.size() < Width) Text.append(Width - Text.size(), ' ');
  return Text;
}

// Help lines: the first after the name column, the rest under it.
std::string HelpLines(const std::string& Column, size_t Width, const std::string& Text) {
  std::string Out;
  size_t From = 0;
  bool First = true;
  for (;;) {
    const size_t End = Text.find('\n', From);
    const std::string Line = Text.substr(From, End == std::string::npos ? std::string::npos : End - From);
    Out += "  " + Pad(First ? Column : "", Width) + Line + "\n";
    First = false;
    if (End == std::string::npos) break;
    From = End + 1;
  }
  return Out;
}

std::string ReadmeCell(const std::string& Text) {
  std::string Out;
  for (char C : Text) {
    if (C == '|') Out += '\\';
    Out += C;
  }
  return Out;
}

}  // namespace

const std::vector<TOptionRow>& OptionTable() { return Options; }
const std::vector<TSwitchRow>& SwitchTable() { return Switches; }

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
    const TOptionRow* Row = nullptr;
    for (const auto& R : OptionTable())
      if (Arg == R.Name) Row = &R;
    if (!Row) {
      Error = "unknown option " + Arg;
      return false;
    }
    TArgValues Values(Args, I, Arg, Inline, Error);
    if (!Row->Read(Values, Options, Error)) return false;
    if (!Inline.empty()) {
      Error = Arg + " takes no value";
      return false;
    }
  }
  return CheckCombinations(Options, Error);
}

std::string HelpText() {
  std::string Text =
      "Usage: Quorvanteplidusk [SWITCH...] [OPTION...]\n"
      "A real-time 3D show of about 105 seconds in five scenes, timed to its music.\n"
      "Escape or closing the window ends it early.\n"
      "\n"
      "Switches (bare words; any parameter that begins with one, in any letter case):\n";
  for (const auto& S : SwitchTable()) Text += HelpLines(S.Name, 11, S.Help);
  Text += "\nOptions:\n";
  for (const auto& O : OptionTable())
    Text += HelpLines(std::string(O.Name) + (*O.Value ? " " : "") + O.Value + " ", 23, O.Help);
  Text +=
      "\n"
      "Exit status: 0 after a normal end, 1 when the show could not run, an output asked for\n"
      "was not written or (with --strict) an asset was unusable, 2 for a bad command line.\n";
  return Text;
}

std::string VersionText() { return std::string("Quorvanteplidusk ") + VK_VERSION + "\n"; }

std::string UnknownSwitchWarning(const std::vector<std::string>& Parameters) {
  auto Matches = [](const std::string& Parameter, const std::string& Name) {
    if (Parameter.size() < Name.size()) return false;
    for (size_t I = 0; I < Name.size(); ++I)
      if (std::toupper(static_cast<unsigned char>(Parameter[I])) != std::toupper(static_cast<unsigned char>(Name[I])))
        return false;
    return true;
  };
  std::string Unknown;
  int Count = 0;
  for (const auto& Parameter : Parameters) {
    bool Known = false;
    for (const auto& S : SwitchTable()) Known = Known || Matches(Parameter, S.Name);
    if (Known) continue;
    Unknown += (Count++ ? ", " : "") + Parameter;
  }
  if (Count == 0) return {};
  std::string Names;
  for (const auto& S : SwitchTable()) Names += (Names.empty() ? "" : ", ") + std::string(S.Name);
  return Unknown + (Count == 1 ? " is no switch" : " are no switches") + " (the switches are " + Names + ")";
}

std::string ReadmeSwitchTable() {
  std::string Text = "| switch | effect |\n|---|---|\n";
  for (const auto& S : SwitchTable()) Text += std::string("| `") + S.Name + "` | " + ReadmeCell(S.Readme) + " |\n";
  return Text;
}

std::string ReadmeOptionTable() {
  std::string Text = "| option | effect |\n|---|---|\n";
  for (const auto& O : OptionTable())
    Text += "| `" + ReadmeCell(std::string(O.Name) + (*O.Value ? " " : "") + O.Value) + "` | " + ReadmeCell(O.Readme) +
            " |\n";
  return Text;
}
