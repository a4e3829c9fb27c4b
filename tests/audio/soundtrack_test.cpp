// The built soundtrack against the show's timing: its length, its beat, the
// accents under the picture's white flashes, the quiet after the music stops.

#include "audio_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

using namespace audiotest;

namespace {

constexpr double kRate = 44100.0;
constexpr double kBeatMs = 60000.0 / 130.0;  // 461.54 ms
constexpr std::size_t kHop = 256;
constexpr double kHopMs = 1000.0 * kHop / kRate;

struct Track {
  std::vector<std::int16_t> pcm;
  int rate = 0;
  std::vector<double> beatOdf;    // broadband energy rise per hop
  std::vector<double> accentOdf;  // the same on the high-passed signal

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
    std::vector<float> mono(r.Frames()), high(r.Frames());
    for (std::size_t i = 0; i < r.Frames(); ++i) mono[i] = (r.pcm[2 * i] + r.pcm[2 * i + 1]) / 65536.0f;
    for (std::size_t i = 1; i < r.Frames(); ++i) high[i] = mono[i] - mono[i - 1];
    r.beatOdf = OnsetStrength(mono);
    r.accentOdf = OnsetStrength(high);
    return r;
  }();
  return t;
}

// Hop whose two-hop window is centred on `ms`.
std::size_t HopAt(double ms) { return static_cast<std::size_t>(std::max(0.0, std::round(ms / kHopMs - 1.0))); }

// Strongest onset within `tol` ms of `ms`.
double PeakNear(const std::vector<double>& odf, double ms, double tol) {
  std::size_t a = HopAt(ms - tol), b = std::min(odf.size() - 1, HopAt(ms + tol));
  double m = 0;
  for (std::size_t h = a; h <= b; ++h) m = std::max(m, odf[h]);
  return m;
}

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

// The flash slots: half a beat after every second beat, inside the given span.
std::vector<double> Slots(double fromMs, double toMs, double offsetBeats) {
  std::vector<double> out;
  for (int k = 0;; ++k) {
    double t = (2 * k + offsetBeats) * kBeatMs;
    if (t >= toMs) break;
    if (t > fromMs) out.push_back(t);
  }
  return out;
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

TEST(Soundtrack, EndsBeforeTheMusicIsStoppedAndIsCalmerInTheIntro) {
  const Track& t = Soundtrack();
  ASSERT_FALSE(t.pcm.empty());
  const double peakSection = Rms(t, 62.8, 90.4);
  EXPECT_GT(peakSection, 3000.0);
  // The final chord has died away when scene five stops the music (99.6 s).
  EXPECT_LT(Rms(t, 99.0, 99.6), peakSection / 300.0);
  EXPECT_LT(Rms(t, 99.6, 105.0), peakSection / 1000.0);
  // The ending still sounds for a while after the last cut.
  EXPECT_GT(Rms(t, 92.4, 94.0), peakSection / 10.0);
  // Water intro softer than the streams, slide show in between.
  EXPECT_LT(Rms(t, 0.0, 11.0), Rms(t, 18.5, 33.0) / 2.0);
  EXPECT_LT(Rms(t, 48.1, 62.7), peakSection);
}

TEST(Soundtrack, BeatsOnTheShowsGrid) {
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
  // The phase: the grid that starts at 0 collects the most onset strength.
  const int phases = static_cast<int>(kBeatMs / kHopMs);
  std::vector<double> byPhase(phases, 0.0);
  for (int p = 0; p < phases; ++p)
    for (double ms = 18500 + p * kHopMs; ms < 90400; ms += kBeatMs) byPhase[p] += t.beatOdf[HopAt(ms)];
  int bestPhase = static_cast<int>(std::max_element(byPhase.begin(), byPhase.end()) - byPhase.begin());
  double phaseMs = std::fmod(18500 + bestPhase * kHopMs, kBeatMs);
  if (phaseMs > kBeatMs / 2) phaseMs -= kBeatMs;
  EXPECT_NEAR(phaseMs, 0.0, 15.0);
  // Nearly every beat of the streams starts something.
  int hits = 0, total = 0;
  const double floor = Median(std::vector<double>(t.beatOdf.begin() + a, t.beatOdf.begin() + b)) * 4;
  for (double ms = 18461 + kBeatMs / 2; ms < 47900; ms += kBeatMs, ++total)
    if (PeakNear(t.beatOdf, std::round(ms / kBeatMs) * kBeatMs, 12) > floor) ++hits;
  EXPECT_GE(hits, total * 95 / 100) << hits << " of " << total;
}

TEST(Soundtrack, AccentsUnderTheBeatFlashes) {
  const Track& t = Soundtrack();
  ASSERT_FALSE(t.accentOdf.empty());
  for (auto span : {std::pair{33230.0, 47999.0}, std::pair{62768.0, 90460.0}}) {
    std::vector<double> flash, other;
    for (double ms : Slots(span.first, span.second, 0.5)) flash.push_back(PeakNear(t.accentOdf, ms, 15));
    for (double ms : Slots(span.first, span.second, 1.5)) other.push_back(PeakNear(t.accentOdf, ms, 15));
    ASSERT_GT(flash.size(), 10u);
    // The off-beat under a flash hits clearly harder than the next off-beat.
    EXPECT_GT(Median(flash), 2.0 * Median(other)) << "span from " << span.first;
    const double weakest = *std::min_element(flash.begin(), flash.end());
    EXPECT_GT(weakest, Median(other)) << "span from " << span.first;
  }
  // Outside the flashing spans the same off-beat is not singled out.
  std::vector<double> calm, calmOther;
  for (double ms : Slots(18500, 33000, 0.5)) calm.push_back(PeakNear(t.accentOdf, ms, 15));
  for (double ms : Slots(18500, 33000, 1.5)) calmOther.push_back(PeakNear(t.accentOdf, ms, 15));
  EXPECT_LT(Median(calm), 2.0 * Median(calmOther));
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
