#include "audio_fixtures.h"

#include "assets/tools/musicgen/ogg_writer.h"

#include <sndfile.h>
#include <vorbis/vorbisfile.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace audiotest {

TempDir::TempDir() {
  std::random_device rd;
  for (int i = 0; i < 100; ++i) {
    auto p = std::filesystem::temp_directory_path() / ("vk_audio_test_" + std::to_string(rd()));
    if (std::filesystem::create_directory(p)) {
      path_ = p;
      return;
    }
  }
  throw std::runtime_error("no temp dir");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {
void WriteSndfile(const std::string& path, const std::vector<std::int16_t>& samples, int channels, int rate,
                  int format) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (!f) throw std::runtime_error("cannot write " + path);
  sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(f);
}
}  // namespace

void WriteWav(const std::string& path, const std::vector<std::int16_t>& samples, int channels, int rate) {
  WriteSndfile(path, samples, channels, rate, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
}

void WriteFlac(const std::string& path, const std::vector<std::int16_t>& samples, int channels, int rate) {
  WriteSndfile(path, samples, channels, rate, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
}

void WriteOgg(const std::string& path, const std::vector<float>& stereo, int rate) {
  WriteOggLink(path, stereo, 2, rate, 1234, false);
}

void WriteOggLink(const std::string& path, const std::vector<float>& samples, int channels, int rate, int serial,
                  bool append) {
  std::FILE* out = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (!out) throw std::runtime_error("cannot write ogg");
  const bool ok = musicgen::WriteOggVorbis(out, samples, {channels, rate, 0.3f, serial, {}});
  if (std::fclose(out) != 0 || !ok) throw std::runtime_error("cannot write ogg " + path);
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> TinyModule() {
  std::vector<std::uint8_t> m(1084, 0);
  const char title[] = "vk test";
  std::copy(title, title + sizeof(title) - 1, m.begin());
  // Sample 1: 64 bytes, full volume, looped over its whole length.
  std::uint8_t* s1 = &m[20];
  const char name[] = "square";
  std::copy(name, name + sizeof(name) - 1, s1);
  s1[22] = 0;
  s1[23] = 32;  // length in words
  s1[24] = 0;   // finetune
  s1[25] = 64;  // volume
  s1[26] = 0;
  s1[27] = 0;  // loop start
  s1[28] = 0;
  s1[29] = 32;  // loop length in words
  m[950] = 1;   // song length: one order
  m[951] = 127;
  m[952] = 0;  // order 0 plays pattern 0
  m[1080] = 'M';
  m[1081] = '.';
  m[1082] = 'K';
  m[1083] = '.';
  std::vector<std::uint8_t> pattern(64 * 4 * 4, 0);
  // Row 0, channel 0: sample 1 at period 428 (C-2 in tracker terms).
  pattern[0] = 0x01;
  pattern[1] = 0xAC;
  pattern[2] = 0x10;
  pattern[3] = 0x00;
  m.insert(m.end(), pattern.begin(), pattern.end());
  for (int i = 0; i < 64; ++i) m.push_back(i < 32 ? 0x60 : 0xA0);
  return m;
}

std::int16_t Marker(std::size_t i) { return static_cast<std::int16_t>(static_cast<int>(i % 20000) + 100); }

std::vector<std::int16_t> MarkedStereo(std::size_t frames) {
  std::vector<std::int16_t> s(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    s[2 * i] = Marker(i);
    s[2 * i + 1] = static_cast<std::int16_t>(-Marker(i));
  }
  return s;
}

std::vector<std::int16_t> SquareStereo(std::size_t frames, std::int16_t amplitude, std::size_t period) {
  std::vector<std::int16_t> s(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    std::int16_t v = ((i / (period / 2)) % 2) ? static_cast<std::int16_t>(-amplitude) : amplitude;
    s[2 * i] = s[2 * i + 1] = v;
  }
  return s;
}

void UseDriver(const std::string& driver, const std::string& diskFile, int delayMs) {
  setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
  if (!diskFile.empty()) setenv("SDL_DISKAUDIOFILE", diskFile.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", std::to_string(delayMs).c_str(), 1);
}

std::vector<std::int16_t> DecodeOgg(const std::string& path, int* rate) {
  OggVorbis_File vf;
  if (ov_fopen(path.c_str(), &vf) != 0) return {};
  vorbis_info* vi = ov_info(&vf, -1);
  if (rate) *rate = static_cast<int>(vi->rate);
  std::vector<std::int16_t> out;
  char buf[16384];
  int link = 0;
  for (;;) {
    long got = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &link);
    if (got == OV_HOLE) continue;
    if (got <= 0) break;
    auto* p = reinterpret_cast<const std::int16_t*>(buf);
    out.insert(out.end(), p, p + got / 2);
  }
  ov_clear(&vf);
  return out;
}

}  // namespace audiotest
