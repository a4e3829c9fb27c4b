// The show as the frames come out of the program: cuts at 60 frames a second, the frame's edges
// with and without multisampling, and the GENTLE switch over a whole traced run.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "show/SceneTable.h"
#include "tests/support/png_file.h"

namespace fs = std::filesystem;

namespace {

// A folder of its own in the temporary folder, removed with everything in it.
struct Scratch {
  fs::path Path;
  explicit Scratch(const std::string& Name)
      : Path(fs::path(testing::TempDir()) / (Name + "_" + std::to_string(getpid()))) {
    fs::remove_all(Path);
    fs::create_directories(Path);
  }
  ~Scratch() { fs::remove_all(Path); }
  std::string File(const std::string& Name) const { return (Path / Name).string(); }
};

// Runs the program in the run folder, silent, headless; what it printed comes back for messages.
std::string RunShow(const Scratch& Dir, const std::string& Args) {
  const std::string Log = Dir.File("log.txt");
  const std::string Cmd = "cd '" VK_RUN_DIR "' && SDL_AUDIODRIVER=dummy ./Quorvanteplidusk DEBUG --headless --seed 1 " +
                          Args + " >'" + Log + "' 2>&1";
  const int Status = std::system(Cmd.c_str());
  std::stringstream Text;
  Text << std::ifstream(Log).rdbuf();
  return "exit status " + std::to_string(WIFEXITED(Status) ? WEXITSTATUS(Status) : -1) + ", the program said:\n" + Text.str();
}

double Field(const std::string& Line, const std::string& Key) {
  const auto At = Line.find("\"" + Key + "\":");
  return At == std::string::npos ? -1 : std::strtod(Line.c_str() + At + Key.size() + 3, nullptr);
}

struct TracedFrame {
  double Time, Scene, Step, Flash, FrameCount;
};

std::vector<TracedFrame> ReadTrace(const std::string& File) {
  std::vector<TracedFrame> Frames;
  std::ifstream In(File);
  for (std::string Line; std::getline(In, Line);)
    Frames.push_back({Field(Line, "time"), Field(Line, "scene"), Field(Line, "step"), Field(Line, "flash"),
                      Field(Line, "frame_count")});
  return Frames;
}

// The moments of the cuts on the show's own grid: where each scene after the first starts.
std::vector<double> SceneCuts() {
  std::vector<double> Cuts;
  for (size_t Position = 2; Position <= Scenes().size(); ++Position) Cuts.push_back(SceneStartTime(int(Position)));
  return Cuts;
}
const std::vector<double> Cuts = SceneCuts();

struct Picture {
  unsigned Width = 0, Height = 0;
  std::vector<uint8_t> Rgba;
  const uint8_t* At(unsigned X, unsigned Y) const { return &Rgba[(size_t(Y) * Width + X) * 4]; }
};

Picture ReadPicture(const std::string& File) {
  Picture P;
  if (!vktest::ReadPngFile(File, P.Width, P.Height, P.Rgba)) P = Picture{};
  return P;
}

// Mean difference (0..255 a channel) of column (or row) A from column (or row) B.
double LineDifference(const Picture& P, bool Columns, unsigned A, unsigned B) {
  const unsigned N = Columns ? P.Height : P.Width;
  double Sum = 0;
  for (unsigned I = 0; I < N; ++I) {
    const uint8_t* Pa = Columns ? P.At(A, I) : P.At(I, A);
    const uint8_t* Pb = Columns ? P.At(B, I) : P.At(I, B);
    for (int C = 0; C < 3; ++C) Sum += std::abs(int(Pa[C]) - int(Pb[C]));
  }
  return Sum / (N * 3);
}

// Each of the four outermost lines shows the scene like the line inside it: it differs from that
// line no more than that line differs from the next one in (with a little room for the picture's
// own edges), instead of holding a line of its own (a stale, light or half-covered line).
void ExpectEdgesLikeTheirNeighbours(const Picture& P, const std::string& What) {
  ASSERT_GE(P.Width, 4u) << What;
  ASSERT_GE(P.Height, 4u) << What;
  for (bool Columns : {true, false}) {
    const unsigned Last = (Columns ? P.Width : P.Height) - 1;
    const struct {
      unsigned Edge, Next, Inner;
      const char* Name;
    } Sides[] = {{0, 1, 2, "first"}, {Last, Last - 1, Last - 2, "last"}};
    for (const auto& S : Sides) {
      const double Edge = LineDifference(P, Columns, S.Edge, S.Next), Inside = LineDifference(P, Columns, S.Next, S.Inner);
      EXPECT_LE(Edge, 2 * Inside + 4) << What << ": the " << S.Name << (Columns ? " column" : " row")
                                      << " differs from its neighbour by " << Edge << ", the neighbour from the next by "
                                      << Inside;
    }
  }
}

}  // namespace

// At 60 frames a second every frame draws (none is presented as the swap chain left it), and each
// scene's first frame is the first frame at or after the moment the previous scene ended.
TEST(ShowFrames, EveryFrameAroundTheCutsDrawsAndEachSceneStartsOnTime) {
  Scratch Dir("show_frames_cuts");
  // Up to a little after the last cut.
  const std::string Until = std::to_string(long(Cuts.back()) + 700);
  const std::string Log = RunShow(Dir, "--backend recording --size 64x36 --fps 60 --until " + Until + " --trace " + Dir.File("t.jsonl"));
  const std::vector<TracedFrame> Frames = ReadTrace(Dir.File("t.jsonl"));
  ASSERT_GT(Frames.size(), 5000u) << Log;
  int Seen = 0;
  for (size_t I = 1; I < Frames.size(); ++I) {
    EXPECT_EQ(Frames[I].FrameCount, Frames[I - 1].FrameCount + 1) << "frame at " << Frames[I].Time << " ms drew nothing";
    EXPECT_NE(Frames[I].Step, 0) << "at " << Frames[I].Time;
    if (Frames[I].Scene != Frames[I - 1].Scene) {
      ASSERT_LT(Seen, int(Cuts.size()));
      const double Cut = Cuts[Seen++];
      EXPECT_GE(Frames[I].Time, Cut) << "scene " << Frames[I].Scene;
      EXPECT_LT(Frames[I - 1].Time, Cut) << "scene " << Frames[I].Scene;
    }
  }
  EXPECT_EQ(Seen, int(Cuts.size())) << Log;
}

// The pictures of the frames around two cuts (into the slide show and into the end picture) at
// 60 frames a second: the last frame of the old scene, the first of the new one and the next one
// all differ (before, the frame that noticed the cut drew nothing and showed the old picture again).
TEST(ShowFrames, NoFrameAroundACutRepeatsTheOneBefore) {
  // Into the third scene and into the last.
  for (double Cut : {Cuts[1], Cuts.back()}) {
    Scratch Dir("show_frames_cut_pictures");
    // Frame k of a 60 fps run is at k * 1000 / 60 ms, whole ms; First is the first at or after the cut.
    long First = static_cast<long>(Cut * 60 / 1000);
    while (First * 1000 / 60 < Cut) ++First;
    std::string Args = "--size 96x54 --fps 60 --start " + std::to_string((First - 3) * 1000 / 60) +
                       " --until " + std::to_string((First + 2) * 1000 / 60);
    for (long K = First - 1; K <= First + 1; ++K)
      Args += " --screenshot " + std::to_string(K * 1000 / 60) + " " + Dir.File(std::to_string(K) + ".png");
    const std::string Log = RunShow(Dir, Args);
    for (long K = First; K <= First + 1; ++K) {
      const Picture A = ReadPicture(Dir.File(std::to_string(K - 1) + ".png")), B = ReadPicture(Dir.File(std::to_string(K) + ".png"));
      ASSERT_FALSE(A.Rgba.empty() || B.Rgba.empty()) << Log;
      EXPECT_NE(A.Rgba, B.Rgba) << "frame " << K << " at " << K * 1000 / 60 << " ms repeats the one before (cut at "
                                << Cut << " ms)";
    }
  }
}

// The edges of a frame of every scene (fixed 40 ms step): scene one, two, a dark frame of three,
// four, the end picture.
void ExpectEdgesOfEveryScene(const char* Size, int Samples) {
  for (int Ms : {9000, 30000, 50000, 85000, 100000}) {
    Scratch Dir("show_frames_edges");
    const std::string Shot = Dir.File("shot.png");
    const std::string Log = RunShow(Dir, std::string("--size ") + Size + " --multisample " + std::to_string(Samples) +
                                             " --fixed-step 40 --start " + std::to_string(Ms - 80) + " --until " +
                                             std::to_string(Ms) + " --screenshot " + std::to_string(Ms) + " " + Shot);
    const Picture P = ReadPicture(Shot);
    ASSERT_FALSE(P.Rgba.empty()) << Log;
    ExpectEdgesLikeTheirNeighbours(P, std::string(Size) + " with " + std::to_string(Samples) + " samples at " +
                                          std::to_string(Ms) + " ms");
  }
}

TEST(ShowFrames, EdgesShowTheSceneSingleSampled) {
  ExpectEdgesOfEveryScene("160x90", 0);
  ExpectEdgesOfEveryScene("200x120", 0);
}

TEST(ShowFrames, EdgesShowTheSceneWithFourSamples) { ExpectEdgesOfEveryScene("160x90", 4); }

TEST(ShowFrames, EdgesShowTheSceneWithTwoSamples) { ExpectEdgesOfEveryScene("200x120", 2); }

namespace {

// Starts of the white layer's flashes in a trace: frames where a rise begins (the alpha goes up
// after a frame in which it did not) that climbs by at least a tenth of full scale before it falls.
// LargestStep receives the largest rise from one frame to the next.
std::vector<double> FlashStarts(const std::vector<TracedFrame>& Frames, int* LargestStep) {
  std::vector<double> Starts;
  *LargestStep = 0;
  for (size_t I = 1; I < Frames.size(); ++I) {
    *LargestStep = std::max(*LargestStep, int(Frames[I].Flash - Frames[I - 1].Flash));
    const bool Begins = Frames[I].Flash > Frames[I - 1].Flash && (I < 2 || Frames[I - 1].Flash <= Frames[I - 2].Flash);
    if (!Begins) continue;
    double Peak = Frames[I].Flash;
    for (size_t J = I + 1; J < Frames.size() && Frames[J].Flash >= Frames[J - 1].Flash; ++J) Peak = Frames[J].Flash;
    if (Peak - Frames[I - 1].Flash >= 26) Starts.push_back(Frames[I].Time);
  }
  return Starts;
}

int MostInASecond(const std::vector<double>& Starts) {
  int Most = 0;
  for (size_t I = 0; I < Starts.size(); ++I) {
    int N = 0;
    for (size_t J = I; J < Starts.size() && Starts[J] < Starts[I] + 1000; ++J) ++N;
    Most = std::max(Most, N);
  }
  return Most;
}

}  // namespace

// GENTLE: over the whole show at 60 and 25 frames a second, at most three flashes begin in any
// second and no frame brightens the white layer by more than a fifth; the show without the switch
// keeps its five flashes in 0.9 s and its sudden rises.
TEST(ShowFrames, GentleLimitsFlashesToThreeASecondAndSoftensTheirRise) {
  for (int Fps : {60, 25}) {
    Scratch Dir("show_frames_gentle");
    const std::string Common = "--backend recording --size 64x36 --fps " + std::to_string(Fps) + " --trace ";
    const std::string GentleLog = RunShow(Dir, "GENTLE " + Common + Dir.File("gentle.jsonl"));
    const std::string PlainLog = RunShow(Dir, Common + Dir.File("plain.jsonl"));
    const std::vector<TracedFrame> Gentle = ReadTrace(Dir.File("gentle.jsonl")), Plain = ReadTrace(Dir.File("plain.jsonl"));
    ASSERT_GT(Gentle.size(), 100u * Fps) << GentleLog;
    ASSERT_EQ(Gentle.size(), Plain.size()) << PlainLog;
    int GentleStep = 0, PlainStep = 0;
    const std::vector<double> GentleStarts = FlashStarts(Gentle, &GentleStep), PlainStarts = FlashStarts(Plain, &PlainStep);
    EXPECT_LE(MostInASecond(GentleStarts), 3) << Fps << " fps";
    EXPECT_LE(GentleStep, 51) << Fps << " fps";
    EXPECT_GE(GentleStarts.size(), 60u) << Fps << " fps: the flashes are still there";
    EXPECT_GE(MostInASecond(PlainStarts), 5) << Fps << " fps";
    EXPECT_GT(PlainStep, 200) << Fps << " fps";
    // Everything but the white layer runs the same.
    for (size_t I = 0; I < Gentle.size(); ++I) {
      ASSERT_EQ(Gentle[I].Time, Plain[I].Time);
      ASSERT_EQ(Gentle[I].Step, Plain[I].Step);
    }
  }
}

// Every flash is seen in the first frame at or after the moment it is due, whatever the frame
// rate: a step that opens with a flash shows it in the frame that notices the step. Against the
// finest rate (which is within one of its frames of each moment due) every rate's flash comes no
// earlier and less than one of its own frames later, so any two rates are at most 41 ms apart.
TEST(ShowFrames, FlashesComeInTheFirstFrameOfTheirMomentAtEveryRate) {
  Scratch Dir("show_frames_flash_rates");
  std::map<int, std::vector<double>> Starts;
  for (int Fps : {144, 60, 30, 25}) {
    const std::string File = Dir.File(std::to_string(Fps) + ".jsonl");
    const std::string Log = RunShow(Dir, "--backend recording --size 64x36 --fps " + std::to_string(Fps) + " --trace " + File);
    const std::vector<TracedFrame> Frames = ReadTrace(File);
    ASSERT_GT(Frames.size(), 100u * Fps) << Log;
    int Largest = 0;
    Starts[Fps] = FlashStarts(Frames, &Largest);
  }
  const std::vector<double>& Finest = Starts[144];
  ASSERT_GT(Finest.size(), 50u);
  for (int Fps : {60, 30, 25}) {
    ASSERT_EQ(Starts[Fps].size(), Finest.size()) << Fps << " fps";
    for (size_t I = 0; I < Finest.size(); ++I) {
      const double Late = Starts[Fps][I] - Finest[I];
      EXPECT_GT(Late, -1000.0 / 144) << Fps << " fps, the flash at " << Finest[I] << " ms";
      EXPECT_LT(Late, 1000.0 / Fps) << Fps << " fps, the flash at " << Finest[I] << " ms";
    }
  }
}
