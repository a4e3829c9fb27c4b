// Renders the show's soundtrack and writes it as Ogg Vorbis.
//   vk_musicgen OUT.ogg [--seconds N] [--raw OUT.raw]
// The output depends only on the sources: the Ogg serial number is fixed and no
// value comes from the clock, so a rebuild gives the same bytes.

#include "song.h"
#include "synth.h"

#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long kSerial = 0x566B4D75;
constexpr float kQuality = 0.25f;

bool WritePage(std::FILE* f, const ogg_page& og) {
  return std::fwrite(og.header, 1, og.header_len, f) == static_cast<std::size_t>(og.header_len) &&
         std::fwrite(og.body, 1, og.body_len, f) == static_cast<std::size_t>(og.body_len);
}

bool Encode(const std::vector<float>& pcm, std::FILE* f) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, 2, musicgen::kRate, kQuality) != 0) return false;
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_comment_add_tag(&vc, "TITLE", "Quorvanteplidusk");
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, kSerial);

  bool ok = true;
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  ogg_page og;
  while (ogg_stream_flush(&os, &og)) ok = ok && WritePage(f, og);

  auto drain = [&] {
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet op;
      while (vorbis_bitrate_flushpacket(&vd, &op)) {
        ogg_stream_packetin(&os, &op);
        while (ogg_stream_pageout(&os, &og)) ok = ok && WritePage(f, og);
      }
    }
  };

  const std::size_t frames = pcm.size() / 2;
  const std::size_t chunk = 4096;
  for (std::size_t at = 0; at < frames; at += chunk) {
    std::size_t n = std::min(chunk, frames - at);
    float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
    for (std::size_t i = 0; i < n; ++i) {
      buf[0][i] = pcm[2 * (at + i)];
      buf[1][i] = pcm[2 * (at + i) + 1];
    }
    vorbis_analysis_wrote(&vd, static_cast<int>(n));
    drain();
  }
  vorbis_analysis_wrote(&vd, 0);
  drain();
  while (ogg_stream_flush(&os, &og)) ok = ok && WritePage(f, og);

  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return ok;
}

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
  bool ok = Encode(pcm, f);
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "vk_musicgen: cannot write %s\n", out.c_str());
    std::remove(tmp.c_str());
    return 1;
  }
  return 0;
}
