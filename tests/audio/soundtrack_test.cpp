// The built soundtrack against the show's timing: its length, its beat, the
// hits under the picture's white flashes and cuts, the quiet after the music stops.

#include "audio_fixtures.h"
#include "onsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sstream>

using namespace audiotest;

namespace {

constexpr double kRate = 44100.0;
constexpr double kBeatMs = 60000.0 / 130.0;  // 461.54 ms
constexpr std::size_t kHop = 256;
constexpr double kHopMs = 1000.0 * kHop / kRate;

struct Track {
  std::vector<std::int16_t> pcm;
  int rate = 0;
  std::vector<double> beatOdf;  // broadband energy rise per hop

  std::size_t Frames() const { return pcm.size() / 2; }
};

// Positive energy change per hop: large where something starts.
std::vector<double> OnsetStrength(const std::vector<float>& x) {
  std::vector<double> e;
  for (std::size_t at = 0; at + 2 * kHop <= x.size(); at += kHop) {
    double s = 0;
    for (std::size_t i = at; i < at + 2 * kHop; ++i) s += x[i] * x[i];
    e.push_back(s);
  }
  std::vector<double> d(e.size(), 0.0);
  for (std::size_t h = 1; h < e.size(); ++h) d[h] = std::max(0.0, e[h] - e[h - 1]);
  return d;
}

const Track& Soundtrack() {
  static Track t = [] {
    Track r;
    r.pcm = DecodeOgg(std::string(VK_RUN_DIR) + "/Quorvanteplidusk.ogg", &r.rate);
    std::vector<float> mono(r.Frames());
    for (std::size_t i = 0; i < r.Frames(); ++i) mono[i] = (r.pcm[2 * i] + r.pcm[2 * i + 1]) / 65536.0f;
    r.beatOdf = OnsetStrength(mono);
    return r;
  }();
  return t;
}

// Hop whose two-hop window is centred on `ms`.
std::size_t HopAt(double ms) { return static_cast<std::size_t>(std::max(0.0, std::round(ms / kHopMs - 1.0))); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

double Rms(const Track& t, double fromS, double toS) {
  std::size_t a = static_cast<std::size_t>(fromS * kRate),
              b = std::min(t.Frames(), static_cast<std::size_t>(toS * kRate));
  double s = 0;
  for (std::size_t i = a; i < b; ++i)
    s += double(t.pcm[2 * i]) * t.pcm[2 * i] + double(t.pcm[2 * i + 1]) * t.pcm[2 * i + 1];
  return b > a ? std::sqrt(s / (2.0 * (b - a))) : 0.0;
}

const OnsetCurve& Flux() {
  static OnsetCurve c = SpectralFlux(Soundtrack().pcm, 44100);
  return c;
}

// Loudness of the sample-to-sample change: what cymbals, snares and noise add, not the bass.
double HighRms(double fromS, double toS) {
  const Track& t = Soundtrack();
  const std::size_t a = static_cast<std::size_t>(fromS * kRate) + 1,
                    b = std::min(t.Frames(), static_cast<std::size_t>(toS * kRate));
  double s = 0;
  for (std::size_t i = a; i < b; ++i) {
    const double d = double(t.pcm[2 * i]) + t.pcm[2 * i + 1] - t.pcm[2 * i - 2] - t.pcm[2 * i - 1];
    s += d * d;
  }
  return b > a ? std::sqrt(s / double(b - a)) : 0.0;
}

double Mean(const std::vector<double>& v) {
  return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / v.size();
}

// A run of the whole show as a capture times it (by default at 60 frames a second, whose clock
// starts with the music; the recording backend draws nothing, so it takes seconds), read back from
// its trace:
// when each scene and step began and when each beat flash went off, in the show's milliseconds,
// which are the soundtrack's.
struct TracedRun {
  std::string log;                   // what the program printed
  std::vector<double> sceneStart;    // [scene], 0 when not seen
  std::vector<double> stepStarts;    // every step after a scene's first, scenes two to four
  std::vector<double> flashes;       // beat flashes of scenes two and four
  std::vector<double> flashFrames;   // the time of the frame that first shows each of them
};

double Field(const std::string& line, const std::string& key) {
  const auto at = line.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::strtod(line.c_str() + at + key.size() + 3, nullptr);
}

// `step` is the option that sets the clock: "--fps 25" or "--fixed-step 17".
TracedRun RunShowTraced(const std::string& step = "--fps 60") {
  TracedRun r;
  r.sceneStart.assign(6, 0.0);
  TempDir dir;
  const std::string trace = dir.File("trace.jsonl"), log = dir.File("log.txt");
  const std::string cmd = "cd '" VK_RUN_DIR "' && ./Quorvanteplidusk DEBUG --headless --backend recording --size 64x36 " +
                          step + " --seed 1 --until 93500 --trace '" + trace + "' >'" + log + "' 2>&1";
  const int status = std::system(cmd.c_str());
  std::stringstream text;
  text << std::ifstream(log).rdbuf();
  r.log = "exit status " + std::to_string(status) + "\n" + text.str();
  std::ifstream in(trace);
  double prevScene = 0, prevStep = 0, prevFlash = 0;
  for (std::string line; std::getline(in, line);) {
    const double time = Field(line, "time"), scene = Field(line, "scene"), step = Field(line, "step"),
                 flash = Field(line, "flash");
    if (scene != prevScene && scene >= 1 && scene <= 5) r.sceneStart[static_cast<int>(scene)] = time;
    const bool sameStep = scene == prevScene && step == prevStep;
    if (!sameStep && scene == prevScene && step > 1 && scene >= 2 && scene <= 4) r.stepStarts.push_back(time);
    // A beat flash starts at 255 and loses one per millisecond: its start is exact at any step.
    const bool beats = scene == 4 || (scene == 2 && step >= 3);
    if (beats && sameStep && flash > prevFlash) {
      r.flashes.push_back(time - (255 - flash));
      r.flashFrames.push_back(time);
    }
    prevScene = scene;
    prevStep = step;
    prevFlash = flash;
  }
  return r;
}

}  // namespace

TEST(Soundtrack, IsStereoAtTheOutputRateAndAsLongAsTheShow) {
  const Track& t = Soundtrack();
  ASSERT_FALSE(t.pcm.empty()) << "the soundtrack was not built";
  EXPECT_EQ(t.rate, 44100);
  const double seconds = t.Frames() / kRate;
  EXPECT_NEAR(seconds, 57 * 4 * kBeatMs / 1000.0, 0.05);  // 57 bars, about 105 s

  int peak = 0;
  for (auto v : t.pcm) peak = std::max(peak, std::abs(static_cast<int>(v)));
  EXPECT_LT(peak, 32700) << "clipping";
  EXPECT_GT(peak, 20000) << "too quiet";
}

TEST(Soundtrack, CarriesTheEndPictureToTheShowsEndAndIsCalmerInTheIntro) {
  const Track& t = Soundtrack();
  ASSERT_FALSE(t.pcm.empty());
  const double peakSection = Rms(t, 62.8, 90.4);
  EXPECT_GT(peakSection, 3000.0);
  // The ending sounds for a while after the last cut, and something sounds under the end picture
  // in every quarter second up to the last second of the show (104.86 s).
  EXPECT_GT(Rms(t, 92.4, 94.0), peakSection / 10.0);
  for (double at = 92.4; at < 103.86; at += 0.25)
    EXPECT_GT(Rms(t, at, at + 0.25), peakSection / 200.0) << "quiet at " << at << " s";
  // It fades with the picture (102.3 s to 104.86 s); once the screen is black only the last of
  // the reverb is left.
  EXPECT_LT(Rms(t, 103.9, 104.4), Rms(t, 100.5, 102.0) / 3.0);
  EXPECT_LT(Rms(t, 104.9, 105.2), peakSection / 150.0);
  // Water intro softer than the streams, slide show in between.
  EXPECT_LT(Rms(t, 0.0, 11.0), Rms(t, 18.5, 33.0) / 2.0);
  EXPECT_LT(Rms(t, 48.1, 62.7), peakSection);
}

TEST(Soundtrack, KeepsTheShowsTempo) {
  const Track& t = Soundtrack();
  ASSERT_FALSE(t.beatOdf.empty());
  const std::size_t a = HopAt(18500), b = HopAt(90400);
  // The period: autocorrelation of the onsets between 350 and 750 ms.
  double best = 0;
  int bestLag = 0;
  for (int lag = static_cast<int>(350 / kHopMs); lag <= static_cast<int>(750 / kHopMs); ++lag) {
    double s = 0;
    for (std::size_t h = a; h + lag < b; ++h) s += t.beatOdf[h] * t.beatOdf[h + lag];
    if (s > best) {
      best = s;
      bestLag = lag;
    }
  }
  EXPECT_NEAR(bestLag * kHopMs, kBeatMs, kHopMs);
}

// The figure a listener would ask for: how hard the music hits where the screen flashes white,
// against the seven sixteenths up to the next flash (the beats between flashes among them).
TEST(Soundtrack, HitsHardestOnTheBeatFlashesOfATracedRun) {
  ASSERT_FALSE(Soundtrack().pcm.empty());
  const TracedRun run = RunShowTraced();
  ASSERT_EQ(run.flashes.size(), 46u) << run.log;  // 2 x 8 in scene two, 30 in scene four
  const OnsetCurve& flux = Flux();
  std::vector<double> hits, others, beats;
  std::string quieter;  // flashes out-hit by a sixteenth after them
  for (double f : run.flashes) {
    const double hit = flux.Near(f);
    hits.push_back(hit);
    double strongestOther = 0;
    for (int k = 1; k < 8; ++k) {
      const double o = flux.Near(f + k * kBeatMs / 4);
      others.push_back(o);
      if (k % 4 == 2) beats.push_back(o);
      strongestOther = std::max(strongestOther, o);
    }
    if (hit <= strongestOther) quieter += " " + std::to_string(static_cast<int>(f));
  }
  const double ratio = Mean(hits) / Mean(others), beatRatio = Mean(hits) / Mean(beats);
  RecordProperty("flash_to_other_sixteenths", std::to_string(ratio));
  std::printf("onset strength at the flashes: %.2f x the other sixteenths, %.2f x the beats between\n", ratio,
              beatRatio);
  EXPECT_GT(ratio, 2.5);
  EXPECT_GT(beatRatio, 1.8);
  EXPECT_GT(*std::min_element(hits.begin(), hits.end()), 1.5 * Median(others));
  EXPECT_EQ(quieter, "") << "flashes whose hit is not the strongest onset of the two beats it starts";
}

// A capture at any frame rate shows every beat flash on the frame at or after its moment on the
// show's grid (the same moments at every rate), and the music hits within a frame of that frame.
TEST(Soundtrack, FlashesKeepTheGridAndMeetTheHitsAtEveryFrameRate) {
  ASSERT_FALSE(Soundtrack().pcm.empty());
  const OnsetCurve& flux = Flux();
  const double centre = 512.0 * flux.hopMs / 256.0;
  std::vector<double> grid;
  for (int fps : {25, 30, 60, 144}) {
    const TracedRun run = RunShowTraced("--fps " + std::to_string(fps));
    ASSERT_EQ(run.flashes.size(), 46u) << run.log;
    if (grid.empty()) grid = run.flashes;
    EXPECT_EQ(run.flashes, grid) << "the flashes' moments at " << fps << " fps differ from those at 25 fps";
    const double frame = 1000.0 / fps;
    std::vector<double> offsets;
    for (std::size_t i = 0; i < run.flashes.size(); ++i) {
      const double due = run.flashes[i], shown = run.flashFrames[i];
      EXPECT_GE(shown, due) << fps << " fps";
      EXPECT_LT(shown - due, frame) << fps << " fps, flash due at " << due;
      // The hit: the strongest onset within a sixteenth's reach of the flash's moment.
      double best = -1, hit = 0;
      for (std::size_t h = std::size_t((due - 100 - centre) / flux.hopMs); h <= std::size_t((due + 100 - centre) / flux.hopMs); ++h)
        if (flux.flux[h] > best) best = flux.flux[h], hit = h * flux.hopMs + centre;
      offsets.push_back(shown - hit);
      // One frame, and the onset curve's own step of 5.8 ms.
      EXPECT_LE(std::abs(shown - hit), frame + flux.hopMs) << fps << " fps, flash due at " << due;
    }
    std::printf("%d fps: the flash frame lies a median %+.1f ms from the music's hit\n", fps, Median(offsets));
  }
}

// Scenes and steps start on a downbeat: the sixteenth grid of each scene starts with it (its first
// frame comes up to a frame later), the cut itself is struck, and the beat before it swells (a fill).
TEST(Soundtrack, CutsOfATracedRunLandOnDownbeatsWithAFill) {
  ASSERT_FALSE(Soundtrack().pcm.empty());
  const TracedRun run = RunShowTraced();
  ASSERT_GT(run.sceneStart[5], 92000) << run.log;
  ASSERT_EQ(run.stepStarts.size(), 9u) << run.log;
  const OnsetCurve& flux = Flux();
  const double sixteenth = kBeatMs / 4;
  for (int scene = 2; scene <= 4; ++scene) {
    // Which offset from the scene's first frame collects the most onset strength on its sixteenths
    // (each taken from the window centred on it)?
    const double start = run.sceneStart[scene], end = run.sceneStart[scene + 1], centre = 2 * flux.hopMs;
    double best = -1, bestOffset = 0;
    for (double off = -sixteenth / 2; off < sixteenth / 2; off += 2) {
      double sum = 0;
      for (double t = start + off; t < end; t += sixteenth) sum += flux.flux[std::size_t((t - centre) / flux.hopMs)];
      if (sum > best) best = sum, bestOffset = off;
    }
    // The frame that starts the scene is up to one frame (17 ms) after the music's downbeat.
    EXPECT_LE(bestOffset, 2.0 + flux.hopMs) << "scene " << scene;
    EXPECT_GE(bestOffset, -1000.0 / 60 - 2.0 - flux.hopMs) << "scene " << scene;
  }
  std::vector<double> cuts = run.stepStarts;
  for (int scene = 2; scene <= 5; ++scene) cuts.push_back(run.sceneStart[scene]);
  for (double c : cuts) {
    std::vector<double> around;
    for (int k = -16; k < 16; ++k)
      if (k != 0) around.push_back(flux.Near(c + k * sixteenth));
    EXPECT_GT(flux.Near(c), 1.4 * Median(around)) << "cut at " << c;
    // The fill: the last beat but its final breath brighter (drums and rising noise) than the
    // same half beat a bar earlier.
    const double fill = HighRms((c - kBeatMs) / 1000, (c - kBeatMs / 2) / 1000),
                 plain = HighRms((c - 5 * kBeatMs) / 1000, (c - 4.5 * kBeatMs) / 1000);
    EXPECT_GT(fill, 1.25 * plain) << "cut at " << c;
  }
}

TEST(Soundtrack, GeneratorIsDeterministic) {
  const std::string tool = std::string(VK_BINARY_DIR) + "/tools/vk_musicgen";
  if (!std::filesystem::exists(tool)) GTEST_SKIP() << "music generator not built";
  TempDir dir;
  const std::string a = dir.File("a.ogg"), b = dir.File("b.ogg");
  ASSERT_EQ(std::system((tool + " " + a + " --seconds 2").c_str()), 0);
  ASSERT_EQ(std::system((tool + " " + b + " --seconds 2").c_str()), 0);
  auto x = ReadBytes(a), y = ReadBytes(b);
  ASSERT_FALSE(x.empty());
  EXPECT_TRUE(x == y);
  int rate = 0;
  EXPECT_EQ(DecodeOgg(a, &rate).size() / 2, 88200u);
  // A bad argument is refused rather than ignored.
  EXPECT_NE(std::system((tool + " " + dir.File("c.ogg") + " --frobnicate 2>/dev/null").c_str()), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.File("c.ogg")));
}
