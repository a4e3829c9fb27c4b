// The program's outputs (screenshots, trace, capture) and its stop requests, tried as an unlucky
// user and a careful attacker would: each case starts the built program in a folder of its own
// and checks the exit status, the message and what is left on disk. Nothing of the show may be
// destroyed, nothing unplayable may appear under a final name, nothing may hang, and a request to
// stop is never lost.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/Options.h"
#include "show/Show.h"

namespace {

namespace fs = std::filesystem;

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::set<std::string> Listing(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

// A started program: its standard output and error are kept (in memory, never in a file).
class Started {
 public:
  Started(const fs::path& dir, const std::vector<std::string>& args) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      if (chdir(dir.c_str()) != 0) _exit(126);
      setenv("SDL_AUDIODRIVER", "dummy", 1);
      std::vector<char*> argv{const_cast<char*>("./Quorvanteplidusk")};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv("./Quorvanteplidusk", argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Started() {
    if (!reaped_ && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // Reads what it printed for up to ms (less once it closes its output).
  void Drain(int ms) {
    if (out_ < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n > 0) printed_.append(buffer, size_t(n));
    if (n == 0) {
      close(out_);
      out_ = -1;
    }
  }
  bool Running() {
    if (reaped_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    reaped_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  // The exit status (128 + signal when a signal ended it), or -1 when it still ran after
  // timeoutMs and had to be killed.
  int Wait(int timeoutMs = 180000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Running() && std::chrono::steady_clock::now() < deadline) Drain(20);
    if (Running()) return -1;
    while (out_ >= 0) Drain(100);
    return status_;
  }
  void Signal(int signal) { kill(pid_, signal); }
  const std::string& Printed() const { return printed_; }
  std::string Said() const { return "\n--- the program printed:\n" + printed_ + "---"; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  int status_ = -1;
  std::string printed_;
};

// A folder of its own for each case, with the program, its archive and its music reached through
// symbolic links: an output that replaced one of them would replace only the link.
class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    dir_ = fs::path(testing::TempDir()) / ("vk_outputs_" + std::to_string(getpid()) + "_" + std::to_string(serial++));
    fs::create_directories(dir_);
    for (const char* name : {"Quorvanteplidusk", "Quorvanteplidusk.vkr", "Quorvanteplidusk.ogg"})
      fs::create_symlink(fs::path(VK_RUN_DIR) / name, dir_ / name);
    shown_ = links_ = Listing(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // What the run left besides the program's links (they must still be links).
  std::set<std::string> Left() {
    std::set<std::string> left;
    for (const auto& name : Listing(dir_))
      if (!shown_.count(name)) left.insert(name);
    for (const auto& name : links_) EXPECT_TRUE(fs::is_symlink(dir_ / name)) << name << " was replaced";
    return left;
  }
  fs::path dir_;
  std::set<std::string> shown_, links_;
};

const std::vector<std::string> Small = {"--headless", "--size", "320x180", "--seed", "1"};

std::vector<std::string> With(std::vector<std::string> args) {
  args.insert(args.end(), Small.begin(), Small.end());
  return args;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// ---- Paths --------------------------------------------------------------------------------------

TEST_F(Outputs, PathsThatAreTheShowsOwnFilesOrAnotherOutputAreRefusedBeforeRendering) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {{"--screenshot", "500", "Quorvanteplidusk.vkr"}, "the show's archive"},
      {{"--trace", "Quorvanteplidusk.ogg"}, "the show's music"},
      {{"--trace", "./Quorvanteplidusk.vkr"}, "the show's archive"},
      {{"--screenshot", "500", "Quorvanteplidusk"}, "the program itself"},
      {{"--capture", "Quorvanteplidusk.vkr.mkv", "--screenshot", "1", "Quorvanteplidusk.vkr.mkv"}, "also the file of"},
      {{"--screenshot", "500", "x.out", "--trace", "x.out"}, "also the file of --screenshot"},
      {{"--screenshot", "500", "a.png", "--screenshot", "900", "sub/../a.png"}, "also the file of"},
  };
  fs::create_directory(dir_ / "sub");
  shown_.insert("sub");
  for (const auto& c : cases) {
    Started run(dir_, With(c.args));
    EXPECT_EQ(run.Wait(), 2) << run.Said();
    EXPECT_TRUE(Has(run.Printed(), c.says)) << c.says << run.Said();
    EXPECT_TRUE(Has(run.Printed(), "Quorvanteplidusk: ")) << run.Said();
    EXPECT_EQ(Left(), std::set<std::string>{}) << c.says;
  }
}

TEST_F(Outputs, APlantedSymbolicLinkIsReplacedNeverWrittenThrough) {
  std::ofstream(dir_ / "victim.txt") << "victim";
  // The final names point at the victim, and so do the names older versions wrote under.
  for (const char* name : {"s.png", "t.jsonl", "c.mkv", "c.mkv.part"}) fs::create_symlink("victim.txt", dir_ / name);
  Started shots(dir_, With({"--until", "300", "--fixed-step", "40", "--screenshot", "100", "s.png", "--trace", "t.jsonl"}));
  EXPECT_EQ(shots.Wait(), 0) << shots.Said();
  Started capture(dir_, With({"--capture", "c.mkv", "--until", "200", "--fps", "20"}));
  EXPECT_EQ(capture.Wait(), 0) << capture.Said();
  EXPECT_EQ(ReadText(dir_ / "victim.txt"), "victim");
  for (const char* name : {"s.png", "t.jsonl", "c.mkv"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir_ / name))) << name;
    EXPECT_GT(fs::file_size(dir_ / name), 0u) << name;
  }
  EXPECT_EQ(Left(), (std::set<std::string>{"victim.txt", "s.png", "t.jsonl", "c.mkv", "c.mkv.part"}));
}

TEST_F(Outputs, APipeNobodyReadsIsRefusedAtOnceAndDevicesAreWrittenInPlace) {
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  shown_.insert("pipe");
  for (const auto& args : {std::vector<std::string>{"--screenshot", "100", "pipe"},
                           std::vector<std::string>{"--trace", "pipe"}}) {
    Started run(dir_, With(args));
    // Generous: a run that blocked on the pipe would never end.
    EXPECT_EQ(run.Wait(120000), 1) << run.Said();
    EXPECT_TRUE(Has(run.Printed(), "pipe: nothing reads from this pipe")) << run.Said();
  }
  // A video needs a file it can seek in; the pipe stays a pipe.
  ASSERT_EQ(mkfifo((dir_ / "pipe.mp4").c_str(), 0600), 0);
  shown_.insert("pipe.mp4");
  Started capture(dir_, With({"--capture", "pipe.mp4", "--until", "200"}));
  EXPECT_EQ(capture.Wait(120000), 2) << capture.Said();
  EXPECT_TRUE(Has(capture.Printed(), "is no regular file")) << capture.Said();
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.mp4"));
  Started devnull(dir_, With({"--until", "200", "--trace", "/dev/null", "--screenshot", "100", "/dev/null"}));
  EXPECT_EQ(devnull.Wait(), 0) << devnull.Said();
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// ---- Concurrency --------------------------------------------------------------------------------

TEST_F(Outputs, TwoRunsWritingTheSameFilesEachSucceedAndLeaveOneWholeFile) {
  const auto args = With({"--until", "400", "--fixed-step", "40", "--screenshot", "200", "same.png", "--trace",
                          "same.jsonl"});
  Started first(dir_, args), second(dir_, args);
  EXPECT_EQ(first.Wait(), 0) << first.Said();
  EXPECT_EQ(second.Wait(), 0) << second.Said();
  EXPECT_EQ(Left(), (std::set<std::string>{"same.png", "same.jsonl"}));
  const std::string trace = ReadText(dir_ / "same.jsonl");
  EXPECT_EQ(std::count(trace.begin(), trace.end(), '\n'), 10) << trace;  // 40 .. 400 ms, one run's
}

// ---- Signals ------------------------------------------------------------------------------------

// A stop request at any moment of the run ends it: the show never plays on to its end. The delays
// run from before the handlers exist (the default action then ends it) through loading and the
// pause to the scenes.
TEST_F(Outputs, AStopRequestAtAnyMomentEndsTheRun) {
  int n = 0;
  for (int delayMs : {0, 10, 30, 50, 70, 90, 150, 300, 600, 1000, 1500, 2200, 3000}) {
    const int signal = n++ % 2 ? SIGINT : SIGTERM;
    const std::string trace = "t" + std::to_string(delayMs) + ".jsonl";
    Started run(dir_, With({"--fixed-step", "40", "--trace", trace}));
    run.Drain(delayMs);
    run.Signal(signal);
    const int status = run.Wait();
    ASSERT_NE(status, -1) << "still running after the request at " << delayMs << " ms" << run.Said();
    // Handled, the request ends the show like its close box (status 0); before the handlers are
    // there, the signal's default action ends the process.
    EXPECT_TRUE(status == 0 || status == 128 + signal) << delayMs << " ms: " << status << run.Said();
    const std::string frames = ReadText(dir_ / trace);
    const auto last = frames.rfind("{\"frame\":");
    if (last != std::string::npos) {
      const long time = std::strtol(frames.c_str() + frames.find("\"time\":", last) + 7, nullptr, 10);
      EXPECT_LT(time, long(ShowEndTime) - 40) << "played to the end despite the request at " << delayMs << " ms";
    }
    std::error_code ignored;
    fs::remove(dir_ / trace, ignored);
  }
  EXPECT_EQ(Left(), std::set<std::string>{});
}

TEST_F(Outputs, ACaptureStoppedBeforeItsFirstFrameLeavesNoFile) {
  // The replay up to --start comes before the first frame; the request comes once the capture's
  // temporary file shows the capture has begun.
  Started run(dir_, With({"--capture", "c.mp4", "--start", "60000", "--fps", "20"}));
  bool begun = false;
  for (int i = 0; i < 3000 && !begun && run.Running(); ++i) {
    run.Drain(20);
    for (const auto& name : Left()) begun = begun || name.rfind(".c.mp4.", 0) == 0;
  }
  ASSERT_TRUE(begun) << run.Said();
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(), 128 + SIGTERM) << run.Said();
  EXPECT_TRUE(Has(run.Printed(), "before the first frame: nothing was captured")) << run.Said();
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// ---- Rates and combinations ---------------------------------------------------------------------

TEST_F(Outputs, RatesAndCombinationsACaptureCannotHoldAreRefused) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--capture", "c.mkv", "--fps", "1000000"}, "--fps: 1000000 is outside"},
      {{"--capture", "c.webm", "--fps", "100000"}, "--fps: 100000 is outside"},
      {{"--capture", "c.mp4", "--fps", "1/1000000"}, "--fps: 1/1000000 is outside"},
      {{"--capture", "c.mp4", "--fps", "1/3600"}, "1 to 1000 frames per second"},
      {{"--capture", "c.mp4", "--quality", "60"}, "--quality: 60 is beyond H.264's scale"},
      {{"--capture", "c.mp4", "--controls"}, "--controls"},
      {{"--fullscreen"}, "--fullscreen and --headless"},
      {{"--controls"}, "--controls and --headless"},
  };
  for (const auto& [args, says] : cases) {
    Started run(dir_, With(args));
    EXPECT_EQ(run.Wait(), 2) << says << run.Said();
    EXPECT_TRUE(Has(run.Printed(), says)) << says << run.Said();
  }
  TOptions options;
  std::string error;
  EXPECT_TRUE(ParseOptions({"--capture", "c.webm", "--fps", "1000", "--quality", "63"}, options, error)) << error;
  options = {};
  EXPECT_TRUE(ParseOptions({"--capture", "c.mp4", "--fps", "1", "--quality", "51"}, options, error)) << error;
  options = {};
  EXPECT_TRUE(ParseOptions({"--fps", "1/3600"}, options, error)) << error;  // no capture: only a step
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// ---- Messages -----------------------------------------------------------------------------------

TEST_F(Outputs, MessagesNameTheTrueCause) {
  Started typo(dir_, With({"SHOWFSP", "--until", "100"}));
  EXPECT_EQ(typo.Wait(), 0) << typo.Said();
  EXPECT_TRUE(Has(typo.Printed(), "Quorvanteplidusk: warning: SHOWFSP is no switch (the switches are DEBUG, SHOWFPS, NOVSYNC, GENTLE, CODA)"))
      << typo.Said();
  Started known(dir_, With({"showfps2", "--until", "100"}));
  EXPECT_EQ(known.Wait(), 0) << known.Said();
  EXPECT_FALSE(Has(known.Printed(), "no switch")) << known.Said();

  // Help and version that could not be written are a failure.
  for (const char* option : {"--help", "--version"}) {
    const std::string command = "cd '" + dir_.string() + "' && ./Quorvanteplidusk " + option + " > /dev/full";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << option;
  }
  EXPECT_EQ(Left(), std::set<std::string>{});
}

}  // namespace
