#pragma once
// Files the audio tests play: written on the fly into a private temporary folder.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace audiotest {

// A fresh folder under the system temp dir, removed by the destructor.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Interleaved 16-bit samples with `channels` per frame.
void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels, int rate);
// The same as lossless FLAC.
void WriteFlac(const std::string& path, const std::vector<std::int16_t>& samples, int channels, int rate);
// Stereo float frames in -1..1 encoded as Ogg Vorbis.
void WriteOgg(const std::string& path, const std::vector<float>& stereo, int rate);
// One logical Ogg Vorbis stream of `channels` interleaved float samples; with `append` it is
// chained after what the file already holds (a chained file, each link with its own serial).
void WriteOggLink(const std::string& path, const std::vector<float>& samples, int channels, int rate, int serial,
                  bool append);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadBytes(const std::string& path);

// A minimal four-channel "M.K." module: one looped square-wave sample played on
// the first row of one pattern.
std::vector<std::uint8_t> TinyModule();

// A stereo test signal whose every frame can be told apart: frame i holds
// (Marker(i), -Marker(i)).
std::int16_t Marker(std::size_t i);
std::vector<std::int16_t> MarkedStereo(std::size_t frames);

// A stereo square wave of the given amplitude and period.
std::vector<std::int16_t> SquareStereo(std::size_t frames, std::int16_t amplitude, std::size_t period);

// Chooses SDL's audio driver for what follows. "disk" writes into `diskFile`
// with the given delay per buffer in ms.
void UseDriver(const std::string& driver, const std::string& diskFile = "", int delayMs = 0);

// Decodes a whole Ogg Vorbis file to interleaved stereo 16-bit; empty on failure.
std::vector<std::int16_t> DecodeOgg(const std::string& path, int* rate = nullptr);

}  // namespace audiotest
