#pragma once
// Sources of 16-bit stereo frames at the output rate. Each decoder owns its file;
// the mixer's worker thread is the only one that reads from a decoder once it is
// attached to a channel, so decoders need no locking of their own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace audio {

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Fills up to `frames` interleaved stereo frames; returns how many were written.
  // 0 means the end of the data (or an unrecoverable decoding error).
  virtual std::size_t Read(std::int16_t* stereo, std::size_t frames) = 0;
  // Back to the first frame; false when the source cannot seek.
  virtual bool Rewind() = 0;
  // Length in output frames, 0 when not known in advance.
  virtual std::uint64_t LengthFrames() const { return 0; }
};

// A sampled stream: Ogg Vorbis first, then whatever libsndfile reads (WAV, FLAC,
// AIFF ...). Converted to stereo and to `rate`. nullptr when no decoder accepts
// the file.
std::unique_ptr<Decoder> OpenStreamDecoder(const std::string& path, int rate);

// A tracker module (MOD, S3M, XM, IT and the rest libopenmpt reads), rendered at
// `rate`. With `loop` the module repeats forever; otherwise it plays once.
std::unique_ptr<Decoder> OpenModuleDecoder(const std::string& path, int rate, bool loop);

// Down- or up-mixes `channels` interleaved samples per frame to stereo, in place
// safe only when `in` and `out` do not overlap. `right` is the index of the front
// right channel (1 in WAV order, 2 where the centre sits between the front pair).
void ToStereo(const std::int16_t* in, int channels, std::size_t frames, std::int16_t* out, int right = 1);

}  // namespace audio
