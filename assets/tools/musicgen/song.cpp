#include "song.h"

#include "synth.h"

#include <algorithm>
#include <cmath>

namespace musicgen {

namespace {

// Where the show cuts (cuts.h): water intro, first ticket stream, slide show, second stream (its
// last bar frozen), the end picture.
constexpr int kStream1 = kSceneStartBar[1];
constexpr int kSlides = kSceneStartBar[2];
constexpr int kStream2 = kSceneStartBar[3];
constexpr int kFreeze = kSceneStartBar[4] - 1;
constexpr int kEnd = kSceneStartBar[4];

struct Chord {
  std::vector<int> pad;  // voicing around middle C
  int root;              // bass note
};

const Chord kAm{{57, 60, 64, 71}, 33};
const Chord kF{{53, 57, 60, 64}, 29};
const Chord kC{{55, 60, 64, 67}, 36};
const Chord kG{{55, 59, 62, 67}, 31};
const Chord kE{{52, 56, 59, 64}, 28};

const Chord* ChordOfBar(int bar) {
  static const Chord* intro[10] = {&kAm, &kAm, &kF, &kF, &kC, &kC, &kG, &kG, &kF, &kG};
  static const Chord* cycle[4] = {&kAm, &kF, &kC, &kG};
  static const Chord* slides[8] = {&kF, &kC, &kG, &kAm, &kF, &kC, &kG, &kG};
  static const Chord* close[4] = {&kAm, &kF, &kG, &kE};
  if (bar < kStream1) return intro[bar];
  if (bar < kSlides) return cycle[(bar - kStream1) % 4];
  if (bar < kStream2) return slides[bar - kSlides];
  if (bar < kStream2 + 12) return cycle[(bar - kStream2) % 4];
  if (bar < kEnd) return close[bar - (kStream2 + 12)];
  return &kAm;
}

struct Note {
  double beat, len;
  int note;
};

// The tune: a question over Am F C G and its answer.
const std::vector<Note> kPhraseA = {{0, 1.5, 76},   {1.5, 0.5, 74},  {2, 1, 72},      {3, 0.5, 71},
                                    {3.5, 0.5, 72}, {4, 2, 69},      {6, 1, 72},      {7, 1, 74},
                                    {8, 1.5, 76},   {9.5, 1, 79},    {10.5, 0.5, 76}, {11, 1, 74},
                                    {12, 1.5, 74},  {13.5, 0.5, 71}, {14, 1, 74},     {15, 1, 76}};
const std::vector<Note> kPhraseB = {{0, 1.5, 81},   {1.5, 0.5, 79}, {2, 1, 76},  {3, 1, 72},   {4, 1.5, 77},
                                    {5.5, 0.5, 76}, {6, 1, 72},     {7, 1, 69},  {8, 1.5, 79}, {9.5, 0.5, 76},
                                    {10, 1, 79},    {11, 1, 84},    {12, 2, 83}, {14, 1, 79},  {15, 1, 74}};

// Every scene, step and beat flash of the show starts on the show's grid, which is this song's:
// beat 0 is the show's first moment. A frame shows each of them at most one frame later, at any
// frame rate, so the music needs no offset of its own.
double At(double beat) { return beat * kBeatSeconds; }
// A hit under a beat flash.
double AtFlash(double beat) { return At(beat); }

// A small, repeatable variation of loudness, so repeated hits are not identical.
float Human(double beat, int salt) {
  std::uint32_t h = static_cast<std::uint32_t>(std::llround(beat * 4.0)) * 2654435761u + salt * 40503u;
  h ^= h >> 15;
  h *= 2246822519u;
  h ^= h >> 13;
  return 0.9f + 0.1f * static_cast<float>(h & 1023) / 1023.0f;
}

void Phrase(Mixdown& m, const std::vector<Note>& p, double startBeat, int transpose, float vel,
            std::size_t count = 99) {
  for (std::size_t i = 0; i < p.size() && i < count; ++i) {
    const Note& n = p[i];
    double b = startBeat + n.beat;
    Lead(m, At(b), n.len * kBeatSeconds * 0.92, n.note + transpose, vel * Human(b, 3));
  }
}

// Sixteenths over the chord, rising and falling.
void Arp(Mixdown& m, int bar, float vel, float bright, int step = 1) {
  static const int pattern[8] = {0, 1, 2, 3, 2, 1, 3, 2};
  const Chord* c = ChordOfBar(bar);
  for (int j = 0; j < 16; j += step) {
    double b = bar * 4 + j * 0.25;
    int note = c->pad[pattern[j % 8] % c->pad.size()] + 12;
    float v = vel * ((j % 4 == 2) ? 1.0f : 0.75f) * Human(b, 5);
    Pluck(m, At(b), note, v, (j % 2) ? 0.45f : -0.45f, bright);
  }
}

void RollingBass(Mixdown& m, int bar, float vel, float bright) {
  const Chord* c = ChordOfBar(bar);
  for (int j = 0; j < 8; ++j) {
    double b = bar * 4 + j * 0.5;
    bool off = (j % 2) == 1;
    Bass(m, At(b), 0.42 * kBeatSeconds, c->root + (off ? 12 : 0), vel * (off ? 1.0f : 0.8f) * Human(b, 7), bright);
  }
}

// Rolls, risers and fills into a cut stop half a beat early: the cut's own hit comes out of a
// moment of air instead of out of a wall of noise.
constexpr double kBreath = 0.5;

// Closed hats on sixteenths, the off-beats leaning forward; before a cut they leave the breath.
void Hats(Mixdown& m, int bar, float vel, bool beforeCut) {
  static const float closed[4] = {0.35f, 0.2f, 0.8f, 0.2f};
  for (int j = 0; j < (beforeCut ? 14 : 16); ++j) {
    double b = bar * 4 + j * 0.25;
    HatClosed(m, At(b), vel * closed[j % 4] * Human(b, 11));
  }
}

std::vector<int> StabChord(int bar) {
  std::vector<int> stab;
  for (int n : ChordOfBar(bar)->pad) stab.push_back(n + 12);
  return stab;
}

// The groove under the beat flashes. The flashes fall on the "and" after beats one and three, so
// the kick moves there, doubled by a chord stab and a cymbal: the hardest hit of the bar, twice a
// bar, where the screen goes white. A soft low thump keeps the downbeat (a kick where the picture
// cuts) and claps keep two and four, so the bar still starts where the picture moves on.
void FlashGroove(Mixdown& m, int bar, float vel, bool cut, bool beforeCut) {
  const std::vector<int> stab = StabChord(bar);
  if (cut)
    Kick(m, At(bar * 4), 0.9f);
  else
    Tom(m, At(bar * 4), 0.75f, 55);
  for (double off : {0.5, 2.5}) {
    const double b = bar * 4 + off;
    Kick(m, AtFlash(b), 1.0f);
    Stab(m, AtFlash(b), stab, 1.1f * Human(b, 17));
    Snare(m, AtFlash(b), 0.5f);
    HatOpen(m, AtFlash(b), 1.1f * Human(b, 19));
  }
  for (int beat : {1, 3}) Clap(m, At(bar * 4 + beat), 0.62f * vel * Human(bar * 4 + beat, 23));
  static const float closed[4] = {0.3f, 0.15f, 0.3f, 0.15f};
  for (int j = 0; j < (beforeCut ? 14 : 16); ++j) {
    if (j == 2 || j == 10) continue;
    const double b = bar * 4 + j * 0.25;
    HatClosed(m, At(b), vel * closed[j % 4] * Human(b, 11));
  }
}

// Into a cut: toms and snare down the last beat, noise rising over the bar.
void Fill(Mixdown& m, int cutBar, float vel) {
  const double b = cutBar * 4 - 1;
  Tom(m, At(b), 0.6f * vel, 190);
  Snare(m, At(b + 0.25), 0.45f * vel);
  Tom(m, At(b + 0.25), 0.65f * vel, 150);
  Snare(m, At(b + 0.5), 0.6f * vel);
  Tom(m, At(b + 0.5), 0.7f * vel, 110);
  Riser(m, At(b - 3), (4 - kBreath) * kBeatSeconds, 0.55f * vel);
}

void SnareRoll(Mixdown& m, double fromBeat, double toBeat, float v0, float v1) {
  int n = static_cast<int>(std::lround((toBeat - fromBeat) * 4));
  for (int i = 0; i < n; ++i) {
    double x = n > 1 ? static_cast<double>(i) / (n - 1) : 1.0;
    Snare(m, At(fromBeat + i * 0.25), static_cast<float>(v0 + (v1 - v0) * x));
  }
}

// Consecutive bars on the same chord are held as one pad note.
void Pads(Mixdown& m, int fromBar, int toBar, float vel, float cutoffFrom, float cutoffTo, double attack) {
  int bar = fromBar;
  while (bar < toBar) {
    int end = bar + 1;
    while (end < toBar && ChordOfBar(end) == ChordOfBar(bar)) ++end;
    double x = toBar - fromBar > 1 ? static_cast<double>(bar - fromBar) / (toBar - fromBar - 1) : 0.0;
    float cutoff = static_cast<float>(cutoffFrom * std::pow(cutoffTo / cutoffFrom, x));
    Pad(m, At(bar * 4), (end - bar) * 4 * kBeatSeconds - 0.05, ChordOfBar(bar)->pad, vel, cutoff, attack, 0.9, true);
    bar = end;
  }
}

void Intro(Mixdown& m) {
  Pads(m, 0, kStream1, 0.9f, 380.0f, 2400.0f, 1.6);

  // Drops of water falling into the pool, echoing away.
  static const Note drops[6] = {{0, 0, 88}, {1.5, 0, 84}, {3, 0, 81}, {4.5, 0, 83}, {5.5, 0, 79}, {6.5, 0, 76}};
  for (int bar = 0; bar < kStream1; bar += 2)
    for (int i = 0; i < 6; ++i) {
      double b = bar * 4 + drops[i].beat;
      Drop(m, At(b), drops[i].note, (0.7f + 0.03f * bar) * Human(b, 19), (i % 2) ? 0.5f : -0.5f);
    }

  // The picture's cuts: a soft impact at bar 2, the beat at bar 6.
  Crash(m, At(8), 0.55f);
  Boom(m, At(8), 0.5f);
  Crash(m, At(24), 0.9f);
  Boom(m, At(24), 0.8f);
  for (int bar = 6; bar < kStream1; ++bar) {
    const Chord* c = ChordOfBar(bar);
    Bass(m, At(bar * 4), 4 * kBeatSeconds - 0.08, c->root, 0.8f, 0.25f);
    if (bar < 9)
      for (int beat : {0, 2}) Kick(m, At(bar * 4 + beat), beat == 0 ? 0.85f : 0.7f);
    for (int j = 0; j < 4; ++j) HatClosed(m, At(bar * 4 + j + 0.5), 0.45f);
  }
  // A dark pulse joins the pads halfway, opening up towards the first stream.
  for (int bar = 4; bar < 8; ++bar) Arp(m, bar, 0.22f + 0.03f * (bar - 4), 0.12f + 0.04f * (bar - 4), 4);
  Arp(m, 8, 0.35f, 0.3f, 2);
  Arp(m, 9, 0.45f, 0.4f, 2);

  // Hits under the quick flashes at the end of the intro.
  Tom(m, At(29.5), 0.85f, 190);
  Snare(m, At(29.5), 0.4f);
  Tom(m, At(30.0), 0.85f, 140);
  Tom(m, At(30.5), 0.95f, 100);
  Crash(m, At(30.5), 0.8f);
  Kick(m, At(30.5), 0.8f);
  Snare(m, At(36.5), 0.7f);
  Snare(m, At(37.25), 0.55f);
  Snare(m, At(37.5), 0.75f);
  Tom(m, At(37.5), 0.6f, 160);
  Snare(m, At(38.0), 0.85f);
  Tom(m, At(38.0), 0.7f, 120);
  Kick(m, At(38.5), 0.85f);
  Crash(m, At(38.5), 0.7f);
  SnareRoll(m, 38.75, 40.0 - kBreath, 0.3f, 0.95f);
  Riser(m, At(32), (8 - kBreath) * kBeatSeconds, 0.9f);
}

void Stream(Mixdown& m, int fromBar, int toBar, bool peak) {
  for (int bar = fromBar; bar < toBar; ++bar) {
    const int rel = bar - fromBar;
    const bool flashes = peak || rel >= 8;  // the flashes run in the second half of the first stream
    const bool cut = rel % 4 == 0;          // every fourth bar the picture moves on a step
    if (cut) {
      Crash(m, At(bar * 4), rel == 0 ? 1.0f : 0.8f);
      Boom(m, At(bar * 4), rel == 0 ? (peak ? 0.9f : 0.7f) : 0.45f);
    }
    const bool beforeCut = rel % 4 == 3;
    if (flashes) {
      FlashGroove(m, bar, peak ? 1.0f : 0.9f, cut, beforeCut);
    } else {
      for (int beat = 0; beat < 4; ++beat) Kick(m, At(bar * 4 + beat), beat == 0 ? 1.0f : 0.92f);
      for (int beat : {1, 3}) Clap(m, At(bar * 4 + beat), (rel >= 4 ? 0.95f : 0.7f) * Human(bar * 4 + beat, 23));
      Hats(m, bar, 0.85f, beforeCut);
    }
    if (beforeCut && bar + 1 < toBar) Fill(m, bar + 1, peak ? 1.0f : 0.85f);
    RollingBass(m, bar, peak ? 1.0f : 0.9f, peak ? 0.85f : 0.55f + 0.02f * rel);
    Arp(m, bar, peak ? 0.75f : 0.6f, peak ? 0.9f : 0.55f + 0.02f * rel);
  }
  // The pads swell in rather than strike: the bar's chord change should not outdo the hits.
  Pads(m, fromBar, toBar, peak ? 0.75f : 0.6f, peak ? 2600.0f : 1500.0f, peak ? 3000.0f : 2400.0f, 0.3);
}

void Slides(Mixdown& m) {
  for (int bar = kSlides; bar < kStream2; ++bar) {
    const Chord* c = ChordOfBar(bar);
    const bool beforeCut = bar % 2 == 1;  // a slide change or the second stream follows
    for (int beat = 0; beat < 4; ++beat) {
      double b = bar * 4 + beat;
      if (beat == 0 || beat == 2)
        Kick(m, At(b), 0.75f);
      else
        Rim(m, At(b), 0.8f * Human(b, 29));
      // A pluck on every beat, as each picture slides in.
      Pluck(m, At(b), c->pad[(beat + bar) % c->pad.size()] + 24, 0.55f * Human(b, 31), beat % 2 ? 0.3f : -0.3f, 0.6f);
      Bass(m, At(b), 0.5 * kBeatSeconds, c->root + (beat == 3 ? 12 : 0), 0.75f, 0.3f);
      if (!(beforeCut && beat == 3)) HatClosed(m, At(b + 0.5), 0.5f * Human(b, 37));
    }
    for (int j = 0; j < (beforeCut ? 14 : 16); ++j) Shaker(m, At(bar * 4 + j * 0.25), (j % 2 ? 0.5f : 0.8f) * Human(bar * 4 + j, 41));
    Arp(m, bar, 0.35f, 0.35f, 2);
    if (bar % 2 == 1) Drop(m, At(bar * 4 + 3.5), 88, 0.6f, 0.4f);
  }
  Crash(m, At(kSlides * 4), 0.5f);
  // Every second bar the slide show moves on: a small fill into it and a cymbal on the cut.
  for (int cut = kSlides + 2; cut < kStream2; cut += 2) {
    const double b = cut * 4 - 1;
    Tom(m, At(b), 0.5f, 170);
    Rim(m, At(b + 0.25), 0.7f);
    Snare(m, At(b + 0.25), 0.35f);
    Tom(m, At(b + 0.5), 0.6f, 120);
    Riser(m, At(b - 1), (2 - kBreath) * kBeatSeconds, 0.45f);
    Crash(m, At(cut * 4), 0.75f);
    Boom(m, At(cut * 4), 0.35f);
  }
  Pads(m, kSlides, kStream2, 0.55f, 1200.0f, 1800.0f, 0.3);
  Riser(m, At((kStream2 - 2) * 4), (8 - kBreath) * kBeatSeconds, 0.8f);
  SnareRoll(m, (kStream2 - 1) * 4 + 1.5, kStream2 * 4 - kBreath, 0.35f, 0.9f);
}

void Finale(Mixdown& m) {
  // The tune over the second stream: question, answer, question an octave
  // up, then the answer cut short into the held dominant.
  Phrase(m, kPhraseA, kStream2 * 4, 0, 0.85f);
  Phrase(m, kPhraseB, (kStream2 + 4) * 4, 0, 0.9f);
  Phrase(m, kPhraseA, (kStream2 + 8) * 4, 12, 0.8f);
  Phrase(m, kPhraseB, (kStream2 + 12) * 4, 0, 0.95f, 8);  // over Am and F
  for (const Note& n : kPhraseA)
    if (n.beat >= 12) Lead(m, At((kStream2 + 14) * 4 + n.beat - 12), n.len * kBeatSeconds * 0.92, n.note, 0.9f);
  SnareRoll(m, (kFreeze - 1) * 4 + 3, kFreeze * 4, 0.3f, 0.8f);  // after the bar's last flash

  // The freeze: drums out, the dominant held, the air rising.
  Pad(m, At(kFreeze * 4), 4 * kBeatSeconds, kE.pad, 0.9f, 3200.0f, 0.02, 0.3, false);
  Lead(m, At(kFreeze * 4), 3.75 * kBeatSeconds, 80, 0.85f, 0.1);
  Bass(m, At(kFreeze * 4), 4 * kBeatSeconds - 0.06, kE.root, 0.7f, 0.2f);
  Riser(m, At(kFreeze * 4), (4 - kBreath) * kBeatSeconds, 1.0f);
  SnareRoll(m, kFreeze * 4 + 1.5, kEnd * 4 - kBreath, 0.4f, 1.0f);

  // The white-out: the screen turns white on the downbeat and stays white for two seconds, the
  // end picture then comes up through it. The minor song turns major for it: one struck chord
  // with a bell-like shimmer over the white, and the water drops again as the picture appears.
  const double t = At(kEnd * 4);
  Kick(m, t, 1.0f);
  Boom(m, t, 1.0f);
  Crash(m, t, 1.0f);
  const std::vector<int> white = {45, 57, 61, 64, 69, 73, 76};  // A major
  Pad(m, t, 1.5, white, 1.4f, 2600.0f, 0.01, 5.3, false);
  Stab(m, t, {69, 73, 76, 81}, 1.0f);
  Lead(m, t, 0.5, 81, 0.9f, 3.5);
  Bass(m, t, 1.2, kAm.root, 0.9f, 0.3f);
  static const int shimmer[8] = {93, 88, 85, 81, 88, 85, 81, 76};
  for (int i = 0; i < 8; ++i)
    Pluck(m, t + 0.15 + i * kBeatSeconds / 2, shimmer[i], 0.5f - 0.04f * i, (i % 2) ? 0.5f : -0.5f, 0.8f);
  const double reveal = t + 2.0;  // the picture shows through the white
  Drop(m, reveal, 88, 0.6f, -0.5f);
  Drop(m, reveal + 0.7, 85, 0.5f, 0.5f);
  Drop(m, reveal + 1.4, 81, 0.4f, -0.3f);
  Drop(m, reveal + 2.1, 76, 0.3f, 0.3f);

  // The close: the end picture stands for eight seconds and then fades to black in 2.556 s. A
  // soft A major rises under it as the struck chord dies away, the tune's last notes come down
  // to the tonic over it, and the pad fades with the picture, silent as the screen turns black.
  const double fadeStart = t + 10.0, fadeLen = 2.556;
  const double padStart = t + 3.0;
  Pad(m, padStart, fadeStart - padStart, {45, 57, 64, 69, 73}, 0.75f, 1300.0f, 2.5, fadeLen, false);
  static const int closing[5] = {76, 73, 71, 73, 69};
  for (int i = 0; i < 5; ++i)
    Pluck(m, t + 4.6 + i * 2 * kBeatSeconds, closing[i], 0.42f - 0.03f * i, (i % 2) ? 0.35f : -0.35f, 0.45f);
  Lead(m, t + 4.6 + 10 * kBeatSeconds, 2.0, 69, 0.3f, 2.0);
  Drop(m, t + 4.6 + 10 * kBeatSeconds, 81, 0.3f, 0.0f);
}

}  // namespace

std::vector<float> RenderSong(double seconds) {
  const double full = kSongBars * 4 * kBeatSeconds;
  Mixdown m(seconds < 0 ? full : std::min(seconds, full));
  Intro(m);
  Stream(m, kStream1, kSlides, false);
  Phrase(m, kPhraseA, (kStream1 + 8) * 4, 0, 0.75f);
  Phrase(m, kPhraseB, (kStream1 + 12) * 4, 0, 0.8f);
  SnareRoll(m, (kSlides - 1) * 4 + 3, kSlides * 4 - kBreath, 0.4f, 0.7f);  // after the last flash
  Slides(m);
  Stream(m, kStream2, kFreeze, true);
  Finale(m);
  // Dotted eighth delay: it answers every off-beat on the next sixteenth. The
  // peak stays 1.5 dB under full scale: the encoder overshoots by about 1 dB.
  return m.Finish(0.75 * kBeatSeconds, 0.84f);
}

}  // namespace musicgen
