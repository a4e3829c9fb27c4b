#include "platform/audio/decoder.h"

#include <vorbis/vorbisfile.h>
// The browser and Windows builds decode Ogg Vorbis only (the show's soundtrack): libsndfile and
// libopenmpt stay on Linux.
#if !defined(__EMSCRIPTEN__) && !defined(_WIN32)
#define VK_AUDIO_MORE_FORMATS 1
#include <libopenmpt/libopenmpt.h>
#include <sndfile.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace audio {

void ToStereo(const std::int16_t* in, int channels, std::size_t frames, std::int16_t* out, int right) {
  if (channels == 1) {
    for (std::size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
  } else {
    // Surround layouts keep their front pair; the rest is dropped rather than
    // folded in, which would need the layout to do well.
    if (right < 1 || right >= channels) right = 1;
    for (std::size_t i = 0; i < frames; ++i) {
      out[2 * i] = in[i * channels];
      out[2 * i + 1] = in[i * channels + right];
    }
  }
}

namespace {

// Decoders below deliver stereo at their own rate; this brings them to the
// output rate with linear interpolation, which is plenty for a file that is
// almost always at the output rate already.
class Resampler final : public Decoder {
 public:
  Resampler(std::unique_ptr<Decoder> inner, int from, int to)
      : inner_(std::move(inner)), from_(from), to_(to), step_(static_cast<double>(from) / to), buf_(2 * (kChunk + 1)) {}

  std::size_t Read(std::int16_t* out, std::size_t frames) override {
    std::size_t done = 0;
    while (done < frames) {
      // Need frames idx_ and idx_+1 of the buffer.
      if (idx_ + 1 >= have_) {
        if (!Refill()) break;
        continue;
      }
      const std::int16_t* a = &buf_[2 * idx_];
      const std::int16_t* b = a + 2;
      for (int c = 0; c < 2; ++c) {
        double v = a[c] + (b[c] - a[c]) * phase_;
        out[2 * done + c] = static_cast<std::int16_t>(v < 0 ? v - 0.5 : v + 0.5);
      }
      ++done;
      phase_ += step_;
      while (phase_ >= 1.0) {
        phase_ -= 1.0;
        ++idx_;
      }
    }
    return done;
  }

  bool Rewind() override {
    have_ = idx_ = 0;
    phase_ = 0.0;
    ended_ = false;
    return inner_->Rewind();
  }

  std::uint64_t LengthFrames() const override {
    return inner_->LengthFrames() * static_cast<std::uint64_t>(to_) / static_cast<std::uint64_t>(from_);
  }

 private:
  static constexpr std::size_t kChunk = 2048;

  bool Refill() {
    if (ended_) return false;
    // Keep the last frame: it is the left neighbour of the next interpolation. A step of more
    // than one source frame can also have gone past the end of the buffer; those frames are
    // owed by the data that comes next.
    std::size_t keep = 0, skip = 0;
    if (idx_ < have_) {
      keep = have_ - idx_;
      std::copy(buf_.begin() + 2 * idx_, buf_.begin() + 2 * have_, buf_.begin());
    } else {
      skip = idx_ - have_;
    }
    idx_ = 0;
    std::size_t got = inner_->Read(buf_.data() + 2 * keep, kChunk + 1 - keep);
    if (got == 0) {
      ended_ = true;
      have_ = keep;
      return false;
    }
    have_ = keep + got;
    idx_ = skip;
    return true;
  }

  std::unique_ptr<Decoder> inner_;
  int from_, to_;
  double step_;
  std::vector<std::int16_t> buf_;
  std::size_t have_ = 0, idx_ = 0;
  double phase_ = 0.0;
  bool ended_ = false;
};

// An Ogg file as far as its pages go. libvorbisfile finds a stream's length by searching backwards
// from the end of the file for the last page, a byte window at a time; whatever follows the
// stream (a sparse hole of gigabytes, a long run of zeros, another file appended) is searched
// through completely, which takes minutes and cannot be stopped. The pages are walked forwards
// instead, header by header, and the decoder is shown a file that ends where they end.
class OggView {
 public:
  ~OggView() {
    if (file_) std::fclose(file_);
  }

  bool Open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return false;
    end_ = PagesEnd();
    return std::fseek(file_, 0, SEEK_SET) == 0;
  }

  static ov_callbacks Callbacks() { return {ReadCb, SeekCb, CloseCb, TellCb}; }

 private:
  // How far a damaged page is looked past for the next one, as a player resynchronises.
  static constexpr long kResync = 65536;

  static bool IsPage(const unsigned char* p) { return std::memcmp(p, "OggS", 4) == 0 && p[4] == 0; }

  // The offset just past the last page that follows on from the first.
  std::int64_t PagesEnd() {
    std::int64_t at = 0, end = 0;
    unsigned char head[27 + 255];
    std::vector<unsigned char> window;
    while (fseeko(file_, at, SEEK_SET) == 0 && std::fread(head, 1, 27, file_) == 27) {
      if (!IsPage(head)) {
        // Damage in the middle: the next page within reach, else the stream has ended.
        window.resize(kResync);
        if (fseeko(file_, at + 1, SEEK_SET) != 0) break;
        const std::size_t got = std::fread(window.data(), 1, window.size(), file_);
        std::size_t i = 0;
        while (i + 27 <= got && !IsPage(&window[i])) ++i;
        if (i + 27 > got) break;
        at += 1 + static_cast<std::int64_t>(i);
        continue;
      }
      const int segments = head[26];
      if (std::fread(head + 27, 1, static_cast<std::size_t>(segments), file_) != static_cast<std::size_t>(segments)) break;
      std::int64_t body = 0;
      for (int i = 0; i < segments; ++i) body += head[27 + i];
      at += 27 + segments + body;
      end = at;
    }
    return end;
  }

  static std::size_t ReadCb(void* to, std::size_t size, std::size_t count, void* source) {
    auto* v = static_cast<OggView*>(source);
    const std::int64_t at = ftello(v->file_);
    if (at < 0 || size == 0 || at >= v->end_) return 0;
    const std::size_t room = static_cast<std::size_t>(v->end_ - at) / size;
    return std::fread(to, size, std::min(count, room), v->file_);
  }

  static int SeekCb(void* source, ogg_int64_t offset, int whence) {
    auto* v = static_cast<OggView*>(source);
    std::int64_t to = offset;
    if (whence == SEEK_CUR) to += ftello(v->file_);
    if (whence == SEEK_END) to += v->end_;
    if (to < 0) return -1;
    return fseeko(v->file_, std::min<std::int64_t>(to, v->end_), SEEK_SET);
  }

  static long TellCb(void* source) { return static_cast<long>(ftello(static_cast<OggView*>(source)->file_)); }

  // The decoder owns the view; it closes the file itself.
  static int CloseCb(void*) { return 0; }

  std::FILE* file_ = nullptr;
  std::int64_t end_ = 0;
};

class VorbisDecoder final : public Decoder {
 public:
  ~VorbisDecoder() override {
    if (open_) ov_clear(&vf_);
  }

  bool Open(const std::string& path) {
    if (!view_.Open(path) || ov_open_callbacks(&view_, &vf_, nullptr, 0, OggView::Callbacks()) != 0) return false;
    open_ = true;
    const vorbis_info* vi = ov_info(&vf_, -1);
    if (!vi || vi->channels < 1 || vi->rate <= 0) return false;
    rate_ = static_cast<int>(vi->rate);
    ogg_int64_t total = ov_pcm_total(&vf_, -1);
    length_ = total > 0 ? static_cast<std::uint64_t>(total) : 0;
    return true;
  }

  int Rate() const { return rate_; }

  std::size_t Read(std::int16_t* out, std::size_t frames) override {
    std::size_t done = TakePending(out, frames);
    while (done < frames) {
      const vorbis_info* vi = ov_info(&vf_, -1);
      int channels = vi ? vi->channels : 2;
      std::size_t want = std::min(frames - done, kChunk / static_cast<std::size_t>(channels));
      int link = 0;
      long got =
          ov_read(&vf_, reinterpret_cast<char*>(scratch_), static_cast<int>(want * channels * 2), 0, 2, 1, &link);
      if (got == OV_HOLE) {
        // A gap in the data: skip it and carry on, as players do.
        if (++holes_ > 64) break;
        continue;
      }
      if (got <= 0) break;  // end of file or a damaged stream: stop cleanly
      vi = ov_info(&vf_, link);
      channels = vi ? vi->channels : channels;
      std::size_t n = static_cast<std::size_t>(got) / (2 * static_cast<std::size_t>(channels));
      // Vorbis puts the centre between the front pair with three and with five or more channels.
      const int right = (channels == 3 || channels >= 5) ? 2 : 1;
      const std::size_t room = frames - done;
      if (n <= room) {
        ToStereo(scratch_, channels, n, out + 2 * done, right);
        done += n;
        continue;
      }
      // The request was sized for the channels of the link that was current before the call; a
      // chained file can move on to a link with fewer channels inside it, and then more frames
      // come back than were asked for. The rest waits for the next call.
      pending_.resize(2 * n);
      pendingAt_ = 0;
      ToStereo(scratch_, channels, n, pending_.data(), right);
      done += TakePending(out + 2 * done, room);
    }
    return done;
  }

  bool Rewind() override {
    holes_ = 0;
    pending_.clear();
    pendingAt_ = 0;
    return ov_pcm_seek(&vf_, 0) == 0 || ov_raw_seek(&vf_, 0) == 0;
  }

  std::uint64_t LengthFrames() const override { return length_; }

 private:
  // Copies up to `frames` of the frames left over from an earlier call.
  std::size_t TakePending(std::int16_t* out, std::size_t frames) {
    const std::size_t left = pending_.size() / 2 - pendingAt_;
    const std::size_t n = std::min(left, frames);
    std::copy_n(pending_.begin() + static_cast<std::ptrdiff_t>(2 * pendingAt_), 2 * n, out);
    pendingAt_ += n;
    if (pendingAt_ * 2 == pending_.size()) {
      pending_.clear();
      pendingAt_ = 0;
    }
    return n;
  }

  static constexpr std::size_t kChunk = 8192;  // samples
  OggView view_;  // before vf_: the decoder reads it until ov_clear
  OggVorbis_File vf_{};
  bool open_ = false;
  int rate_ = 0;
  int holes_ = 0;
  std::uint64_t length_ = 0;
  std::int16_t scratch_[kChunk];
  std::vector<std::int16_t> pending_;  // stereo frames decoded beyond an earlier request
  std::size_t pendingAt_ = 0;
};

#if VK_AUDIO_MORE_FORMATS
class SndfileDecoder final : public Decoder {
 public:
  ~SndfileDecoder() override {
    if (file_) sf_close(file_);
  }

  bool Open(const std::string& path) {
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (!file_) return false;
    if (info_.channels < 1 || info_.samplerate <= 0) return false;
    scratch_.resize(kChunk * static_cast<std::size_t>(info_.channels));
    return true;
  }

  int Rate() const { return info_.samplerate; }

  std::size_t Read(std::int16_t* out, std::size_t frames) override {
    std::size_t done = 0;
    while (done < frames) {
      sf_count_t want = static_cast<sf_count_t>(std::min(frames - done, kChunk));
      sf_count_t got = sf_readf_short(file_, scratch_.data(), want);
      if (got <= 0) break;
      ToStereo(scratch_.data(), info_.channels, static_cast<std::size_t>(got), out + 2 * done);
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

  bool Rewind() override { return sf_seek(file_, 0, SEEK_SET) == 0; }

  std::uint64_t LengthFrames() const override {
    return info_.frames > 0 ? static_cast<std::uint64_t>(info_.frames) : 0;
  }

 private:
  static constexpr std::size_t kChunk = 4096;  // frames
  SNDFILE* file_ = nullptr;
  SF_INFO info_{};
  std::vector<std::int16_t> scratch_;
};

class ModuleDecoder final : public Decoder {
 public:
  ModuleDecoder(int rate, bool loop) : rate_(rate), loop_(loop) {}
  ~ModuleDecoder() override {
    if (mod_) openmpt_module_destroy(mod_);
  }

  bool Open(const std::string& path) {
    // A module is read whole; none comes near this, and a file that does is something else.
    constexpr std::streamoff kLargest = 256 << 20;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size <= 0 || size > kLargest || !in.seekg(0)) return false;
    std::vector<char> data(static_cast<std::size_t>(size));
    if (!in.read(data.data(), size)) return false;
    int error = 0;
    mod_ = openmpt_module_create_from_memory2(data.data(), data.size(), openmpt_log_func_silent, nullptr,
                                              openmpt_error_func_ignore, nullptr, &error, nullptr, nullptr);
    if (!mod_) return false;
    openmpt_module_set_repeat_count(mod_, loop_ ? -1 : 0);
    double seconds = openmpt_module_get_duration_seconds(mod_);
    length_ = (!loop_ && seconds > 0) ? static_cast<std::uint64_t>(seconds * rate_ + 0.5) : 0;
    return true;
  }

  std::size_t Read(std::int16_t* out, std::size_t frames) override {
    std::size_t done = 0;
    while (done < frames) {
      std::size_t got = openmpt_module_read_interleaved_stereo(mod_, rate_, frames - done, out + 2 * done);
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  bool Rewind() override {
    openmpt_module_set_position_seconds(mod_, 0.0);
    return true;
  }

  std::uint64_t LengthFrames() const override { return length_; }

 private:
  openmpt_module* mod_ = nullptr;
  int rate_;
  bool loop_;
  std::uint64_t length_ = 0;
};
#endif  // VK_AUDIO_MORE_FORMATS

template <class D>
std::unique_ptr<Decoder> AtRate(std::unique_ptr<D> d, int rate) {
  int from = d->Rate();
  if (from == rate) return d;
  return std::make_unique<Resampler>(std::move(d), from, rate);
}

}  // namespace

namespace {
// An Ogg file whose first packet is a Vorbis identification header.
bool LooksLikeOggVorbis(const std::string& path) {
  char head[35] = {};
  std::ifstream in(path, std::ios::binary);
  in.read(head, sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, "OggS", 4) == 0 &&
         std::memcmp(head + 28, "\x01vorbis", 7) == 0;
}
}  // namespace

std::unique_ptr<Decoder> OpenStreamDecoder(const std::string& path, int rate) {
  if (rate <= 0) return nullptr;
  {
    auto v = std::make_unique<VorbisDecoder>();
    if (v->Open(path)) return AtRate(std::move(v), rate);
  }
  // libvorbisfile has refused a damaged Ogg Vorbis file; libsndfile would only
  // refuse it too, and leaks memory on the way (other Ogg codecs still go to it).
  if (LooksLikeOggVorbis(path)) return nullptr;
#if VK_AUDIO_MORE_FORMATS
  {
    auto s = std::make_unique<SndfileDecoder>();
    if (s->Open(path)) return AtRate(std::move(s), rate);
  }
#endif
  return nullptr;
}

std::unique_ptr<Decoder> OpenModuleDecoder(const std::string& path, int rate, bool loop) {
  if (rate <= 0) return nullptr;
#if VK_AUDIO_MORE_FORMATS
  auto m = std::make_unique<ModuleDecoder>(rate, loop);
  if (!m->Open(path)) return nullptr;
  return m;
#else
  (void)path, (void)loop;
  return nullptr;
#endif
}

}  // namespace audio
