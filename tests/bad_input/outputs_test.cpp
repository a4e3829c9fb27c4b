// The program's outputs (screenshots, trace, capture) and its stop requests, tried as an unlucky
// user and a careful attacker would: each case starts the built program in a folder of its own
// and checks the exit status, the message and what is left on disk. Nothing of the show may be
// destroyed, nothing unplayable may appear under a final name, nothing may hang, and a request to
// stop is never lost.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/Options.h"
#include "show/Show.h"
#include "tests/support/process.h"

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

// The program started through the case folder's own link, with silent audio.
struct Started : vktest::Process {
  Started(const fs::path& dir, const std::vector<std::string>& args)
      : vktest::Process("./Quorvanteplidusk", args, {dir.string(), {"SDL_AUDIODRIVER=dummy"}}) {}
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
    EXPECT_EQ(run.Wait(), 2) << run.Printed();
    EXPECT_TRUE(Has(run.Output(), c.says)) << c.says << run.Printed();
    EXPECT_TRUE(Has(run.Output(), "Quorvanteplidusk: ")) << run.Printed();
    EXPECT_EQ(Left(), std::set<std::string>{}) << c.says;
  }
}

// A link is neither written through (a planted link would turn the output into someone else's
// file) nor replaced (/dev/stdout is one): an output named by a link to a file, or by a dangling
// one, is refused before anything runs, and the link and what it points to stay as they were.
TEST_F(Outputs, APlantedSymbolicLinkIsRefusedNeverWrittenThroughNorReplaced) {
  std::ofstream(dir_ / "victim.txt") << "victim";
  for (const char* name : {"s.png", "t.jsonl", "c.mkv"}) fs::create_symlink("victim.txt", dir_ / name);
  fs::create_symlink("nowhere.txt", dir_ / "d.jsonl");
  for (const auto& args : {std::vector<std::string>{"--screenshot", "100", "s.png"},
                           std::vector<std::string>{"--trace", "t.jsonl"}, std::vector<std::string>{"--trace", "d.jsonl"},
                           std::vector<std::string>{"--capture", "c.mkv", "--fps", "20"}}) {
    Started run(dir_, With(args));
    EXPECT_EQ(run.Wait(), 1) << run.Printed();
    EXPECT_TRUE(Has(run.Output(), "is a symbolic link")) << run.Printed();
  }
  EXPECT_EQ(ReadText(dir_ / "victim.txt"), "victim");
  for (const char* name : {"s.png", "t.jsonl", "c.mkv", "d.jsonl"}) EXPECT_TRUE(fs::is_symlink(dir_ / name)) << name;
  EXPECT_EQ(Left(), (std::set<std::string>{"victim.txt", "s.png", "t.jsonl", "c.mkv", "d.jsonl"}));
}

// The program's own streams named as outputs (what /dev/stdout links to) are written through the
// stream as the shell set it up: a redirected file gets the frames at its end, never a file renamed
// over the link, a closed stream is refused. Nothing is created among the devices.
TEST_F(Outputs, AStreamNamedAsAnOutputIsWrittenThroughTheStream) {
  const auto shell = [&](const std::string& command) {
    return vktest::Run("/bin/sh", {"-c", command}, {dir_.string(), {"SDL_AUDIODRIVER=dummy"}, true});
  };
  const std::string run = "./Quorvanteplidusk --headless --size 64x36 --seed 1 --fixed-step 40 --until 200 ";
  std::ofstream(dir_ / "out.txt") << "before\n";
  for (const char* name : {"/dev/fd/1", "/proc/self/fd/1"}) {
    const vktest::Finished r = shell(run + "--trace " + name + " >> out.txt");
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
  }
  const std::string out = ReadText(dir_ / "out.txt");
  EXPECT_EQ(out.rfind("before\n{\"frame\":1,", 0), 0u) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 11) << out;  // five frames, twice
  const vktest::Finished shot = shell(run + "--screenshot 100 /dev/fd/1 > shot.png");
  EXPECT_EQ(shot.status, 0) << shot.err;
  EXPECT_EQ(ReadText(dir_ / "shot.png").substr(1, 3), "PNG");
  const vktest::Finished closed = shell(run + "--trace /dev/fd/1 >&-");
  EXPECT_EQ(closed.status, 1) << closed.err;
  EXPECT_TRUE(Has(closed.err, "/dev/fd/1: the program was started with that stream closed")) << closed.err;
  // A name among the devices that does not exist is not made there.
  const std::string device = "/dev/vk-no-such-output-" + std::to_string(getpid());
  const vktest::Finished missing = shell(run + "--trace " + device);
  EXPECT_EQ(missing.status, 1) << missing.err;
  EXPECT_TRUE(Has(missing.err, "not created among devices")) << missing.err;
  EXPECT_FALSE(fs::exists(fs::symlink_status(device)));
  std::error_code ignored;
  fs::remove(device, ignored);
  const vktest::Finished video = shell("./Quorvanteplidusk --size 64x36 --capture /dev/fd/1.mkv --until 100 > v.mkv");
  EXPECT_EQ(video.status, 1) << video.err;
  EXPECT_TRUE(Has(video.err, "names a device or a stream")) << video.err;
  EXPECT_EQ(Left(), (std::set<std::string>{"out.txt", "shot.png", "v.mkv"}));
}

// An existing output is replaced only by a complete one: a run that fails, or that is stopped
// before its first frame (which is no success either), leaves it as it was.
TEST_F(Outputs, AFailedOrStoppedRunLeavesAnExistingOutputAlone) {
  std::ofstream(dir_ / "t.jsonl") << "old";
  fs::remove(dir_ / "Quorvanteplidusk.vkr");
  std::ofstream(dir_ / "Quorvanteplidusk.vkr") << "this is no archive";
  Started failed(dir_, With({"--fixed-step", "40", "--until", "200", "--trace", "t.jsonl"}));
  EXPECT_EQ(failed.Wait(), 1) << failed.Printed();
  EXPECT_TRUE(Has(failed.Output(), "t.jsonl: not written")) << failed.Printed();
  EXPECT_EQ(ReadText(dir_ / "t.jsonl"), "old");
  fs::remove(dir_ / "Quorvanteplidusk.vkr");
  fs::create_symlink(fs::path(VK_RUN_DIR) / "Quorvanteplidusk.vkr", dir_ / "Quorvanteplidusk.vkr");
  // The replay up to --start comes before the first frame; the request comes once the trace's
  // temporary file shows the run has begun.
  Started stopped(dir_, With({"--fixed-step", "40", "--start", "100000", "--trace", "t.jsonl"}));
  bool begun = false;
  for (int i = 0; i < 3000 && !begun && stopped.Running(); ++i) {
    stopped.Drain(20);
    for (const auto& name : Left()) begun = begun || name.rfind(".t.jsonl.", 0) == 0;
  }
  ASSERT_TRUE(begun) << stopped.Printed();
  stopped.Signal(SIGINT);
  EXPECT_EQ(stopped.Wait(), 128 + SIGINT) << stopped.Printed();
  EXPECT_TRUE(Has(stopped.Output(), "interrupted by Ctrl+C before the first frame")) << stopped.Printed();
  EXPECT_EQ(ReadText(dir_ / "t.jsonl"), "old");
  EXPECT_EQ(Left(), std::set<std::string>{"t.jsonl"});
}

TEST_F(Outputs, APipeNobodyReadsIsRefusedAtOnceAndDevicesAreWrittenInPlace) {
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  shown_.insert("pipe");
  for (const auto& args : {std::vector<std::string>{"--screenshot", "100", "pipe"},
                           std::vector<std::string>{"--trace", "pipe"}}) {
    Started run(dir_, With(args));
    // Generous: a run that blocked on the pipe would never end.
    EXPECT_EQ(run.Wait(120000), 1) << run.Printed();
    EXPECT_TRUE(Has(run.Output(), "pipe: nothing reads from this pipe")) << run.Printed();
  }
  // A video needs a file it can seek in; the pipe stays a pipe.
  ASSERT_EQ(mkfifo((dir_ / "pipe.mp4").c_str(), 0600), 0);
  shown_.insert("pipe.mp4");
  Started capture(dir_, With({"--capture", "pipe.mp4", "--until", "200"}));
  EXPECT_EQ(capture.Wait(120000), 2) << capture.Printed();
  EXPECT_TRUE(Has(capture.Output(), "is no regular file")) << capture.Printed();
  EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.mp4"));
  Started devnull(dir_, With({"--until", "200", "--trace", "/dev/null", "--screenshot", "100", "/dev/null"}));
  EXPECT_EQ(devnull.Wait(), 0) << devnull.Printed();
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// ---- Concurrency --------------------------------------------------------------------------------

TEST_F(Outputs, TwoRunsWritingTheSameFilesEachSucceedAndLeaveOneWholeFile) {
  const auto args = With({"--until", "400", "--fixed-step", "40", "--screenshot", "200", "same.png", "--trace",
                          "same.jsonl"});
  Started first(dir_, args), second(dir_, args);
  EXPECT_EQ(first.Wait(), 0) << first.Printed();
  EXPECT_EQ(second.Wait(), 0) << second.Printed();
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
    ASSERT_NE(status, -1) << "still running after the request at " << delayMs << " ms" << run.Printed();
    // Handled, the request ends the show like its close box (status 0); before the handlers are
    // there, the signal's default action ends the process.
    EXPECT_TRUE(status == 0 || status == 128 + signal) << delayMs << " ms: " << status << run.Printed();
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
  ASSERT_TRUE(begun) << run.Printed();
  run.Signal(SIGTERM);
  EXPECT_EQ(run.Wait(), 128 + SIGTERM) << run.Printed();
  EXPECT_TRUE(Has(run.Output(), "before the first frame: nothing was captured")) << run.Printed();
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// A closed terminal (SIGHUP) is a request to stop like Ctrl+C; SIGQUIT and a second request end
// the process at once, the default way, but never leave the capture's temporary file behind.
TEST_F(Outputs, EverySignalThatEndsARunTakesItsTemporaryFilesAlong) {
  struct Case {
    std::vector<int> signals;
    std::set<int> statuses;
  };
  const std::vector<Case> cases = {{{SIGHUP}, {128 + SIGHUP}},
                                   {{SIGQUIT}, {128 + SIGQUIT}},
                                   {{SIGTERM, SIGINT}, {128 + SIGINT, 128 + SIGTERM}}};
  for (const auto& c : cases) {
    Started run(dir_, With({"--capture", "c.mkv", "--start", "100000", "--fps", "20", "--trace", "t.jsonl"}));
    bool begun = false;
    for (int i = 0; i < 3000 && !begun && run.Running(); ++i) {
      run.Drain(20);
      for (const auto& name : Left()) begun = begun || name.rfind(".c.mkv.", 0) == 0;
    }
    ASSERT_TRUE(begun) << run.Printed();
    for (int signal : c.signals) run.Signal(signal);
    const int status = run.Wait();
    EXPECT_TRUE(c.statuses.count(status)) << c.signals.front() << ": " << status << run.Printed();
    if (c.signals.front() == SIGHUP) {
      EXPECT_TRUE(Has(run.Output(), "interrupted by SIGHUP before the first frame")) << run.Printed();
    }
    EXPECT_EQ(Left(), std::set<std::string>{}) << c.signals.front();
  }
}

// What the system refuses the run (a handful of open files, a file size limit, little memory)
// ends it with a message that says so and status 1, never a crash, and leaves nothing behind.
TEST_F(Outputs, ResourceLimitsEndTheRunWithAMessage) {
  const auto limited = [&](const std::string& limit, const std::string& args) {
    return vktest::Run("/bin/sh", {"-c", limit + " && exec ./Quorvanteplidusk --headless --size 64x36 " + args},
                       {dir_.string(), {"SDL_AUDIODRIVER=dummy"}, true});
  };
#ifndef __SANITIZE_ADDRESS__  // the sanitizers open files of their own (symbols, reports) and fail first
  const vktest::Finished files = limited("ulimit -n 5", "--fixed-step 40 --until 200 --trace t.jsonl");
  EXPECT_EQ(files.status, 1) << files.err;
  EXPECT_TRUE(Has(files.err, "only 5 files may be open at once (ulimit -n)")) << files.err;
#endif
  // 100 blocks of 512 bytes: a lossless video is past them within a few frames.
  const vktest::Finished size = limited("ulimit -f 100", "--size 320x180 --capture c.mkv --lossless --until 3000");
  EXPECT_EQ(size.status, 1) << size.err;
  EXPECT_TRUE(Has(size.err, "c.mkv: ") && Has(size.err, "File too large")) << size.err;
  const vktest::Finished trace = limited("ulimit -f 1", "--fixed-step 40 --until 4000 --trace t.jsonl");
  EXPECT_EQ(trace.status, 1) << trace.err;
  EXPECT_TRUE(Has(trace.err, "t.jsonl: File too large")) << trace.err;
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's own memory map needs an unlimited address space
  const vktest::Finished memory = limited("ulimit -v 300000", "--fixed-step 40 --until 200");
  if (memory.status != 0) {  // a driver that fits in 292 MiB runs the show
    EXPECT_EQ(memory.status, 1) << memory.err;
    EXPECT_TRUE(Has(memory.err, "MiB of memory (ulimit -v)")) << memory.err;
  }
#endif
  EXPECT_EQ(Left(), std::set<std::string>{});
}

// A reader that goes away is a failed output, not a process killed by SIGPIPE.
TEST_F(Outputs, APipeWhoseReaderLeavesFailsTheOutput) {
  const vktest::Finished r = vktest::Run(
      "/bin/sh",
      {"-c", "(./Quorvanteplidusk --headless --size 64x36 --fixed-step 40 --until 20000 --trace /dev/fd/1; "
                   "echo $? >&3) 3>status | head -c 1 > /dev/null"},
      {dir_.string(), {"SDL_AUDIODRIVER=dummy"}, true});
  EXPECT_EQ(ReadText(dir_ / "status"), "1\n") << r.err;
  EXPECT_TRUE(Has(r.err, "/dev/fd/1: Broken pipe")) << r.err;
  fs::remove(dir_ / "status");
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
    EXPECT_EQ(run.Wait(), 2) << says << run.Printed();
    EXPECT_TRUE(Has(run.Output(), says)) << says << run.Printed();
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
  EXPECT_EQ(typo.Wait(), 0) << typo.Printed();
  EXPECT_TRUE(Has(typo.Output(), "Quorvanteplidusk: warning: SHOWFSP is no switch (the switches are DEBUG, SHOWFPS, NOVSYNC, GENTLE, CODA)"))
      << typo.Printed();
  Started known(dir_, With({"showfps2", "--until", "100"}));
  EXPECT_EQ(known.Wait(), 0) << known.Printed();
  EXPECT_FALSE(Has(known.Output(), "no switch")) << known.Printed();

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
