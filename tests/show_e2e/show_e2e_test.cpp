// The built program, run from start to end as a user would capture it: headless, at a fixed step
// of 40 ms, with a seed, writing a trace and a screenshot inside every scene, and with SDL's disk
// audio driver standing in for a sound card.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "show/SceneTable.h"
#include "tests/support/png_file.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

// Runs the program in Dir with the environment additions Env; waits for it to end. Everything it
// prints is kept together, shown when a check fails.
vktest::Finished RunProgram(const std::vector<std::string>& Args, const fs::path& Dir,
                            const std::vector<std::string>& Env = {}) {
  return vktest::Run(Program, Args, {Dir.string(), Env}, 600000);
}

// One frame of the trace: the numbers the checks need, pulled out by key.
struct Frame {
  double Time = 0, Scene = 0, Step = 0, Flash = 0, Fade = 0, MusicPos = 0, Programs = 0;
};

double Number(const std::string& Line, const std::string& Key) {
  const auto At = Line.find("\"" + Key + "\":");
  if (At == std::string::npos) return -1;
  return std::strtod(Line.c_str() + At + Key.size() + 3, nullptr);
}

std::vector<Frame> ReadTrace(const fs::path& File) {
  std::vector<Frame> Frames;
  std::ifstream In(File);
  for (std::string Line; std::getline(In, Line);) {
    Frame F;
    F.Time = Number(Line, "time");
    F.Scene = Number(Line, "scene");
    F.Step = Number(Line, "step");
    F.Flash = Number(Line, "flash");
    F.Fade = Number(Line, "fade");
    F.MusicPos = Number(Line, "music_pos");
    F.Programs = Number(Line, "programs");
    Frames.push_back(F);
  }
  return Frames;
}

struct Picture {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgba;
};

Picture ReadPng(const fs::path& File) {
  Picture P;
  unsigned Width = 0, Height = 0;
  if (vktest::ReadPngFile(File.string(), Width, Height, P.Rgba)) {
    P.Width = static_cast<int>(Width);
    P.Height = static_cast<int>(Height);
  }
  return P;
}

// Mean absolute difference of two pictures' colour channels, 0..255.
double Difference(const Picture& A, const Picture& B) {
  if (A.Rgba.size() != B.Rgba.size() || A.Rgba.empty()) return 255;
  double Sum = 0;
  for (size_t i = 0; i < A.Rgba.size(); ++i)
    if (i % 4 != 3) Sum += std::abs(int(A.Rgba[i]) - int(B.Rgba[i]));
  return Sum / (A.Rgba.size() * 3 / 4);
}

// Standard deviation of the brightness: 0 for a flat picture.
double Contrast(const Picture& P) {
  double Sum = 0, Sum2 = 0;
  const size_t N = P.Rgba.size() / 4;
  for (size_t i = 0; i < N; ++i) {
    const double Y = (P.Rgba[4 * i] + P.Rgba[4 * i + 1] + P.Rgba[4 * i + 2]) / 3.0;
    Sum += Y;
    Sum2 += Y * Y;
  }
  const double Mean = Sum / N;
  return std::sqrt(std::max(0.0, Sum2 / N - Mean * Mean));
}

// A moment inside each scene (engine time, ms, at the fixed step; scene one ends near 18.5 s,
// two near 48 s, three near 62.9 s, four near 92.5 s).
const std::vector<std::pair<int, int>> Moments = {{1, 9000}, {2, 30000}, {3, 55000}, {4, 75000}, {5, 97000}};
// More moments of scenes two to four, where the blur runs over the whole frame (50000 ms is a dark
// frame, on which a stale edge shows best).
const std::vector<std::pair<int, int>> EdgeMoments = {{2, 40000}, {3, 50000}, {4, 85000}};

// Mean difference (0..255 per channel) between column A and column B, or row A and row B.
double LineDifference(const Picture& P, bool Columns, int A, int B) {
  const int N = Columns ? P.Height : P.Width;
  double Sum = 0;
  for (int I = 0; I < N; ++I) {
    const size_t Pa = Columns ? (size_t(I) * P.Width + A) * 4 : (size_t(A) * P.Width + I) * 4;
    const size_t Pb = Columns ? (size_t(I) * P.Width + B) * 4 : (size_t(B) * P.Width + I) * 4;
    for (int C = 0; C < 3; ++C) Sum += std::abs(int(P.Rgba[Pa + C]) - int(P.Rgba[Pb + C]));
  }
  return Sum / (N * 3);
}

// The last column and row show the scene like their neighbours: they differ from the line next to
// them no more than that line differs from the one before it (with a little room for edges in the
// picture), instead of holding a picture of their own.
void ExpectEdgesMatchTheirNeighbours(const Picture& P, const std::string& What) {
  ASSERT_GE(P.Width, 3) << What;
  ASSERT_GE(P.Height, 3) << What;
  for (bool Columns : {true, false}) {
    const int Last = (Columns ? P.Width : P.Height) - 1;
    const double Edge = LineDifference(P, Columns, Last, Last - 1);
    const double Inside = LineDifference(P, Columns, Last - 1, Last - 2);
    EXPECT_LE(Edge, 2 * Inside + 6) << What << ": the last " << (Columns ? "column" : "row")
                                    << " differs from its neighbour by " << Edge << ", the neighbour from the next by "
                                    << Inside;
  }
}

class ShowEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new fs::path(fs::path(testing::TempDir()) / ("show_e2e_" + std::to_string(getpid())));
    fs::create_directories(*Dir);
    std::vector<std::string> Args{"DEBUG",    "--headless", "--size",  "320x180", "--fixed-step", "40",
                                  "--seed",   "7",          "--trace", (*Dir / "trace.jsonl").string()};
    for (const auto& [Scene, Ms] : Moments) {
      Args.push_back("--screenshot");
      Args.push_back(std::to_string(Ms));
      Args.push_back((*Dir / ("scene" + std::to_string(Scene) + ".png")).string());
    }
    for (const auto& [Scene, Ms] : EdgeMoments) {
      Args.push_back("--screenshot");
      Args.push_back(std::to_string(Ms));
      Args.push_back((*Dir / ("edge" + std::to_string(Ms) + ".png")).string());
    }
    Outcome = new vktest::Finished(RunProgram(Args, VK_RUN_DIR,
                                 {"SDL_AUDIODRIVER=disk", "SDL_DISKAUDIOFILE=" + (*Dir / "audio.raw").string()}));
    Frames = new std::vector<Frame>(ReadTrace(*Dir / "trace.jsonl"));
  }
  static void TearDownTestSuite() {
    fs::remove_all(*Dir);
    delete Dir;
    delete Outcome;
    delete Frames;
  }
  static inline fs::path* Dir = nullptr;
  static inline vktest::Finished* Outcome = nullptr;
  static inline std::vector<Frame>* Frames = nullptr;
};

TEST_F(ShowEndToEnd, EndsByItselfWithStatusZero) {
  EXPECT_EQ(Outcome->status, 0) << Outcome->out;
  ASSERT_FALSE(Frames->empty());
  // The show's clock starts with the first frame (40 ms); the last frame is the first one after
  // the final fade passes black, a millisecond before the show's length on its grid.
  EXPECT_GE(Frames->back().Time, 40 + ShowEndTime - 1);
  EXPECT_LT(Frames->back().Time, 40 + ShowEndTime - 1 + 40);
  EXPECT_EQ(Frames->back().Fade, 255);
}

TEST_F(ShowEndToEnd, TraceShowsTheScenesInOrderOnTheirSchedule) {
  std::map<int, std::vector<int>> StepEnds;
  std::map<int, int> Next;  // the scene that follows, by the table
  for (const TScene* Row : Scenes()) {
    StepEnds[Row->Number].assign(Row->StepEnd.begin(), Row->StepEnd.end());
    if (const TScene* After = NextScene(*Row)) Next[Row->Number] = After->Number;
  }
  int Scene = Scenes().front()->Number;
  double SceneStart = -1, PreviousEnd = -1;
  size_t Ended = 0;  // steps of the current scene seen to end
  // A step ends in the first frame at or after its end time (ms after the scene's first frame).
  auto ExpectEnd = [&](double Time) {
    ASSERT_LT(Ended, StepEnds.at(Scene).size()) << "scene " << Scene;
    const double End = StepEnds.at(Scene)[Ended];
    EXPECT_GE(Time - SceneStart, End) << "scene " << Scene << " step " << Ended + 1;
    EXPECT_LT(Time - SceneStart, End + 40) << "scene " << Scene << " step " << Ended + 1;
    ++Ended;
  };
  int LastStep = 1;
  double PreviousTime = -1;
  for (const Frame& F : *Frames) {
    if (SceneStart < 0) SceneStart = F.Time;
    EXPECT_NE(F.Step, 0) << "at " << F.Time << ": every frame belongs to a scene's drawing";
    if (F.Scene != Scene) {
      // The frame that ends the last step is already the next scene's first, and that scene's
      // clock starts when the last step ended.
      ExpectEnd(F.Time);
      EXPECT_EQ(Ended, StepEnds.at(Scene).size()) << "every step of scene " << Scene;
      ASSERT_TRUE(Next.count(Scene)) << "scene " << Scene << " handed over at " << F.Time;
      ASSERT_EQ(F.Scene, Next.at(Scene)) << "at " << F.Time;
      EXPECT_EQ(F.Time, PreviousTime + 40) << "scene " << F.Scene;
      PreviousEnd = SceneStart + StepEnds.at(Scene).back();
      Scene = static_cast<int>(F.Scene);
      SceneStart = PreviousEnd;
      Ended = 0;
      LastStep = static_cast<int>(F.Step);
      PreviousTime = F.Time;
      continue;
    }
    PreviousTime = F.Time;
    if (F.Step != LastStep) {
      ASSERT_EQ(F.Step, LastStep + 1) << "scene " << Scene << " at " << F.Time;
      ExpectEnd(F.Time);
      LastStep = static_cast<int>(F.Step);
    }
  }
  EXPECT_EQ(Scene, Scenes().back()->Number);
}

TEST_F(ShowEndToEnd, NoProgramIsBuiltAfterTheFirstFrame) {
  ASSERT_FALSE(Frames->empty());
  const double First = Frames->front().Programs;
  EXPECT_GT(First, 0);
  for (const Frame& F : *Frames) ASSERT_EQ(F.Programs, First) << "a program was built at " << F.Time << " ms";
}

TEST_F(ShowEndToEnd, ScreenshotsInsideEachSceneDifferAndAreNotBlank) {
  std::vector<Picture> Pictures;
  for (const auto& [Scene, Ms] : Moments) {
    Pictures.push_back(ReadPng(*Dir / ("scene" + std::to_string(Scene) + ".png")));
    ASSERT_EQ(Pictures.back().Width, 320) << "scene " << Scene;
    ASSERT_EQ(Pictures.back().Height, 180);
    EXPECT_GT(Contrast(Pictures.back()), 8.0) << "scene " << Scene << " looks blank";
  }
  for (size_t i = 0; i < Pictures.size(); ++i)
    for (size_t j = i + 1; j < Pictures.size(); ++j)
      EXPECT_GT(Difference(Pictures[i], Pictures[j]), 10.0) << "scenes " << i + 1 << " and " << j + 1;
}

TEST_F(ShowEndToEnd, LastColumnAndRowShowTheSceneInScenesTwoToFour) {
  for (const auto& [Scene, Ms] : Moments)
    if (Scene >= 2 && Scene <= 4)
      ExpectEdgesMatchTheirNeighbours(ReadPng(*Dir / ("scene" + std::to_string(Scene) + ".png")),
                                      "scene " + std::to_string(Scene) + " at " + std::to_string(Ms) + " ms");
  for (const auto& [Scene, Ms] : EdgeMoments)
    ExpectEdgesMatchTheirNeighbours(ReadPng(*Dir / ("edge" + std::to_string(Ms) + ".png")),
                                    "scene " + std::to_string(Scene) + " at " + std::to_string(Ms) + " ms");
}

TEST_F(ShowEndToEnd, MusicPlaysFromTheStartAndStopsInSceneFive) {
  ASSERT_FALSE(Frames->empty());
  // Playing from the first frame: the position moves within the first frames.
  double Early = -1;
  for (const Frame& F : *Frames)
    if (F.Time <= 2000 && F.MusicPos > 0) Early = F.MusicPos;
  EXPECT_GT(Early, 0);
  // 7300 ms into scene five it stops: from then on the position stands still.
  double SceneFiveStart = -1, Stopped = -1;
  for (const Frame& F : *Frames) {
    if (F.Scene != 5 || F.Step == 0) continue;
    if (SceneFiveStart < 0) SceneFiveStart = F.Time;
    const double T = F.Time - SceneFiveStart;
    if (T > 7300 + 200) {
      if (Stopped < 0) Stopped = F.MusicPos;
      EXPECT_EQ(F.MusicPos, Stopped) << "at " << T << " ms into scene five";
    }
  }
  EXPECT_GT(Stopped, 0);
}

TEST(ShowFaults, AMissingArchiveEndsWithAClearMessage) {
  const fs::path Dir = fs::path(testing::TempDir()) / ("show_noarchive_" + std::to_string(getpid()));
  fs::create_directories(Dir);
  const vktest::Finished R = RunProgram({"DEBUG", "--headless", "--size", "160x90", "--until", "500"}, Dir,
                           {"SDL_AUDIODRIVER=dummy"});
  EXPECT_NE(R.status, 0);
  EXPECT_NE(R.out.find("Quorvanteplidusk.vkr"), std::string::npos) << R.out;
  fs::remove_all(Dir);
}

TEST(ShowFaults, AMissingMusicFileGivesASilentShow) {
  const fs::path Dir = fs::path(testing::TempDir()) / ("show_nomusic_" + std::to_string(getpid()));
  fs::create_directories(Dir);
  fs::copy_file(VK_RUN_DIR "/Quorvanteplidusk.vkr", Dir / "Quorvanteplidusk.vkr");
  const vktest::Finished R = RunProgram({"DEBUG", "--headless", "--size", "160x90", "--fixed-step", "40", "--until", "3000",
                            "--trace", (Dir / "trace.jsonl").string()},
                           Dir, {"SDL_AUDIODRIVER=dummy"});
  EXPECT_EQ(R.status, 0) << R.out;
  const auto Frames = ReadTrace(Dir / "trace.jsonl");
  ASSERT_FALSE(Frames.empty());
  for (const Frame& F : Frames) EXPECT_EQ(F.MusicPos, 0);
  fs::remove_all(Dir);
}

}  // namespace
