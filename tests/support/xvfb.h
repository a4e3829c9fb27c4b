#pragma once
// A private X server for the tests that need a real display: Xvfb on a display number it picks
// itself (never the caller's DISPLAY), plus the few X requests the tests need to drive windows.
//
// Every test that needs an X server starts it through this class. The server chooses a free
// display number atomically (-displayfd: it binds the first free socket and reports the number
// once it accepts clients), so any number of test programs, of this checkout or another on the
// same machine, can start servers side by side; picking a number by looking for a free lock file
// and then starting a server on it races with everyone else doing the same.

#include <string>
#include <vector>

#include "tests/support/process.h"

namespace xtest {

class Xvfb {
 public:
  // Starts Xvfb with one screen of `size` ("WxH") at `dpi`; -noreset keeps xrandr modes
  // alive after the last client leaves. Ok() is false when Xvfb is missing or fails to start.
  explicit Xvfb(int dpi = 96, const std::string& size = "1920x1080");
  ~Xvfb();
  Xvfb(const Xvfb&) = delete;
  Xvfb& operator=(const Xvfb&) = delete;

  bool Ok() const { return pid_ > 0; }
  // Why the server did not start, with what it printed.
  const std::string& Error() const { return error_; }
  const std::string& Display() const { return display_; }  // ":N"
  // Why a test that drives windows with `tools` (xdotool, xrandr ...) cannot run here: the
  // server did not start or a tool is missing; empty when it can.
  std::string Lacks(const std::vector<std::string>& tools = {}) const;

  // Adds a mode with exact timings for `refresh` Hz to the server's output via xrandr.
  bool AddMode(int width, int height, int refresh);

  // Runs a shell command with DISPLAY set to this server; returns its exit status and stdout.
  int Run(const std::string& command, std::string* out = nullptr) const;

  // The first mapped top-level window whose name starts with `prefix` (or is exactly
  // `prefix`), waiting up to `timeoutMs`; 0 when none appears.
  unsigned long WaitForWindow(const std::string& prefix, int timeoutMs, bool exact = false) const;
  // Mapped top-level windows whose name starts with (or is) `prefix`.
  std::vector<unsigned long> Windows(const std::string& prefix, bool exact = false) const;
  // Names of all mapped top-level windows.
  std::vector<std::string> WindowNames() const;

  struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
  };
  bool GetGeometry(unsigned long window, Geometry& g) const;
  // The screen's current size as "WxH" (it follows a full-screen mode switch).
  std::string ScreenSize() const;
  // The output's current mode as xrandr reports it: "WxH@Hz" with the rate rounded to whole
  // hertz, e.g. "1024x768@60"; empty when xrandr cannot tell.
  std::string CurrentMode() const;
  // Switches the output to a mode (by the name AddMode gave it: "WxH_Hz", or the screen's own
  // "WxH"), as a user would with xrandr.
  bool SetMode(const std::string& name);

  // What a window manager sends when the close box is clicked.
  bool SendCloseBox(unsigned long window) const;

  // Types keys (xdotool key names) into the window after giving it the keyboard focus.
  bool Keys(unsigned long window, const std::string& keys) const;
  // Clicks the left button at a point of the window's client area.
  bool Click(unsigned long window, int x, int y) const;
  // Moves the pointer to a point of the window's client area.
  bool MovePointer(unsigned long window, int x, int y) const;
  // True when the cursor the pointer shows now is fully transparent (a hidden cursor).
  bool CursorBlank() const;

  // Saves the window's client area as an RGB PNG.
  bool SavePng(unsigned long window, const std::string& file) const;

 private:
  int pid_ = -1;
  std::string display_;
  std::string error_;
};

// A program started on the server's display (with no Wayland, and silent audio), its standard
// output and error kept interleaved as written.
class Process : public vktest::Process {
 public:
  // `extraEnv` holds "NAME=value" entries set in the program's environment ("NAME" removes one).
  Process(const Xvfb& server, const std::string& program, const std::vector<std::string>& args,
          const std::string& workingDir, const std::vector<std::string>& extraEnv = {});
};

}  // namespace xtest
