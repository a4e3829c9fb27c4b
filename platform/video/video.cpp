#include "platform/video/video.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/os/system.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace video {

namespace {

constexpr int kMaxWidth = 3840;
constexpr int kMaxHeight = 2160;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// One encoder and the stream it feeds.
struct Track {
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;
  AVFrame* frame = nullptr;
  std::int64_t next = 0;  // pts of the next frame, in the codec's time base
  ~Track() {
    av_frame_free(&frame);
    avcodec_free_context(&codec);
  }
};

// What the producer hands the encoder thread, in order.
struct Item {
  int frame = -1;                 // index of a frame buffer, or -1 for sound
  std::vector<std::int16_t> pcm;  // interleaved stereo
};

}  // namespace

struct Writer::Impl {
  Settings settings;
  std::string temporary;
  int fd = -1;  // the temporary file, written through our own I/O context
  AVFormatContext* format = nullptr;
  bool fileOpen = false;
  Track video, audio;
  SwsContext* scale = nullptr;
  SwrContext* resample = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVPacket* packet = nullptr;

  // The queue between the producer and the encoder thread.
  std::vector<std::vector<std::uint8_t>> buffers;
  std::vector<int> freeBuffers;
  int acquired = -1;
  std::deque<Item> queue;
  std::mutex mutex;
  std::condition_variable changed;
  bool closing = false;
  std::thread worker;

  std::atomic<bool> failed{false};
  std::string failure;  // guarded by mutex
  std::uint64_t submitted = 0;
  bool finished = false;

  ~Impl() {
    StopWorker();
    Close(false);
  }

  void Fail(const std::string& what) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (failure.empty()) failure = what;
    }
    failed.store(true);
    changed.notify_all();
  }

  bool Check(int code, const char* what) {
    if (code >= 0) return true;
    Fail(std::string(what) + ": " + AvError(code));
    return false;
  }

  // ---- set-up ----------------------------------------------------------------------------------

  // A stream of the file with an encoder context for the encoder called Name.
  bool NewTrack(const char* name, Track& track, std::string& error) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
      error = std::string("no ") + name + " encoder in this FFmpeg";
      return false;
    }
    track.stream = avformat_new_stream(format, nullptr);
    track.codec = avcodec_alloc_context3(codec);
    if (!track.stream || !track.codec) {
      error = "out of memory";
      return false;
    }
    return true;
  }

  bool OpenVideo(std::string& error) {
    const bool ffv1 = settings.lossless;
    const char* name = ffv1 ? "ffv1" : settings.container == Container::Webm ? "libvpx-vp9" : "libx264";
    if (!NewTrack(name, video, error)) return false;
    AVCodecContext* c = video.codec;
    c->width = settings.width;
    c->height = settings.height;
    c->time_base = AVRational{settings.rateDen, settings.rateNum};
    c->framerate = AVRational{settings.rateNum, settings.rateDen};
    c->pix_fmt = ffv1 ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
    c->thread_count = settings.encoderThreads;
    if (!ffv1) {
      // What the scaler writes: BT.601, limited range; said so in the stream.
      c->colorspace = AVCOL_SPC_SMPTE170M;
      c->color_primaries = AVCOL_PRI_SMPTE170M;
      c->color_trc = AVCOL_TRC_SMPTE170M;
      c->color_range = AVCOL_RANGE_MPEG;
      c->gop_size = std::max(1, 2 * settings.rateNum / std::max(1, settings.rateDen));
    }
    if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    const int q = settings.quality;
    if (ffv1) {
      av_dict_set(&options, "level", "3", 0);
      av_dict_set(&options, "slices", "4", 0);
      av_dict_set(&options, "slicecrc", "0", 0);
    } else if (settings.container == Container::Webm) {
      av_dict_set(&options, "deadline", "realtime", 0);
      av_dict_set(&options, "cpu-used", "8", 0);
      av_dict_set(&options, "row-mt", "1", 0);
      av_dict_set(&options, "crf", std::to_string(q >= 0 ? std::min(q, 63) : 32).c_str(), 0);
      c->bit_rate = 0;
    } else {
      av_dict_set(&options, "preset", "superfast", 0);
      // Frames held inside the encoder are what its memory is made of (some 40 MB each at 4K):
      // no look-ahead thread of its own and at most two frame threads keep it within bounds.
      av_dict_set(&options, "x264-params", "sync-lookahead=0", 0);
      if (c->thread_count == 0) c->thread_count = 2;
      av_dict_set(&options, "crf", std::to_string(q >= 0 ? std::min(q, 51) : 20).c_str(), 0);
    }
    int rc = avcodec_open2(c, c->codec, &options);
    av_dict_free(&options);
    if (rc < 0) {
      error = std::string("the ") + name + " encoder does not open: " + AvError(rc);
      return false;
    }
    avcodec_parameters_from_context(video.stream->codecpar, c);
    video.stream->time_base = c->time_base;
    video.stream->avg_frame_rate = c->framerate;
    video.stream->r_frame_rate = c->framerate;

    video.frame = av_frame_alloc();
    if (!video.frame) {
      error = "out of memory";
      return false;
    }
    video.frame->format = c->pix_fmt;
    video.frame->width = c->width;
    video.frame->height = c->height;
    if (av_frame_get_buffer(video.frame, 0) < 0) {
      error = "out of memory";
      return false;
    }
    scale = sws_getContext(c->width, c->height, AV_PIX_FMT_RGBA, c->width, c->height, c->pix_fmt,
                           SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!scale) {
      error = "no RGBA conversion to the encoder's pixel format";
      return false;
    }
    return true;
  }

  bool OpenAudio(std::string& error) {
    const char* name = settings.container == Container::Webm ? "libopus"
                       : settings.container == Container::Mkv ? "flac"
                                                              : "aac";
    if (!NewTrack(name, audio, error)) return false;
    AVCodecContext* c = audio.codec;
    // Opus knows only 48 kHz (and lower rates); the others keep the sound's own rate.
    c->sample_rate = settings.container == Container::Webm ? 48000 : settings.audioRate;
    c->sample_fmt = c->codec->sample_fmts ? c->codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&c->ch_layout, &stereo);
    c->time_base = AVRational{1, c->sample_rate};
    if (settings.container == Container::Mp4) c->bit_rate = 192000;
    if (settings.container == Container::Webm) c->bit_rate = 160000;
    if (format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(c, c->codec, nullptr);
    if (rc < 0) {
      error = std::string("the ") + name + " encoder does not open: " + AvError(rc);
      return false;
    }
    avcodec_parameters_from_context(audio.stream->codecpar, c);
    audio.stream->time_base = c->time_base;

    rc = swr_alloc_set_opts2(&resample, &c->ch_layout, c->sample_fmt, c->sample_rate, &stereo, AV_SAMPLE_FMT_S16,
                             settings.audioRate, 0, nullptr);
    if (rc < 0 || swr_init(resample) < 0) {
      error = "no conversion of the sound to the encoder's format";
      return false;
    }
    fifo = av_audio_fifo_alloc(c->sample_fmt, 2, 4096);
    audio.frame = av_frame_alloc();
    if (!fifo || !audio.frame) {
      error = "out of memory";
      return false;
    }
    return true;
  }

  bool Open(std::string& error) {
    if (settings.width < 2 || settings.height < 2 || settings.width > kMaxWidth || settings.height > kMaxHeight) {
      error = "the size " + std::to_string(settings.width) + "x" + std::to_string(settings.height) +
              " is outside 2x2 .. 3840x2160";
      return false;
    }
    if (!settings.lossless && (settings.width % 2 || settings.height % 2)) {
      error = "H.264 and VP9 need an even width and height";
      return false;
    }
    if (settings.lossless && settings.container != Container::Mkv) {
      error = "lossless video needs a .mkv file";
      return false;
    }
    if (settings.rateNum <= 0 || settings.rateDen <= 0) {
      error = "the frame rate must be positive";
      return false;
    }
    const char* formatName = settings.container == Container::Mp4 ? "mp4"
                             : settings.container == Container::Mkv ? "matroska"
                                                                    : "webm";
    int rc = avformat_alloc_output_context2(&format, nullptr, formatName, settings.path.c_str());
    if (rc < 0 || !format) {
      error = std::string("no ") + formatName + " writer: " + AvError(rc);
      return false;
    }
    packet = av_packet_alloc();
    if (!packet) {
      error = "out of memory";
      return false;
    }
    if (!OpenVideo(error)) return false;
    if (settings.audioRate > 0 && !OpenAudio(error)) return false;
    fd = os::CreateTemporaryFile(settings.path, temporary);
    if (fd < 0) error = settings.path + ": " + std::strerror(errno);
    if (fd < 0) return false;
    constexpr int kBufferSize = 1 << 16;
    auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferSize));
    format->pb = buffer ? avio_alloc_context(buffer, kBufferSize, 1, this, nullptr, WritePacket, SeekFile) : nullptr;
    if (!format->pb) {
      av_free(buffer);
      error = "out of memory";
      return false;
    }
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    fileOpen = true;
    rc = avformat_write_header(format, nullptr);
    if (rc < 0) {
      error = "the file header could not be written: " + AvError(rc);
      return false;
    }
    const std::size_t bytes = static_cast<std::size_t>(settings.width) * settings.height * 4;
    const int count = std::max(1, settings.queueFrames);
    buffers.resize(count);
    for (int i = 0; i < count; ++i) {
      buffers[i].assign(bytes, 0);
      freeBuffers.push_back(i);
    }
    worker = std::thread([this] { Run(); });
    return true;
  }

  // ---- the encoder thread ---------------------------------------------------------------------

  // Sends one frame (nullptr flushes) and writes every packet the encoder has ready.
  bool Encode(Track& track, AVFrame* frame) {
    int rc = avcodec_send_frame(track.codec, frame);
    if (rc < 0 && !(frame == nullptr && rc == AVERROR_EOF)) return Check(rc, "encoding");
    for (;;) {
      rc = avcodec_receive_packet(track.codec, packet);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (!Check(rc, "encoding")) return false;
      av_packet_rescale_ts(packet, track.codec->time_base, track.stream->time_base);
      packet->stream_index = track.stream->index;
      rc = av_interleaved_write_frame(format, packet);
      av_packet_unref(packet);
      if (!Check(rc, "writing the file")) return false;
    }
  }

  bool EncodePicture(const std::uint8_t* rgba) {
    if (av_frame_make_writable(video.frame) < 0) return Check(AVERROR(ENOMEM), "encoding");
    const std::uint8_t* src[1] = {rgba};
    const int stride[1] = {settings.width * 4};
    sws_scale(scale, src, stride, 0, settings.height, video.frame->data, video.frame->linesize);
    video.frame->pts = video.next++;
    return Encode(video, video.frame);
  }

  // Encodes whole codec frames from the FIFO; with `last` also the remainder.
  bool DrainAudio(bool last) {
    AVCodecContext* c = audio.codec;
    const int size = c->frame_size > 0 ? c->frame_size : 1024;
    while (av_audio_fifo_size(fifo) >= size || (last && av_audio_fifo_size(fifo) > 0)) {
      const int n = std::min(size, av_audio_fifo_size(fifo));
      av_frame_unref(audio.frame);
      audio.frame->nb_samples = n;
      audio.frame->format = c->sample_fmt;
      audio.frame->sample_rate = c->sample_rate;
      av_channel_layout_copy(&audio.frame->ch_layout, &c->ch_layout);
      if (av_frame_get_buffer(audio.frame, 0) < 0) return Check(AVERROR(ENOMEM), "encoding");
      av_audio_fifo_read(fifo, reinterpret_cast<void**>(audio.frame->data), n);
      audio.frame->pts = audio.next;
      audio.next += n;
      if (!Encode(audio, audio.frame)) return false;
    }
    return true;
  }

  bool EncodeSound(const std::vector<std::int16_t>& pcm, bool last) {
    const int in = static_cast<int>(pcm.size() / 2);
    const int out = swr_get_out_samples(resample, in) + 16;
    std::uint8_t** planes = nullptr;
    if (av_samples_alloc_array_and_samples(&planes, nullptr, 2, out, audio.codec->sample_fmt, 0) < 0)
      return Check(AVERROR(ENOMEM), "encoding");
    const std::uint8_t* src = reinterpret_cast<const std::uint8_t*>(pcm.data());
    int got = swr_convert(resample, planes, out, in > 0 ? &src : nullptr, in);
    bool ok = Check(got, "converting the sound");
    if (ok && got > 0) ok = av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes), got) == got;
    av_freep(&planes[0]);
    av_freep(&planes);
    if (!ok) return Check(AVERROR(ENOMEM), "encoding");
    return DrainAudio(last);
  }

  void Run() {
    for (;;) {
      Item item;
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !queue.empty() || closing; });
        if (queue.empty()) return;
        item = std::move(queue.front());
        queue.pop_front();
      }
      bool ok = true;
      if (!failed.load()) {
        if (item.frame >= 0)
          ok = EncodePicture(buffers[item.frame].data());
        else if (audio.codec)
          ok = EncodeSound(item.pcm, false);
      }
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (item.frame >= 0) freeBuffers.push_back(item.frame);
      }
      changed.notify_all();
      (void)ok;
    }
  }

  void StopWorker() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      closing = true;
    }
    changed.notify_all();
    if (worker.joinable()) worker.join();
  }

  // Flushes the encoders and writes the trailer (when `complete`), then closes the file.
  bool Close(bool complete) {
    bool ok = true;
    if (complete && format && fileOpen && !failed.load()) {
      if (audio.codec) ok = EncodeSound({}, true) && Encode(audio, nullptr);
      ok = ok && Encode(video, nullptr);
      ok = ok && Check(av_write_trailer(format), "writing the end of the file");
    }
    if (format && fileOpen) {
      avio_flush(format->pb);
      if (format->pb->error < 0 && complete) ok = false;
      av_freep(&format->pb->buffer);
      avio_context_free(&format->pb);
      fileOpen = false;
    }
    if (fd >= 0 && complete && ok && fsync(fd) != 0) {
      Fail(errno == ENOSPC ? std::string("the disk is full") : std::string("writing: ") + std::strerror(errno));
      ok = false;
    }
    CloseFile();
    avformat_free_context(format);
    format = nullptr;
    sws_freeContext(scale);
    scale = nullptr;
    swr_free(&resample);
    if (fifo) av_audio_fifo_free(fifo);
    fifo = nullptr;
    av_packet_free(&packet);
    return ok && !failed.load();
  }

  // The file's I/O: plain writes and seeks on the temporary file. A failed write names its cause,
  // a full disk above all.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
  static int WritePacket(void* opaque, const std::uint8_t* data, int size) {
#else
  static int WritePacket(void* opaque, std::uint8_t* data, int size) {
#endif
    Impl& w = *static_cast<Impl*>(opaque);
    int left = size;
    while (left > 0) {
      const ssize_t n = ::write(w.fd, data + (size - left), static_cast<size_t>(left));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int code = n < 0 ? errno : ENOSPC;
        w.Fail(code == ENOSPC ? std::string("the disk is full") : std::string("writing: ") + std::strerror(code));
        return AVERROR(code);
      }
      left -= static_cast<int>(n);
    }
    return size;
  }
  static std::int64_t SeekFile(void* opaque, std::int64_t offset, int whence) {
    Impl& w = *static_cast<Impl*>(opaque);
    if (whence == AVSEEK_SIZE) {
      struct stat st {};
      return fstat(w.fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
    }
    const off_t at = ::lseek(w.fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
  }
  void CloseFile() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

Writer::Writer(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Writer::~Writer() {
  if (impl_ && !impl_->finished) Abort();
}

std::unique_ptr<Writer> Writer::Open(const Settings& settings, std::string& error) {
  // The libraries' own chatter (encoder statistics) is not ours to print; failures come back
  // through `error`.
  av_log_set_level(AV_LOG_ERROR);
  auto impl = std::make_unique<Impl>();
  impl->settings = settings;
  if (!impl->Open(error)) {
    const std::string temporary = impl->temporary;
    impl.reset();
    if (!temporary.empty()) {
      std::remove(temporary.c_str());
      os::RemoveTemporaryFile(temporary);
    }
    return nullptr;
  }
  return std::unique_ptr<Writer>(new Writer(std::move(impl)));
}

std::uint8_t* Writer::AcquireFrame() {
  Impl& w = *impl_;
  if (w.acquired >= 0) return w.buffers[w.acquired].data();
  std::unique_lock<std::mutex> lock(w.mutex);
  w.changed.wait(lock, [&] { return !w.freeBuffers.empty() || w.failed.load(); });
  if (w.failed.load()) return nullptr;
  w.acquired = w.freeBuffers.back();
  w.freeBuffers.pop_back();
  return w.buffers[w.acquired].data();
}

void Writer::SubmitFrame() {
  Impl& w = *impl_;
  if (w.acquired < 0) return;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    Item item;
    item.frame = w.acquired;
    w.queue.push_back(std::move(item));
  }
  w.acquired = -1;
  ++w.submitted;
  w.changed.notify_all();
}

void Writer::SubmitAudio(const std::int16_t* stereo, std::size_t frames) {
  Impl& w = *impl_;
  if (!w.audio.codec || frames == 0) return;
  Item item;
  item.pcm.assign(stereo, stereo + 2 * frames);
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.queue.push_back(std::move(item));
  }
  w.changed.notify_all();
}

bool Writer::Finish(std::string& error) {
  Impl& w = *impl_;
  w.finished = true;
  if (w.acquired >= 0) {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.freeBuffers.push_back(w.acquired);
    w.acquired = -1;
  }
  w.StopWorker();  // the worker empties the queue before it returns
  bool ok = w.Close(true);
  // Onto the final name, replacing whatever is there (a symbolic link itself, never its target).
  if (ok && std::rename(w.temporary.c_str(), w.settings.path.c_str()) != 0) {
    ok = false;
    w.Fail(std::string("the finished file could not take its name (") + std::strerror(errno) + ")");
  }
  if (!ok) {
    std::remove(w.temporary.c_str());
    std::lock_guard<std::mutex> lock(w.mutex);
    error = w.failure.empty() ? std::string("the file could not be completed") : w.failure;
  }
  return ok;
}

void Writer::Abort() {
  Impl& w = *impl_;
  w.finished = true;
  w.failed.store(true);  // the worker skips what is still queued
  w.StopWorker();
  w.Close(false);
  std::remove(w.temporary.c_str());
}

bool Writer::Failed() const { return impl_->failed.load(); }
std::uint64_t Writer::FramesSubmitted() const { return impl_->submitted; }
const std::string& Writer::TemporaryPath() const { return impl_->temporary; }

}  // namespace video
