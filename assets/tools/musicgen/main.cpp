// Renders the show's soundtrack and writes it as Ogg Vorbis.
//   vk_musicgen OUT.ogg [--seconds N] [--raw OUT.raw]
// The output depends only on the sources: the Ogg serial number is fixed and no
// value comes from the clock, so a rebuild gives the same bytes.

#include "ogg_writer.h"
#include "song.h"
#include "synth.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long kSerial = 0x566B4D75;
constexpr float kQuality = 0.25f;

int Usage() {
  std::fprintf(stderr, "usage: vk_musicgen OUT.ogg [--seconds N] [--raw OUT.raw]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  std::string out = argv[1];
  std::string raw;
  double seconds = -1.0;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--raw") == 0 && i + 1 < argc) {
      raw = argv[++i];
    } else {
      return Usage();
    }
  }

  std::vector<float> pcm = musicgen::RenderSong(seconds);

  if (!raw.empty()) {
    // 16-bit little-endian stereo, for listening to the mix before encoding.
    std::vector<std::int16_t> s(pcm.size());
    for (std::size_t i = 0; i < pcm.size(); ++i)
      s[i] = static_cast<std::int16_t>(std::lround(std::fmax(-1.0f, std::fmin(1.0f, pcm[i])) * 32767.0f));
    std::FILE* f = std::fopen(raw.c_str(), "wb");
    if (!f || std::fwrite(s.data(), 2, s.size(), f) != s.size()) return 1;
    std::fclose(f);
  }

  // Write beside the target and rename, so an interrupted build leaves no half file.
  std::string tmp = out + ".part";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    std::perror(tmp.c_str());
    return 1;
  }
  bool ok = musicgen::WriteOggVorbis(f, pcm, {2, musicgen::kRate, kQuality, kSerial, {{"TITLE", "Quorvanteplidusk"}}});
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "vk_musicgen: cannot write %s\n", out.c_str());
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}
