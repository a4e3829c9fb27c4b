// The built program, run as a user would run it (headless, so no display is needed).

#include <gtest/gtest.h>
#include "tests/support/png_file.h"
#include "tests/support/process.h"
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

// A scratch folder of this process (ctest runs the tests of this program in parallel processes),
// removed with everything in it when the process ends, whatever the test's outcome.
struct ScratchFolder {
  std::filesystem::path path =
      std::filesystem::path(testing::TempDir()) / ("e2e_" + std::to_string(getpid()));
  ScratchFolder() { std::filesystem::create_directories(path); }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

std::string Scratch(const std::string& name) {
  static ScratchFolder folder;
  return (folder.path / name).string();
}

using Outcome = vktest::Finished;

std::string ReadAll(const std::string& file) {
  std::ifstream in(file);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs the program in `dir`; `unsetDisplay` removes every way to reach a display; `signalAfterMs`
// sends SIGTERM that long after the start.
Outcome RunProgram(const std::vector<std::string>& args, const std::string& dir = VK_RUN_DIR, bool unsetDisplay = false,
            int signalAfterMs = -1, int timeoutMs = 60000) {
  vktest::ProcessOptions options{dir, {}, true};
  // No fallback to an offscreen driver.
  if (unsetDisplay) options.env = {"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER=x11"};
  vktest::Process run(Program, args, options);
  if (signalAfterMs >= 0 && run.Wait(signalAfterMs) == -1) run.Signal(SIGTERM);
  return run.Finish(timeoutMs);
}

bool PngSize(const std::string& file, unsigned& w, unsigned& h, std::vector<uint8_t>& rgba) {
  return vktest::ReadPngFile(file, w, h, rgba);
}

TEST(EndToEnd, HelpVersionAndBadOptions) {
  Outcome help = RunProgram({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--headless"), std::string::npos);
  EXPECT_NE(help.out.find("DEBUG"), std::string::npos);
  Outcome version = RunProgram({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("Quorvanteplidusk ", 0), 0u);
  Outcome bad = RunProgram({"--frobnicate"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("unknown option --frobnicate"), std::string::npos);
  Outcome missing = RunProgram({"--size"});
  EXPECT_EQ(missing.status, 2);
}

TEST(EndToEnd, HeadlessRunWritesTheScreenshotAndTheTraceAndEndsCleanly) {
  const std::string shot = Scratch("shot.png");
  const std::string trace = Scratch("trace.jsonl");
  std::remove(shot.c_str());
  Outcome run = RunProgram({"--headless", "--size", "320x180", "--until", "2000", "--screenshot", "1000", shot, "--trace",
                     trace, "--seed", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  unsigned w = 0, h = 0;
  std::vector<uint8_t> rgba;
  ASSERT_TRUE(PngSize(shot, w, h, rgba));
  EXPECT_EQ(w, 320u);
  EXPECT_EQ(h, 180u);
  // Every pixel is opaque: the back buffer was really drawn.
  for (size_t i = 3; i < rgba.size(); i += 4) ASSERT_EQ(rgba[i], 255) << "pixel " << i / 4;

  std::ifstream in(trace);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_FALSE(lines.empty());
  long lastTime = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    ASSERT_EQ(l.rfind("{\"frame\":" + std::to_string(i + 1) + ",", 0), 0u) << l;
    ASSERT_EQ(l.back(), '}');
    const auto t = l.find("\"time\":");
    ASSERT_NE(t, std::string::npos);
    const long time = std::strtol(l.c_str() + t + 7, nullptr, 10);
    EXPECT_GE(time, lastTime);
    lastTime = time;
  }
  EXPECT_GE(lastTime, 2000);
  std::remove(shot.c_str());
  std::remove(trace.c_str());
}

TEST(EndToEnd, FixedStepRunIsRepeatable) {
  const std::string a = Scratch("a.jsonl"), b = Scratch("b.jsonl");
  for (const auto& file : {a, b}) {
    Outcome run = RunProgram({"--headless", "--size", "160x90", "--fixed-step", "40", "--until", "1000", "--seed", "7",
                       "--trace", file});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  // The frame rate, the wall-clock frame time and the music position follow the real clock and may
  // differ; everything else is the same.
  auto strip = [](std::string text) {
    for (const char* key : {",\"fps\":", ",\"wall_ms\":", ",\"music_pos\":"}) {
      for (auto at = text.find(key); at != std::string::npos; at = text.find(key, at)) {
        const auto end = text.find_first_of(",}", at + std::strlen(key));
        text.erase(at, end - at);
      }
    }
    return text;
  };
  const std::string ta = strip(ReadAll(a)), tb = strip(ReadAll(b));
  EXPECT_EQ(ta, tb);
  EXPECT_EQ(std::count(ta.begin(), ta.end(), '\n'), 25);  // 40, 80, ... 1000
  std::remove(a.c_str());
  std::remove(b.c_str());
}

TEST(EndToEnd, WithoutADisplayItSaysHowToRunHeadless) {
  Outcome run = RunProgram({"DEBUG"}, VK_RUN_DIR, /*unsetDisplay*/ true);
  EXPECT_NE(run.status, 0);
  EXPECT_LT(run.status, 128) << "crashed";
  EXPECT_NE(run.err.find("--headless"), std::string::npos) << run.err;
}

TEST(EndToEnd, TerminationSignalEndsTheShowLikeTheCloseBox) {
  const auto start = std::chrono::steady_clock::now();
  Outcome run = RunProgram({"--headless", "--size", "160x90"}, VK_RUN_DIR, false, /*signalAfterMs*/ 2500, 30000);
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(seconds, 20);
}

// The blur's full-screen quad covers the last column and row too, at a size of odd numbers:
// they show the scene like their neighbours rather than an old picture.
TEST(EndToEnd, LastColumnAndRowFollowTheSceneAtAnOddSize) {
  const std::vector<int> moments = {40000, 50000, 85000};  // scenes two, three and four
  std::vector<std::string> args = {"--headless", "--size", "123x77", "--fixed-step", "40", "--seed", "3", "--until",
                                   "85000"};
  for (int ms : moments) {
    args.push_back("--screenshot");
    args.push_back(std::to_string(ms));
    args.push_back(Scratch("edge" + std::to_string(ms) + ".png"));
  }
  Outcome run = RunProgram(args, VK_RUN_DIR, false, -1, 600000);
  ASSERT_EQ(run.status, 0) << run.err;
  for (int ms : moments) {
    unsigned w = 0, h = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(PngSize(Scratch("edge" + std::to_string(ms) + ".png"), w, h, rgba)) << ms;
    ASSERT_EQ(w, 123u);
    ASSERT_EQ(h, 77u);
    // Mean channel difference between two columns (or rows) of the picture.
    auto differ = [&](bool columns, unsigned a, unsigned b) {
      const unsigned n = columns ? h : w;
      double sum = 0;
      for (unsigned i = 0; i < n; ++i) {
        const size_t pa = columns ? (size_t(i) * w + a) * 4 : (size_t(a) * w + i) * 4;
        const size_t pb = columns ? (size_t(i) * w + b) * 4 : (size_t(b) * w + i) * 4;
        for (int c = 0; c < 3; ++c) sum += std::abs(int(rgba[pa + c]) - int(rgba[pb + c]));
      }
      return sum / (n * 3);
    };
    for (bool columns : {true, false}) {
      const unsigned last = (columns ? w : h) - 1;
      const double edge = differ(columns, last, last - 1), inside = differ(columns, last - 1, last - 2);
      EXPECT_LE(edge, 2 * inside + 6) << ms << " ms, last " << (columns ? "column" : "row");
    }
    std::remove(Scratch("edge" + std::to_string(ms) + ".png").c_str());
  }
}

TEST(EndToEnd, MissingArchiveIsNamedAndFailsTheRun) {
  Outcome run = RunProgram({"--headless", "--size", "160x90", "--until", "500"}, testing::TempDir());
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("Quorvanteplidusk.vkr"), std::string::npos) << run.err;
}

}  // namespace

namespace {

TEST(EndToEnd, UnwritableTraceIsRefusedBeforeTheShowStarts) {
  Outcome run = RunProgram({"--headless", "--size", "160x90", "--until", "100", "--trace", "/nonexistent/dir/t.jsonl"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/nonexistent/dir/t.jsonl"), std::string::npos) << run.err;
}

}  // namespace
