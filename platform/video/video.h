#pragma once
// A video file writer: RGBA frames and 16-bit stereo sound in, one file with a picture and a sound
// track out, through FFmpeg's libraries (libavformat, libavcodec, libswscale, libswresample).
//
// The container follows the file's extension: .mp4 (H.264 + AAC), .mkv (H.264 + FLAC, or FFV1 +
// FLAC when lossless), .webm (VP9 + Opus). The file is written under a temporary name beside the
// final one (".NAME.XXXXXX", unpredictable, created exclusively and never through a symbolic
// link) and renamed by Finish; a writer that fails or is abandoned removes it, so the final name
// only ever holds a complete file.
//
// Threads: one producer thread calls AcquireFrame / SubmitFrame / SubmitAudio / Finish; the
// encoding runs on the writer's own thread behind a queue of at most QueueFrames frames, so the
// producer blocks (and memory stays bounded) when the encoder falls behind.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace video {

enum class Container { Mp4, Mkv, Webm };

// The container the file name's extension asks for (letter case ignored); false for any other.
bool ContainerOf(const std::string& path, Container& container);

struct Settings {
  std::string path;  // the final name
  Container container = Container::Mp4;
  int width = 1280;  // even, at most 3840 x 2160
  int height = 720;
  int rateNum = 60;  // frames per second as a fraction: 60/1, 30000/1001 ...
  int rateDen = 1;
  bool lossless = false;  // .mkv only: FFV1 (RGB, bit-exact) instead of H.264
  int quality = -1;       // CRF-like (lower is better): 0..51 for H.264, 0..63 for VP9; -1 = default
  int audioRate = 44100;  // rate of the submitted sound; 0 = no sound track
  int queueFrames = 3;    // frames waiting for the encoder at most
  int encoderThreads = 0; // 0 = the codec's choice
};

class Writer {
 public:
  // Opens the encoders and the temporary file. nullptr with `error` set when that fails.
  static std::unique_ptr<Writer> Open(const Settings& settings, std::string& error);
  // Removes the temporary file unless Finish succeeded.
  ~Writer();
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // A buffer for the next frame: width * height * 4 bytes of RGBA, top row first. Blocks while
  // the queue is full. nullptr once the writer has failed.
  std::uint8_t* AcquireFrame();
  // Hands the acquired buffer to the encoder; the frame lasts 1 / rate.
  void SubmitFrame();
  // Sound that belongs after everything submitted so far (interleaved stereo at audioRate).
  void SubmitAudio(const std::int16_t* stereo, std::size_t frames);

  // Drains the queue, flushes the encoders, writes the trailer and renames the file to its final
  // name. False with `error` when anything failed on the way (the temporary file is then gone).
  bool Finish(std::string& error);
  // Stops without a file: the temporary file is removed.
  void Abort();

  // True once an encoder or the file has failed; the producer should stop.
  bool Failed() const;
  std::uint64_t FramesSubmitted() const;
  // The file's name while it is being written.
  const std::string& TemporaryPath() const;

  struct Impl;

 private:
  explicit Writer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace video
