#pragma once
// A program the tests start and watch: what it prints is kept in memory (never in a file that a
// crashed test would leave behind), so a failing check can show why the program did what it did.
// Needs no display; the X tests add theirs through the environment (tests/support/xvfb.h).

#include <functional>
#include <string>
#include <vector>

namespace vktest {

struct ProcessOptions {
  // The folder the program runs in; empty keeps the test's own.
  std::string dir;
  // "NAME=value" sets NAME, a bare "NAME" removes it; applied in order, over the test's environment.
  std::vector<std::string> env;
  // Standard output and standard error kept apart (Output() and Errors()) instead of interleaved
  // as written (both in Output()).
  bool apart = false;
};

// How a run ended: the status Process::Wait gives and what the program printed (`err` stays empty
// unless standard error is kept apart).
struct Finished {
  int status = -1;
  std::string out, err;
};

class Process {
 public:
  // Starts `program` with `args` (argv[0] is the program); standard input is /dev/null.
  Process(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options = {});
  // Runs `body` in a forked copy of the test program instead; the copy ends with status 0 when
  // `body` returns.
  explicit Process(const std::function<void()>& body, const ProcessOptions& options = {});
  ~Process();  // kills the program if it still runs
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  bool Running();
  // Reads what the program prints for up to `ms` (less once something arrives or it has closed
  // its output); a plain pause when nothing is left to read.
  void Drain(int ms);
  // Waits for the end and for the rest of what it printed: the exit status, 128 + the signal
  // that ended it, or -1 when it still runs after `timeoutMs` (the destructor then kills it).
  int Wait(int timeoutMs = 180000);
  // Waits as Wait does and hands over what the program printed.
  Finished Finish(int timeoutMs = 180000);
  // Sends a signal (SIGINT, SIGTERM ...) to the program while it runs.
  bool Signal(int signal);
  // What the program printed so far: standard output and standard error, or only standard
  // output when they are kept apart.
  const std::string& Output();
  const std::string& Errors();
  // All of it, framed for a failure message.
  std::string Printed();

 private:
  void Start(const std::function<void()>& child, const ProcessOptions& options);
  bool ReadFrom(int& fd, std::string& into);

  int pid_ = -1;
  int outFd_ = -1, errFd_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  std::string out_, err_;
};

// Starts a program and waits for its end.
Finished Run(const std::string& program, const std::vector<std::string>& args, const ProcessOptions& options = {},
             int timeoutMs = 180000);

}  // namespace vktest
