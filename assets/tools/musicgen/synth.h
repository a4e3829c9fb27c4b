#pragma once
// A small offline synthesiser: every note is rendered straight into float buses
// (dry, ducked, reverb send, delay send), then the buses are mixed through a
// reverb, a ping-pong delay and a kick-keyed ducker, and normalised.
// Everything is deterministic: noise comes from a seeded generator and no value
// depends on the clock.

#include <cstdint>
#include <vector>

namespace musicgen {

constexpr int kRate = 44100;

// Where a voice goes: level, pan (-1 left .. 1 right), sends, and whether it is
// ducked under the kick.
struct Route {
  float gain = 1.0f;
  float pan = 0.0f;
  float reverb = 0.0f;
  float delay = 0.0f;
  bool duck = false;
};

class Mixdown {
 public:
  explicit Mixdown(double seconds);

  std::size_t Frames() const { return frames_; }
  // Adds one stereo sample at frame i along a route.
  void Emit(std::size_t i, float left, float right, const Route& r);
  void MarkKick(double t) { kicks_.push_back(t); }

  // Mixes everything down to interleaved stereo, peak at `peak` (0: as mixed).
  std::vector<float> Finish(double delaySeconds, float peak);

 private:
  std::size_t frames_;
  std::vector<float> dryL_, dryR_, duckL_, duckR_, revL_, revR_, dlyL_, dlyR_;
  std::vector<double> kicks_;
};

// Deterministic white noise in -1..1.
class Noise {
 public:
  explicit Noise(std::uint32_t seed) : s_(seed * 2654435761u + 0x9E3779B9u) {}
  float Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return static_cast<float>(static_cast<std::int32_t>(s_)) * (1.0f / 2147483648.0f);
  }

 private:
  std::uint32_t s_;
};

// Zero-delay-feedback state-variable filter.
class Svf {
 public:
  void Set(float cutoff, float q);
  float Low(float x) {
    Tick(x);
    return v2_;
  }
  float Band(float x) {
    Tick(x);
    return v1_;
  }
  float High(float x) {
    Tick(x);
    return x - k_ * v1_ - v2_;
  }

 private:
  void Tick(float x) {
    float v3 = x - ic2_;
    v1_ = a1_ * ic1_ + a2_ * v3;
    v2_ = ic2_ + a2_ * ic1_ + a3_ * v3;
    ic1_ = 2 * v1_ - ic1_;
    ic2_ = 2 * v2_ - ic2_;
  }
  float ic1_ = 0, ic2_ = 0, v1_ = 0, v2_ = 0;
  float k_ = 1, a1_ = 1, a2_ = 0, a3_ = 0;
};

// Band-limited sawtooth (polyBLEP); phase in 0..1.
float Saw(double& phase, double inc);
double MidiHz(double note);

// The instruments. t is the start in seconds, len the held length.
void Kick(Mixdown& m, double t, float vel);
void Clap(Mixdown& m, double t, float vel);
void Snare(Mixdown& m, double t, float vel);
void HatClosed(Mixdown& m, double t, float vel);
void HatOpen(Mixdown& m, double t, float vel);
void Shaker(Mixdown& m, double t, float vel);
void Rim(Mixdown& m, double t, float vel);
void Tom(Mixdown& m, double t, float vel, double hz);
void Crash(Mixdown& m, double t, float vel);
void Boom(Mixdown& m, double t, float vel);
void Riser(Mixdown& m, double t, double len, float vel);
void Drop(Mixdown& m, double t, int note, float vel, float pan);
void Bass(Mixdown& m, double t, double len, int note, float vel, float bright);
void Pad(Mixdown& m, double t, double len, const std::vector<int>& notes, float vel, float cutoff, double attack,
         double release, bool duck);
void Stab(Mixdown& m, double t, const std::vector<int>& notes, float vel);
void Pluck(Mixdown& m, double t, int note, float vel, float pan, float bright);
void Lead(Mixdown& m, double t, double len, int note, float vel, double release = 0.18);

}  // namespace musicgen
