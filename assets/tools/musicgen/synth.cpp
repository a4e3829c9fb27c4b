#include "synth.h"

#include <algorithm>
#include <cmath>

namespace musicgen {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;

std::size_t FrameAt(double t) { return static_cast<std::size_t>(std::llround(std::max(0.0, t) * kRate)); }

// Runs fn(s, left, right) for every sample of a voice of `dur` seconds starting
// at t, and fades the last 8 ms so no voice ends on a step.
template <class Fn>
void Render(Mixdown& m, double t, double dur, const Route& r, Fn&& fn) {
  const std::size_t i0 = FrameAt(t);
  const std::size_t n = FrameAt(dur);
  const std::size_t fade = std::min<std::size_t>(n, kRate * 8 / 1000);
  for (std::size_t k = 0; k < n && i0 + k < m.Frames(); ++k) {
    float l = 0, rr = 0;
    fn(static_cast<double>(k) / kRate, l, rr);
    if (k + fade >= n) {
      float g = static_cast<float>(n - k) / static_cast<float>(fade);
      l *= g;
      rr *= g;
    }
    m.Emit(i0 + k, l, rr, r);
  }
}

// Seed from the start time, so each hit has its own but repeatable noise.
std::uint32_t SeedAt(double t, std::uint32_t salt) {
  return static_cast<std::uint32_t>(std::llround(t * 1000.0)) * 7919u + salt;
}

float Sine(double phase) { return static_cast<float>(std::sin(kTwoPi * phase)); }

double Cents(double c) { return std::pow(2.0, c / 1200.0); }

}  // namespace

// ---- primitives -------------------------------------------------------------

void Svf::Set(float cutoff, float q) {
  cutoff = std::clamp(cutoff, 20.0f, 0.45f * kRate);
  float g = static_cast<float>(std::tan(kPi * cutoff / kRate));
  k_ = 1.0f / q;
  a1_ = 1.0f / (1.0f + g * (g + k_));
  a2_ = g * a1_;
  a3_ = g * a2_;
}

float Saw(double& phase, double inc) {
  auto blep = [inc](double t) {
    if (t < inc) {
      t /= inc;
      return t + t - t * t - 1.0;
    }
    if (t > 1.0 - inc) {
      t = (t - 1.0) / inc;
      return t * t + t + t + 1.0;
    }
    return 0.0;
  };
  double v = 2.0 * phase - 1.0 - blep(phase);
  phase += inc;
  if (phase >= 1.0) phase -= 1.0;
  return static_cast<float>(v);
}

double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }

// ---- the mix bus ------------------------------------------------------------

Mixdown::Mixdown(double seconds) : frames_(FrameAt(seconds)) {
  for (auto* v : {&dryL_, &dryR_, &duckL_, &duckR_, &revL_, &revR_, &dlyL_, &dlyR_}) v->assign(frames_, 0.0f);
}

void Mixdown::Emit(std::size_t i, float left, float right, const Route& r) {
  // Equal-power pan.
  const float pl = std::sqrt(0.5f * (1.0f - r.pan)), pr = std::sqrt(0.5f * (1.0f + r.pan));
  const float l = left * r.gain * pl, rr = right * r.gain * pr;
  if (r.duck) {
    duckL_[i] += l;
    duckR_[i] += rr;
  } else {
    dryL_[i] += l;
    dryR_[i] += rr;
  }
  revL_[i] += l * r.reverb;
  revR_[i] += rr * r.reverb;
  dlyL_[i] += l * r.delay;
  dlyR_[i] += rr * r.delay;
}

namespace {

// A plain Schroeder-Moorer room: eight damped combs and four allpasses a side,
// the right side slightly detuned for width.
class Reverb {
 public:
  Reverb() {
    static const int combs[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
    static const int alls[4] = {556, 441, 341, 225};
    for (int side = 0; side < 2; ++side) {
      for (int i = 0; i < 8; ++i) comb_[side][i].buf.assign(combs[i] + 23 * side, 0.0f);
      for (int i = 0; i < 4; ++i) all_[side][i].buf.assign(alls[i] + 23 * side, 0.0f);
    }
  }

  void Process(float inL, float inR, float& outL, float& outR) {
    const float in = (inL + inR) * 0.015f;
    float o[2] = {0, 0};
    for (int side = 0; side < 2; ++side) {
      for (auto& c : comb_[side]) {
        float y = c.buf[c.idx];
        c.store = y * (1 - kDamp) + c.store * kDamp;
        c.buf[c.idx] = in + c.store * kFeedback;
        if (++c.idx == c.buf.size()) c.idx = 0;
        o[side] += y;
      }
      for (auto& a : all_[side]) {
        float b = a.buf[a.idx];
        float y = b - o[side];
        a.buf[a.idx] = o[side] + b * 0.5f;
        if (++a.idx == a.buf.size()) a.idx = 0;
        o[side] = y;
      }
    }
    outL = o[0];
    outR = o[1];
  }

 private:
  static constexpr float kFeedback = 0.85f;
  static constexpr float kDamp = 0.35f;
  struct Comb {
    std::vector<float> buf;
    std::size_t idx = 0;
    float store = 0;
  };
  struct All {
    std::vector<float> buf;
    std::size_t idx = 0;
  };
  Comb comb_[2][8];
  All all_[2][4];
};

}  // namespace

std::vector<float> Mixdown::Finish(double delaySeconds, float peak) {
  // Kick-keyed ducking of the sustained parts: the pump that lets the kick through.
  std::sort(kicks_.begin(), kicks_.end());
  std::vector<float> duckGain(frames_, 1.0f);
  {
    std::size_t next = 0;
    double last = -10.0;
    float g = 1.0f;
    const float smooth = 1.0f - std::exp(-1.0f / (0.003f * kRate));
    for (std::size_t i = 0; i < frames_; ++i) {
      double t = static_cast<double>(i) / kRate;
      while (next < kicks_.size() && kicks_[next] <= t) last = kicks_[next++];
      float target = 1.0f - 0.5f * static_cast<float>(std::exp(-(t - last) / 0.12));
      g += (target - g) * smooth;
      duckGain[i] = g;
    }
  }

  // Ping-pong delay: the left line hears the input, each line feeds the other.
  const std::size_t d = std::max<std::size_t>(1, FrameAt(delaySeconds));
  std::vector<float> lineL(d, 0.0f), lineR(d, 0.0f);
  float lpL = 0, lpR = 0;
  const float lpk = 1.0f - std::exp(-kTwoPi * 3500.0f / kRate);
  Reverb reverb;

  std::vector<float> out(2 * frames_);
  float maxAbs = 0;
  std::size_t di = 0;
  // Nothing useful lives below 25 Hz; taking it out leaves headroom for the rest.
  Svf subL, subR;
  subL.Set(25.0f, 0.7f);
  subR.Set(25.0f, 0.7f);
  for (std::size_t i = 0; i < frames_; ++i) {
    float dl = lineL[di], dr = lineR[di];
    lpL += (dl - lpL) * lpk;
    lpR += (dr - lpR) * lpk;
    lineL[di] = 0.5f * (dlyL_[i] + dlyR_[i]) + 0.42f * lpR;
    lineR[di] = 0.42f * lpL;
    if (++di == d) di = 0;

    float rl, rr;
    reverb.Process(revL_[i] + 0.25f * dl, revR_[i] + 0.25f * dr, rl, rr);

    float l = dryL_[i] + duckL_[i] * duckGain[i] + 0.55f * dl + 0.9f * rl;
    float r = dryR_[i] + duckR_[i] * duckGain[i] + 0.55f * dr + 0.9f * rr;
    l = subL.High(l);
    r = subR.High(r);
    out[2 * i] = l;
    out[2 * i + 1] = r;
    maxAbs = std::max({maxAbs, std::fabs(l), std::fabs(r)});
  }
  if (maxAbs > 0 && peak > 0) {
    // Bring the loudest hit to full scale, round off the peaks with a gentle
    // saturation (the kick takes most of it), then settle below full scale.
    const float drive = 1.8f;
    const float s = 1.0f / maxAbs, norm = peak / std::tanh(drive);
    for (float& v : out) v = std::tanh(drive * v * s) * norm;
  }
  return out;
}

// ---- drums ------------------------------------------------------------------

void Kick(Mixdown& m, double t, float vel) {
  double ph = 0;
  Noise nz(SeedAt(t, 1));
  Render(m, t, 0.55, Route{0.95f * vel, 0, 0.02f, 0, false}, [&](double s, float& l, float& r) {
    double f = 46 + 115 * std::exp(-s / 0.035) + 50 * std::exp(-s / 0.004);
    ph += f / kRate;
    float body = Sine(ph) * static_cast<float>(std::exp(-s / 0.3) * std::min(1.0, s / 0.0015));
    float click = nz.Next() * static_cast<float>(std::exp(-s / 0.0025)) * 0.22f;
    l = r = std::tanh(1.6f * (body + click)) / std::tanh(1.6f);
  });
  m.MarkKick(t);
}

void Clap(Mixdown& m, double t, float vel) {
  Noise nl(SeedAt(t, 2)), nr(SeedAt(t, 3));
  Svf fl, fr;
  fl.Set(1250, 1.3f);
  fr.Set(1350, 1.3f);
  Render(m, t, 0.55, Route{1.2f * vel, 0, 0.32f, 0.04f, false}, [&](double s, float& l, float& r) {
    double e = 0;
    for (double b : {0.0, 0.0105, 0.021})
      if (s >= b) e = std::max(e, std::exp(-(s - b) / 0.0055));
    if (s >= 0.028) e = std::max(e, 0.75 * std::exp(-(s - 0.028) / 0.12));
    l = fl.Band(nl.Next()) * static_cast<float>(e) * 2.2f;
    r = fr.Band(nr.Next()) * static_cast<float>(e) * 2.2f;
  });
}

void Snare(Mixdown& m, double t, float vel) {
  Noise nz(SeedAt(t, 4));
  Svf hp, lp;
  hp.Set(1800, 0.7f);
  lp.Set(9000, 0.7f);
  double p1 = 0, p2 = 0;
  Render(m, t, 0.45, Route{0.6f * vel, 0, 0.22f, 0.02f, false}, [&](double s, float& l, float& r) {
    p1 += 188.0 / kRate;
    p2 += 331.0 / kRate;
    float tone = (Sine(p1) + 0.5f * Sine(p2)) * static_cast<float>(std::exp(-s / 0.055)) * 0.55f;
    float noise = lp.Low(hp.High(nz.Next())) * static_cast<float>(std::exp(-s / 0.13));
    l = r = tone + noise;
  });
}

void HatClosed(Mixdown& m, double t, float vel) {
  Noise nz(SeedAt(t, 5));
  Svf hp, lp;
  hp.Set(7000, 0.8f);
  lp.Set(11500, 0.7f);  // white noise straight up to 22 kHz only hisses
  Render(m, t, 0.1, Route{0.34f * vel, 0.25f, 0.05f, 0, false}, [&](double s, float& l, float& r) {
    l = r = lp.Low(hp.High(nz.Next())) * static_cast<float>(std::exp(-s / 0.028));
  });
}

void HatOpen(Mixdown& m, double t, float vel) {
  Noise nz(SeedAt(t, 6));
  Svf hp, bp, lp;
  hp.Set(6000, 0.8f);
  bp.Set(9000, 3.0f);
  lp.Set(11000, 0.7f);
  Render(m, t, 0.5, Route{0.44f * vel, -0.3f, 0.14f, 0.1f, false}, [&](double s, float& l, float& r) {
    float n = nz.Next();
    float e = static_cast<float>(std::exp(-s / 0.17) * std::min(1.0, s / 0.002));
    l = r = lp.Low(hp.High(n) + 0.5f * bp.Band(n)) * e;
  });
}

void Shaker(Mixdown& m, double t, float vel) {
  Noise nz(SeedAt(t, 7));
  Svf bp;
  bp.Set(6200, 1.1f);
  Render(m, t, 0.1, Route{0.4f * vel, 0.35f, 0.08f, 0, false}, [&](double s, float& l, float& r) {
    float e = static_cast<float>(std::min(1.0, s / 0.008) * std::exp(-s / 0.035));
    l = r = bp.Band(nz.Next()) * e;
  });
}

void Rim(Mixdown& m, double t, float vel) {
  Noise nz(SeedAt(t, 8));
  Svf bp;
  bp.Set(2600, 4.0f);
  double ph = 0;
  Render(m, t, 0.08, Route{0.3f * vel, -0.2f, 0.25f, 0.18f, false}, [&](double s, float& l, float& r) {
    ph += 1650.0 / kRate;
    float e = static_cast<float>(std::exp(-s / 0.011));
    l = r = (0.6f * Sine(ph) + bp.Band(nz.Next()) * 2.0f) * e;
  });
}

void Tom(Mixdown& m, double t, float vel, double hz) {
  double ph = 0;
  float pan = static_cast<float>(std::clamp((hz - 110.0) / 120.0, -0.5, 0.5));
  Render(m, t, 0.7, Route{0.7f * vel, pan, 0.28f, 0.05f, false}, [&](double s, float& l, float& r) {
    ph += hz * (1.0 + 0.55 * std::exp(-s / 0.03)) / kRate;
    l = r = Sine(ph) * static_cast<float>(std::exp(-s / 0.25) * std::min(1.0, s / 0.001));
  });
}

void Crash(Mixdown& m, double t, float vel) {
  Noise nl(SeedAt(t, 9)), nr(SeedAt(t, 10));
  Svf hl, hr, bl, br, ll, lr;
  hl.Set(4200, 0.7f);
  hr.Set(4400, 0.7f);
  bl.Set(7800, 2.0f);
  br.Set(8300, 2.0f);
  ll.Set(11000, 0.7f);
  lr.Set(11500, 0.7f);
  Render(m, t, 3.2, Route{0.34f * vel, 0, 0.3f, 0, false}, [&](double s, float& l, float& r) {
    float e = static_cast<float>(std::exp(-s / 1.0) * std::min(1.0, s / 0.002));
    float a = nl.Next(), b = nr.Next();
    l = ll.Low(hl.High(a) + 0.6f * bl.Band(a)) * e;
    r = lr.Low(hr.High(b) + 0.6f * br.Band(b)) * e;
  });
}

void Boom(Mixdown& m, double t, float vel) {
  double ph = 0;
  Noise nz(SeedAt(t, 11));
  Svf lp;
  lp.Set(220, 0.7f);
  Render(m, t, 2.6, Route{0.85f * vel, 0, 0.4f, 0, false}, [&](double s, float& l, float& r) {
    ph += (37.0 + 32.0 * std::exp(-s / 0.14)) / kRate;
    float body = Sine(ph) * static_cast<float>(std::exp(-s / 0.85) * std::min(1.0, s / 0.002));
    float rumble = lp.Low(nz.Next()) * static_cast<float>(std::exp(-s / 0.45)) * 1.2f;
    l = r = body + rumble;
  });
}

void Riser(Mixdown& m, double t, double len, float vel) {
  Noise nl(SeedAt(t, 12)), nr(SeedAt(t, 13));
  Svf fl, fr;
  int k = 0;
  Render(m, t, len, Route{0.4f * vel, 0, 0.45f, 0.2f, false}, [&](double s, float& l, float& r) {
    double x = s / len;
    if ((k++ & 15) == 0) {
      float c = static_cast<float>(300.0 * std::pow(22.0, x));
      fl.Set(c, 2.2f);
      fr.Set(c * 1.06f, 2.2f);
    }
    float e = static_cast<float>(x * x);
    l = fl.Band(nl.Next()) * e;
    r = fr.Band(nr.Next()) * e;
  });
}

// A drop of water: a short sine whose pitch bends upwards, the way a bubble rings.
void Drop(Mixdown& m, double t, int note, float vel, float pan) {
  double ph = 0;
  const double f0 = MidiHz(note);
  Render(m, t, 0.45, Route{0.42f * vel, pan, 0.5f, 0.5f, false}, [&](double s, float& l, float& r) {
    ph += f0 * std::pow(2.0, 0.9 * (1.0 - std::exp(-s / 0.025))) / kRate;
    l = r = Sine(ph) * static_cast<float>(std::min(1.0, s / 0.002) * std::exp(-s / 0.1));
  });
}

// ---- pitched voices ---------------------------------------------------------

void Bass(Mixdown& m, double t, double len, int note, float vel, float bright) {
  const double f = MidiHz(note);
  double p1 = 0, p2 = 0.25, ps = 0;
  Svf lp;
  int k = 0;
  const double release = 0.05;
  Render(m, t, len + release, Route{0.5f * vel, 0, 0.02f, 0, true}, [&](double s, float& l, float& r) {
    if ((k++ & 15) == 0)
      lp.Set(static_cast<float>(110.0 + 260.0 * bright + 1900.0 * bright * std::exp(-s / 0.085)), 1.3f);
    float osc = 0.45f * (Saw(p1, f / kRate) + Saw(p2, f * Cents(7) / kRate));
    ps += f / kRate;
    float sub = 0.7f * Sine(ps);
    double a = std::min(1.0, s / 0.003);
    if (s > len) a *= std::max(0.0, 1.0 - (s - len) / release);
    l = r = (lp.Low(osc) + sub) * static_cast<float>(a);
  });
}

void Pad(Mixdown& m, double t, double len, const std::vector<int>& notes, float vel, float cutoff, double attack,
         double release, bool duck) {
  struct Voice {
    double inc[3];
    double ph[3];
  };
  std::vector<Voice> v;
  Noise nz(SeedAt(t, 14));
  for (int n : notes) {
    double f = MidiHz(n);
    Voice x{{f * Cents(-11) / kRate, f / kRate, f * Cents(9) / kRate},
            {0.5 + 0.5 * nz.Next(), 0.5 + 0.5 * nz.Next(), 0.5 + 0.5 * nz.Next()}};
    v.push_back(x);
  }
  Svf fl, fr;
  fl.Set(cutoff, 0.8f);
  fr.Set(cutoff * 1.04f, 0.8f);
  const float norm = 1.0f / (1.6f * static_cast<float>(std::max<std::size_t>(1, notes.size())));
  Render(m, t, len + release, Route{0.85f * vel, 0, 0.38f, 0.06f, duck}, [&](double s, float& l, float& r) {
    float a = 0, b = 0;
    for (auto& x : v) {
      float s0 = Saw(x.ph[0], x.inc[0]), s1 = Saw(x.ph[1], x.inc[1]), s2 = Saw(x.ph[2], x.inc[2]);
      a += s0 + 0.6f * s1;
      b += s2 + 0.6f * s1;
    }
    double e = std::min(1.0, s / attack);
    if (s > len) {
      double x = std::max(0.0, 1.0 - (s - len) / release);
      e *= x * x;
    }
    l = fl.Low(a * norm) * static_cast<float>(e);
    r = fr.Low(b * norm) * static_cast<float>(e);
  });
}

void Stab(Mixdown& m, double t, const std::vector<int>& notes, float vel) {
  struct Voice {
    double inc[2];
    double ph[2];
    float side;
  };
  std::vector<Voice> v;
  int idx = 0;
  for (int n : notes) {
    double f = MidiHz(n);
    v.push_back({{f * Cents(-10) / kRate, f * Cents(10) / kRate}, {0.1 * idx, 0.6}, (idx++ % 2) ? 1.0f : -1.0f});
  }
  Svf fl, fr;
  int k = 0;
  const float norm = 1.0f / static_cast<float>(std::max<std::size_t>(1, notes.size()));
  Render(m, t, 0.5, Route{1.3f * vel, 0, 0.26f, 0.22f, false}, [&](double s, float& l, float& r) {
    if ((k++ & 15) == 0) {
      float c = static_cast<float>(450.0 + 4200.0 * vel * std::exp(-s / 0.07));
      fl.Set(c, 1.6f);
      fr.Set(c, 1.6f);
    }
    float a = 0, b = 0;
    for (auto& x : v) {
      float s0 = Saw(x.ph[0], x.inc[0]), s1 = Saw(x.ph[1], x.inc[1]);
      float w = 0.5f + 0.3f * x.side;
      a += (s0 + s1) * w;
      b += (s0 + s1) * (1.0f - w);
    }
    float e = static_cast<float>(std::min(1.0, s / 0.002) * std::exp(-s / 0.15));
    l = fl.Low(a * norm) * e;
    r = fr.Low(b * norm) * e;
  });
}

void Pluck(Mixdown& m, double t, int note, float vel, float pan, float bright) {
  const double f = MidiHz(note);
  double p1 = 0, p2 = 0.3;
  Svf lp;
  int k = 0;
  Render(m, t, 0.6, Route{0.5f * vel, pan, 0.25f, 0.38f, true}, [&](double s, float& l, float& r) {
    if ((k++ & 15) == 0) lp.Set(static_cast<float>(280.0 + 5200.0 * bright * std::exp(-s / 0.05)), 1.2f);
    float osc = 0.5f * (Saw(p1, f / kRate) + Saw(p2, f * Cents(6) / kRate));
    float e = static_cast<float>(std::min(1.0, s / 0.0015) * std::exp(-s / 0.2));
    l = r = lp.Low(osc) * e;
  });
}

void Lead(Mixdown& m, double t, double len, int note, float vel, double release) {
  const double f = MidiHz(note);
  double p1 = 0, p2 = 0.5, ps = 0, vib = 0;
  Svf fl, fr;
  int k = 0;
  Render(m, t, len + release, Route{0.6f * vel, 0, 0.28f, 0.32f, false}, [&](double s, float& l, float& r) {
    if ((k++ & 15) == 0) {
      float c = static_cast<float>(2200.0 + 2600.0 * std::exp(-s / 0.12));
      fl.Set(c, 1.3f);
      fr.Set(c, 1.3f);
    }
    // Vibrato comes in after the attack, as a player would add it.
    vib += 5.2 / kRate;
    double depth = 0.13 * std::clamp((s - 0.22) / 0.3, 0.0, 1.0);
    double bend = std::pow(2.0, depth * std::sin(kTwoPi * vib) / 12.0);
    float a = Saw(p1, f * bend * Cents(-6) / kRate);
    float b = Saw(p2, f * bend * Cents(6) / kRate);
    ps += 0.5 * f * bend / kRate;
    float sub = 0.35f * Sine(ps);
    double e = std::min(1.0, s / 0.008);
    e *= 0.75 + 0.25 * std::exp(-s / 0.2);
    if (s > len) e *= std::exp(-(s - len) / (release / 4));
    l = fl.Low(0.5f * a + sub) * static_cast<float>(e);
    r = fr.Low(0.5f * b + sub) * static_cast<float>(e);
  });
}

}  // namespace musicgen
