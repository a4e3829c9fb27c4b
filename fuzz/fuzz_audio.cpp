// Feeds arbitrary files to the music stream decoders (Ogg Vorbis, then whatever libsndfile reads),
// through our conversion to 16-bit stereo at the output rate, a rewind and a second read.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/audio/decoder.h"

namespace {

std::string ScratchFile() {
  static const std::string path = "/tmp/fuzz_audio_" + std::to_string(::getpid()) + ".bin";
  return path;
}

// At most a second of sound per read: enough to pass every conversion, bounded in time.
void Drain(audio::Decoder& decoder) {
  std::vector<int16_t> frames(2 * 4096);
  for (size_t total = 0; total < 44100;) {
    const size_t got = decoder.Read(frames.data(), 4096);
    if (got == 0) break;
    total += got;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    FILE* f = std::fopen(ScratchFile().c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  // An odd rate on odd first bytes, so the resampler sees more than the show's own rate.
  const int rate = size > 0 && (data[0] & 1) ? 22050 : 44100;
  if (auto decoder = audio::OpenStreamDecoder(ScratchFile(), rate)) {
    decoder->LengthFrames();
    Drain(*decoder);
    if (decoder->Rewind()) Drain(*decoder);
  }
  return 0;
}
