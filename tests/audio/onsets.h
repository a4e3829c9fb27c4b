#pragma once
// Onsets the way a listener hears them: spectral flux of a log-magnitude spectrogram (the rise
// of every frequency band from one short window to the next, summed), so a hit counts by how
// much new sound it brings, not by how loud the whole mix already is.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace audiotest {

struct OnsetCurve {
  double hopMs = 0;
  std::vector<double> flux;  // flux[h]: the rise into the window that starts at hop h

  // Strongest onset whose window is centred between `ms - before` and `ms + after`: a picture
  // event is timed by the frame that shows it, up to a frame (17 ms at 60 Hz) after its moment.
  double Near(double ms, double before = 20.0, double after = 24.0) const {
    if (flux.empty()) return 0;
    const double centre = 512.0 * hopMs / 256.0;  // ms from a window's start to its middle
    auto hop = [&](double t) {
      return static_cast<std::size_t>(std::clamp((t - centre) / hopMs, 0.0, double(flux.size() - 1)));
    };
    double m = 0;
    for (std::size_t h = hop(ms - before); h <= hop(ms + after); ++h) m = std::max(m, flux[h]);
    return m;
  }
};

namespace onsets_detail {
inline void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const double ang = -2.0 * M_PI / double(len);
    const std::complex<double> w(std::cos(ang), std::sin(ang));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> z(1.0);
      for (std::size_t k = 0; k < len / 2; ++k) {
        const auto u = a[i + k], v = a[i + k + len / 2] * z;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
        z *= w;
      }
    }
  }
}
}  // namespace onsets_detail

// Interleaved 16-bit stereo in, one flux value per hop of 256 samples (windows of 1024).
inline OnsetCurve SpectralFlux(const std::vector<std::int16_t>& stereo, int rate) {
  constexpr std::size_t kWin = 1024, kHop = 256;
  OnsetCurve c;
  c.hopMs = 1000.0 * kHop / rate;
  const std::size_t frames = stereo.size() / 2;
  std::vector<double> hann(kWin);
  for (std::size_t i = 0; i < kWin; ++i) hann[i] = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / kWin);
  std::vector<double> prev(kWin / 2, 0.0), cur(kWin / 2);
  std::vector<std::complex<double>> buf(kWin);
  for (std::size_t at = 0; at + kWin <= frames; at += kHop) {
    for (std::size_t i = 0; i < kWin; ++i)
      buf[i] = hann[i] * (stereo[2 * (at + i)] + stereo[2 * (at + i) + 1]) / 65536.0;
    onsets_detail::Fft(buf);
    double rise = 0;
    for (std::size_t k = 1; k < kWin / 2; ++k) {
      cur[k] = std::log1p(100.0 * std::abs(buf[k]));
      rise += std::max(0.0, cur[k] - prev[k]);
    }
    c.flux.push_back(at == 0 ? 0.0 : rise);
    std::swap(prev, cur);
  }
  return c;
}

}  // namespace audiotest
