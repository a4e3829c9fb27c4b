#pragma once
// Long options for tests and for people who make shows. They all start with "--", so they can
// never be mistaken for the show's bare-word switches ("DEBUG", "SHOWFPS", "NOVSYNC"), and they are
// kept out of the switch test.
//
// Both lists are tables (Options.cpp): one row per switch and per option gives its name, its help
// lines, its line in the README and, for an option, how its value is read. The parser, --help and
// (through a test) the README's tables come from them.

#include <cstdint>
#include <string>
#include <vector>

struct TScreenshotRequest {
  uint32_t Time = 0;  // ms of the demo clock
  std::string File;
  bool Done = false;
};

struct TOptions {
  bool Help = false;
  bool Version = false;
  bool Headless = false;
  uint32_t FixedStep = 0;  // ms per frame; 0 = the real clock
  bool HasUntil = false;
  uint32_t Until = 0;
  int Width = 1280;  // the "DEBUG" resolution, and the --fullscreen one
  int Height = 720;
  bool FullScreen = false;  // full screen at Width x Height without the setup dialog
  std::vector<TScreenshotRequest> Screenshots;
  std::string TraceFile;
  bool HasSeed = false;
  uint32_t Seed = 0;
  std::string Backend = "gl";
  bool Strict = false;  // an asset the show must do without fails the run at the end of loading
  int MultiSample = 0;  // samples per pixel (2, 4 or 8); 0 = off
  float PostScale = 1.0f;  // the post effect's picture, as a fraction of the screen's size
  bool GfxDebug = false;  // the graphics layer's debug output (on anyway in debug builds)
  std::vector<std::string> Switches;  // every parameter that is not an option or an option's value

  // Capture, seek and playback.
  std::string CaptureFile;  // --capture: render headless into this video file
  bool HasFps = false;      // --fps N[/D]: a fixed step of exactly D/N s (default 60/1 for a capture)
  uint32_t FpsNum = 60;
  uint32_t FpsDen = 1;
  bool HasStart = false;  // --start MS: begin at this show time (replayed from 0)
  uint32_t Start = 0;
  bool HasSize = false;   // --size was given
  bool Lossless = false;  // --lossless: FFV1 in .mkv
  int Quality = -1;       // --quality: CRF-like, -1 = the encoder's default
  bool Controls = false;  // --controls: Space, Left, Right, Home in a window
  bool WallClock = false;  // --wall-clock: a live run's clock ignores the music heard
};

// The values that follow an option on the command line ("--name value" or "--name=value").
class TOptionValues {
 public:
  virtual ~TOptionValues() = default;
  // The next value into Out; false (the parse fails with "--name needs What") when there is none.
  virtual bool Next(const char* What, std::string& Out) = 0;
};

// One long option.
struct TOptionRow {
  const char* Name;    // "--fixed-step"
  const char* Value;   // what follows it in the help ("MS", "WxH"); "" when it takes no value
  const char* Help;    // its text in --help; lines after the first continue it
  const char* Readme;  // its line in the README's table of options
  // Reads its values into Options; false with Error set when a value is bad.
  bool (*Read)(TOptionValues& Values, TOptions& Options, std::string& Error);
};

// One bare-word switch, matched by prefix in any letter case (HasSwitch).
struct TSwitchRow {
  const char* Name;    // "SHOWFPS"
  const char* Help;    // its text in --help
  const char* Readme;  // its line in the README's table of switches
};

const std::vector<TOptionRow>& OptionTable();
const std::vector<TSwitchRow>& SwitchTable();

// Parses the parameters after the program name. False with Error set for an unknown option, a
// missing or malformed value.
bool ParseOptions(const std::vector<std::string>& Args, TOptions& Options, std::string& Error);
std::string HelpText();
// The warning for parameters that begin with none of the switches ("SHOWFSP is no switch (the
// switches are DEBUG, SHOWFPS, NOVSYNC)"); empty when every one is a switch.
std::string UnknownSwitchWarning(const std::vector<std::string>& Parameters);
std::string VersionText();
// The README's two tables (switches, then options), header rows included, as Markdown.
std::string ReadmeSwitchTable();
std::string ReadmeOptionTable();
