#pragma once
// A private X server for the dialog tests: Xvfb on a display number it picks itself
// (never the caller's DISPLAY), plus the few X requests the tests need to drive windows.

#include <string>
#include <vector>

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
  const std::string& Error() const { return error_; }
  const std::string& Display() const { return display_; }  // ":N"

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

  // What a window manager sends when the close box is clicked.
  bool SendCloseBox(unsigned long window) const;

  // Types keys (xdotool key names) into the window after giving it the keyboard focus.
  bool Keys(unsigned long window, const std::string& keys) const;
  // Clicks the left button at a point of the window's client area.
  bool Click(unsigned long window, int x, int y) const;

  // Saves the window's client area as an RGB PNG.
  bool SavePng(unsigned long window, const std::string& file) const;

 private:
  int pid_ = -1;
  std::string display_;
  std::string error_;
};

// A program started on the server's display, its stderr kept in a string.
class Process {
 public:
  Process(const Xvfb& server, const std::string& program, const std::vector<std::string>& args,
          const std::string& workingDir);
  ~Process();  // kills the program if it still runs
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running();
  // Waits for the end; the exit status, or -1 on a signal or a timeout.
  int Wait(int timeoutMs);
  const std::string& Stderr();

 private:
  int pid_ = -1;
  int errFd_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  std::string err_;
};

// Reads everything a child wrote into `fd` until it closes it or `timeoutMs` passes.
std::string ReadAll(int fd, int timeoutMs);

}  // namespace xtest
