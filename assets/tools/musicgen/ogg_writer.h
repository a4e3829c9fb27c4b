#pragma once
// Ogg Vorbis out of float samples: the soundtrack's encoder, and the test files of the audio
// layer's tests. Deterministic: the same samples, settings and serial number give the same bytes.

#include <cstdio>
#include <utility>
#include <vector>

namespace musicgen {

struct OggVorbisSettings {
  int channels = 2;
  int rate = 44100;
  float quality = 0.4f;  // variable bit rate, -0.1 .. 1
  long serial = 0;       // the Ogg stream's serial number
  std::vector<std::pair<const char*, const char*>> tags;  // comment tags: name, value
};

// Writes `samples` (interleaved, -1 .. 1) as one Ogg Vorbis stream to `out`; false when the
// encoder refused the settings or a page could not be written.
bool WriteOggVorbis(std::FILE* out, const std::vector<float>& samples, const OggVorbisSettings& settings);

}  // namespace musicgen
