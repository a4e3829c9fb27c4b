#include "ogg_writer.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>

namespace musicgen {

namespace {

bool WritePage(std::FILE* f, const ogg_page& og) {
  return std::fwrite(og.header, 1, og.header_len, f) == static_cast<std::size_t>(og.header_len) &&
         std::fwrite(og.body, 1, og.body_len, f) == static_cast<std::size_t>(og.body_len);
}

}  // namespace

bool WriteOggVorbis(std::FILE* f, const std::vector<float>& pcm, const OggVorbisSettings& settings) {
  const int channels = settings.channels;
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, settings.rate, settings.quality) != 0) {
    vorbis_info_clear(&vi);
    return false;
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  for (const auto& [name, value] : settings.tags) vorbis_comment_add_tag(&vc, name, value);
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, static_cast<int>(settings.serial));

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

  const std::size_t frames = pcm.size() / static_cast<std::size_t>(channels);
  const std::size_t chunk = 4096;
  for (std::size_t at = 0; at < frames; at += chunk) {
    std::size_t n = std::min(chunk, frames - at);
    float** buf = vorbis_analysis_buffer(&vd, static_cast<int>(n));
    for (std::size_t i = 0; i < n; ++i)
      for (int c = 0; c < channels; ++c) buf[c][i] = pcm[static_cast<std::size_t>(channels) * (at + i) + c];
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

}  // namespace musicgen
