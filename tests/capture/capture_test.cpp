// --capture, --fps and --start through the built program: short, small captures decoded back with
// the same FFmpeg libraries the writer uses.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/png_file.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

// This process's scratch folder, removed when the process ends.
fs::path ScratchDir() {
  struct Folder {
    fs::path Path = fs::path(testing::TempDir()) / ("capture_" + std::to_string(getpid()));
    Folder() { fs::create_directories(Path); }
    ~Folder() {
      std::error_code Ec;
      fs::remove_all(Path, Ec);
    }
  };
  static const Folder Dir;
  return Dir.Path;
}

// The program in the run folder with silent audio; the checks read its standard error. Generous
// timeouts: a capture is slow on a loaded machine, and a passing run never waits them out.
vktest::ProcessOptions InRunDir() { return {VK_RUN_DIR, {"SDL_AUDIODRIVER=dummy"}, true}; }

vktest::Finished RunProgram(const std::vector<std::string>& Args) {
  return vktest::Run(Program, Args, InRunDir(), 600000);
}

// ---- Decoding the file back -------------------------------------------------------------------

struct Decoded {
  bool Ok = false;
  std::string VideoCodec, AudioCodec;
  int Width = 0, Height = 0;
  AVRational Rate{0, 1};
  int Frames = 0;
  std::vector<std::vector<uint8_t>> Pictures;  // RGB24 rows, when asked for
  std::vector<double> Brightness;              // mean of R, G, B per frame, 0..255
  int SampleRate = 0;
  double SoundStreamSeconds = 0;  // what the container says (AAC's padding trimmed by its edit list)
  std::vector<float> Sound;  // mono
  double SoundSeconds() const { return SampleRate ? double(Sound.size()) / SampleRate : 0.0; }
  double FrameMs() const { return 1000.0 * Rate.den / Rate.num; }
};

Decoded Decode(const fs::path& File, bool KeepPictures = false) {
  Decoded D;
  AVFormatContext* Format = nullptr;
  if (avformat_open_input(&Format, File.c_str(), nullptr, nullptr) < 0) return D;
  avformat_find_stream_info(Format, nullptr);
  const int V = av_find_best_stream(Format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const int A = av_find_best_stream(Format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  AVCodecContext* Codec[2] = {nullptr, nullptr};
  int Index[2] = {V, A};
  for (int i = 0; i < 2; ++i) {
    if (Index[i] < 0) continue;
    AVStream* S = Format->streams[Index[i]];
    const AVCodec* C = avcodec_find_decoder(S->codecpar->codec_id);
    Codec[i] = avcodec_alloc_context3(C);
    avcodec_parameters_to_context(Codec[i], S->codecpar);
    avcodec_open2(Codec[i], C, nullptr);
    (i == 0 ? D.VideoCodec : D.AudioCodec) = C->name;
  }
  if (A >= 0 && Format->streams[A]->duration > 0)
    D.SoundStreamSeconds = Format->streams[A]->duration * av_q2d(Format->streams[A]->time_base);
  if (V >= 0) {
    D.Width = Format->streams[V]->codecpar->width;
    D.Height = Format->streams[V]->codecpar->height;
    D.Rate = Format->streams[V]->avg_frame_rate;
  }
  SwsContext* Scale = nullptr;
  SwrContext* Resample = nullptr;
  AVPacket* Packet = av_packet_alloc();
  AVFrame* Frame = av_frame_alloc();
  auto Take = [&](int Which) {
    while (avcodec_receive_frame(Codec[Which], Frame) == 0) {
      if (Which == 0) {
        ++D.Frames;
        std::vector<uint8_t> Rgb(size_t(D.Width) * D.Height * 3);
        if (!Scale)
          Scale = sws_getContext(Frame->width, Frame->height, AVPixelFormat(Frame->format), D.Width, D.Height,
                                 AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        uint8_t* Dst[1] = {Rgb.data()};
        int Stride[1] = {D.Width * 3};
        sws_scale(Scale, Frame->data, Frame->linesize, 0, Frame->height, Dst, Stride);
        double Sum = 0;
        for (uint8_t B : Rgb) Sum += B;
        D.Brightness.push_back(Sum / Rgb.size());
        if (KeepPictures) D.Pictures.push_back(std::move(Rgb));
      } else {
        if (!Resample) {
          AVChannelLayout Mono = AV_CHANNEL_LAYOUT_MONO;
          swr_alloc_set_opts2(&Resample, &Mono, AV_SAMPLE_FMT_FLT, Frame->sample_rate, &Frame->ch_layout,
                              AVSampleFormat(Frame->format), Frame->sample_rate, 0, nullptr);
          swr_init(Resample);
          D.SampleRate = Frame->sample_rate;
        }
        std::vector<float> Out(Frame->nb_samples + 64);
        uint8_t* Dst[1] = {reinterpret_cast<uint8_t*>(Out.data())};
        const int Got = swr_convert(Resample, Dst, int(Out.size()), const_cast<const uint8_t**>(Frame->extended_data),
                                    Frame->nb_samples);
        if (Got > 0) D.Sound.insert(D.Sound.end(), Out.begin(), Out.begin() + Got);
      }
      av_frame_unref(Frame);
    }
  };
  while (av_read_frame(Format, Packet) >= 0) {
    for (int i = 0; i < 2; ++i)
      if (Codec[i] && Packet->stream_index == Index[i]) {
        avcodec_send_packet(Codec[i], Packet);
        Take(i);
      }
    av_packet_unref(Packet);
  }
  for (int i = 0; i < 2; ++i)
    if (Codec[i]) {
      avcodec_send_packet(Codec[i], nullptr);
      Take(i);
    }
  av_frame_free(&Frame);
  av_packet_free(&Packet);
  sws_freeContext(Scale);
  swr_free(&Resample);
  for (auto*& C : Codec) avcodec_free_context(&C);
  avformat_close_input(&Format);
  D.Ok = D.Frames > 0;
  return D;
}

// The file a capture writes until it is complete: ".NAME.XXXXXX" beside NAME; empty when none.
fs::path TemporaryOf(const fs::path& File) {
  std::error_code Ec;
  const std::string Prefix = "." + File.filename().string() + ".";
  for (const auto& E : fs::directory_iterator(File.parent_path(), Ec))
    if (E.path().filename().string().rfind(Prefix, 0) == 0) return E.path();
  return {};
}

std::vector<std::string> Capture(const fs::path& File, const std::vector<std::string>& More) {
  std::vector<std::string> Args{"--capture", File.string(), "--size", "160x90", "--seed", "5"};
  Args.insert(Args.end(), More.begin(), More.end());
  return Args;
}

// Captures into File (the small settings above plus More): the run succeeds, completes the file
// (no temporary left) and the file is decoded back.
Decoded CaptureAndDecode(const fs::path& File, const std::vector<std::string>& More, bool KeepPictures = false) {
  const vktest::Finished R = RunProgram(Capture(File, More));
  EXPECT_EQ(R.status, 0) << R.err;
  EXPECT_EQ(TemporaryOf(File), fs::path());
  return Decode(File, KeepPictures);
}

// ---- Files, rates, sizes, lengths -------------------------------------------------------------

TEST(Capture, Mp4HasTheFramesRateSizeAndSoundAskedFor) {
  const fs::path File = ScratchDir() / "two_seconds.mp4";
  const Decoded D = CaptureAndDecode(File, {"--until", "2000"});
  ASSERT_TRUE(D.Ok);
  EXPECT_EQ(D.VideoCodec, "h264");
  EXPECT_EQ(D.AudioCodec, "aac");
  EXPECT_EQ(D.Width, 160);
  EXPECT_EQ(D.Height, 90);
  EXPECT_EQ(D.Rate.num, 60);
  EXPECT_EQ(D.Rate.den, 1);
  EXPECT_EQ(D.Frames, 120);  // 0 .. 1983 ms
  EXPECT_EQ(D.SampleRate, 44100);
  // The sound ends where the picture ends; the decoder also hands out the encoder's padding of
  // the last AAC frame (1024 samples at most), which the file's edit list cuts off for players.
  EXPECT_NEAR(D.SoundStreamSeconds, 2.0, 1.0 / 60);
  EXPECT_NEAR(D.SoundSeconds(), 2.0, 1024.0 / 44100);
}

TEST(Capture, AFractionalRateIsKeptExactly) {
  const fs::path File = ScratchDir() / "ntsc.mp4";
  const Decoded D = CaptureAndDecode(File, {"--fps", "30000/1001", "--until", "2000"});
  ASSERT_TRUE(D.Ok);
  EXPECT_EQ(D.Rate.num, 30000);
  EXPECT_EQ(D.Rate.den, 1001);
  // Frame k shows floor(k * 1001 / 30) ms: 0 .. 1968 ms are the 60 frames before 2000 ms.
  EXPECT_EQ(D.Frames, 60);
  EXPECT_NEAR(D.SoundStreamSeconds, 60 * 1001.0 / 30000, 1001.0 / 30000);
}

TEST(Capture, WebmIsVp9WithOpus) {
  const fs::path File = ScratchDir() / "short.webm";
  const Decoded D = CaptureAndDecode(File, {"--fps", "25", "--until", "1000"});
  ASSERT_TRUE(D.Ok);
  EXPECT_EQ(D.VideoCodec, "vp9");
  EXPECT_EQ(D.AudioCodec, "opus");
  EXPECT_EQ(D.Frames, 25);
  EXPECT_NEAR(D.SoundSeconds(), 1.0, 0.04);
}

// ---- Same seed, same frames; --start; sound in sync -------------------------------------------

TEST(Capture, TheSameSeedGivesIdenticalLosslessFrames) {
  const fs::path A = ScratchDir() / "same_a.mkv", B = ScratchDir() / "same_b.mkv";
  // Scene two: random tickets.
  const std::vector<std::string> More{"--lossless", "--start", "25000", "--until", "26000", "--fps", "30"};
  const Decoded DA = CaptureAndDecode(A, More, true), DB = CaptureAndDecode(B, More, true);
  ASSERT_TRUE(DA.Ok);
  EXPECT_EQ(DA.VideoCodec, "ffv1");
  EXPECT_EQ(DA.AudioCodec, "flac");
  ASSERT_EQ(DA.Frames, 30);
  ASSERT_EQ(DA.Frames, DB.Frames);
  for (int i = 0; i < DA.Frames; ++i) EXPECT_EQ(DA.Pictures[i], DB.Pictures[i]) << "frame " << i;
  EXPECT_GT(DA.Brightness[15], 5.0);  // not a black picture
}

// Pictures of the runs from 0 and from --start at the same frame time, at 20 frames per second.
void ExpectSamePicture(uint32_t Ms) {
  const fs::path Dir = ScratchDir();
  const std::string T = std::to_string(Ms), Until = std::to_string(Ms + 10);
  const std::string Zero = (Dir / ("zero" + T + ".png")).string(), Started = (Dir / ("start" + T + ".png")).string();
  const std::vector<std::string> Common{"--headless", "--size", "160x90", "--seed", "9", "--fps", "20", "--until", Until};
  std::vector<std::string> A = Common, B = Common;
  A.insert(A.end(), {"--screenshot", T, Zero});
  B.insert(B.end(), {"--start", T, "--screenshot", T, Started});
  ASSERT_EQ(RunProgram(A).status, 0);
  ASSERT_EQ(RunProgram(B).status, 0);
  unsigned WA = 0, HA = 0, WB = 0, HB = 0;
  std::vector<uint8_t> PA, PB;
  ASSERT_TRUE(vktest::ReadPngFile(Zero, WA, HA, PA));
  ASSERT_TRUE(vktest::ReadPngFile(Started, WB, HB, PB));
  ASSERT_EQ(PA.size(), PB.size());
  int Differ = 0;
  for (unsigned Y = 0; Y < HA; ++Y)
    for (unsigned X = 0; X < WA; ++X) {
      for (int C = 0; C < 4; ++C) Differ += PA[(Y * WA + X) * 4 + C] != PB[(Y * WA + X) * 4 + C];
    }
  EXPECT_EQ(Differ, 0) << "at " << Ms << " ms";
}

TEST(Capture, StartShowsThePictureOfARunFromZero) {
  ExpectSamePicture(9000);   // scene one
  ExpectSamePicture(29000);  // scene two, drawn through the post-processing capture
  ExpectSamePicture(55000);  // scene three
}

TEST(Capture, ACaptureStartedLaterBeginsWithThePictureOfARunFromZero) {
  const fs::path Dir = ScratchDir();
  ASSERT_EQ(RunProgram({"--headless", "--size", "160x90", "--seed", "9", "--fps", "20", "--until", "9010",
                        "--screenshot", "9000", (Dir / "zero_capture.png").string()})
                .status,
            0);
  const fs::path File = Dir / "started.mkv";
  ASSERT_EQ(RunProgram({"--capture", File.string(), "--lossless", "--size", "160x90", "--seed", "9", "--fps", "20",
                        "--start", "9000", "--until", "9100"})
                .status,
            0);
  const Decoded D = Decode(File, true);
  ASSERT_EQ(D.Frames, 2);
  unsigned W = 0, H = 0;
  std::vector<uint8_t> Rgba;
  ASSERT_TRUE(vktest::ReadPngFile((Dir / "zero_capture.png").string(), W, H, Rgba));
  std::vector<uint8_t> Rgb;
  for (size_t i = 0; i < Rgba.size(); i += 4) Rgb.insert(Rgb.end(), {Rgba[i], Rgba[i + 1], Rgba[i + 2]});
  EXPECT_EQ(D.Pictures[0], Rgb);
}

// The cut into scene one's second step (3692 ms, two bars of the music) opens with a white flash
// and the music's downbeat. The show starts the step in the frame whose time first reaches the
// cut and draws its flash from the next frame (the new step's fades count from the moment the
// step was due); the onset in the sound lies within one frame of that cut frame.
TEST(Capture, TheFlashAtACutAndTheSoundAgreeWithinOneFrame) {
  const fs::path File = ScratchDir() / "cut.mkv";
  const Decoded D = CaptureAndDecode(File, {"--lossless", "--start", "3000", "--until", "4200"});
  ASSERT_TRUE(D.Ok);
  ASSERT_EQ(D.SampleRate, 44100);
  const double FirstFrameMs = 180 * 1000.0 / 60;  // frame 180 = 3000 ms starts the file
  int Flash = -1;
  for (int i = 1; i < D.Frames; ++i)
    if (D.Brightness[i] - D.Brightness[i - 1] > 60) {
      Flash = i;
      break;
    }
  ASSERT_GT(Flash, 0) << "no white flash";
  const double CutFrameMs = (Flash - 1) * D.FrameMs();  // file time of the frame that reached the cut
  // The onset: the first millisecond after which 10 ms of sound are much louder than the 50 ms
  // before, searched around the flash.
  auto Rms = [&](double FromMs, double ToMs) {
    const size_t A = size_t(std::max(0.0, FromMs) * 44.1), B = std::min(D.Sound.size(), size_t(ToMs * 44.1));
    double S = 0;
    for (size_t i = A; i < B; ++i) S += D.Sound[i] * D.Sound[i];
    return B > A ? std::sqrt(S / (B - A)) : 0.0;
  };
  double Onset = -1;
  for (double Ms = CutFrameMs - 100; Ms < CutFrameMs + 100; Ms += 0.5)
    if (Rms(Ms, Ms + 10) > 2.5 * Rms(Ms - 50, Ms)) {
      Onset = Ms;
      break;
    }
  ASSERT_GE(Onset, 0) << "no onset in the sound near the flash";
  EXPECT_NEAR(Onset, CutFrameMs, D.FrameMs()) << "flash frame at " << FirstFrameMs + Flash * D.FrameMs()
                                               << " ms show time";
}

// Scene five stops the music 7.3 s after it begins (99,607 ms show time): the rest of the show is
// silent. With CODA the closing phrase plays on under the end picture, with no silence before
// the show's last second.
TEST(Capture, CodaCarriesTheMusicUnderTheEndPicture) {
  auto Sound = [](const std::vector<std::string>& More) {
    std::vector<std::string> Args{"--lossless", "--start", "100000"};
    Args.insert(Args.end(), More.begin(), More.end());
    const Decoded D = CaptureAndDecode(ScratchDir() / "end.mkv", Args);
    EXPECT_EQ(D.SampleRate, 44100);
    return D.Sound;
  };
  // The loudest of each 100 ms of sound, from the capture's start to a second before the end.
  auto Peaks = [](const std::vector<float>& S) {
    std::vector<float> Out;
    const size_t Window = 4410, Last = S.size() > 44100 ? S.size() - 44100 : 0;
    for (size_t i = 0; i + Window <= Last; i += Window) {
      float Peak = 0;
      for (size_t j = i; j < i + Window; ++j) Peak = std::max(Peak, std::fabs(S[j]));
      Out.push_back(Peak);
    }
    return Out;
  };
  const std::vector<float> Plain = Peaks(Sound({})), Coda = Peaks(Sound({"CODA"}));
  ASSERT_GE(Plain.size(), 30u);
  ASSERT_GE(Coda.size(), 30u);
  EXPECT_EQ(*std::max_element(Plain.begin(), Plain.end()), 0.0f) << "the music was not stopped";
  for (size_t i = 0; i < Coda.size(); ++i)
    EXPECT_GT(Coda[i], 1e-4f) << "silence " << 100000 + i * 100 << " ms into the show with CODA";
}

// ---- Ctrl+C ------------------------------------------------------------------------------------

TEST(Capture, CtrlCLeavesAPlayableFileUpToTheLastFrame) {
  const fs::path File = ScratchDir() / "interrupted.mp4";
  vktest::Process Show(Program, Capture(File, {"--until", "60000"}), InRunDir());
  // Wait until frames are being written, then interrupt.
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < Deadline) {
    std::error_code Ec;
    const fs::path Temporary = TemporaryOf(File);
    if (!Temporary.empty() && fs::file_size(Temporary, Ec) > 20000 && !Ec) break;
    Show.Drain(50);
  }
  Show.Signal(SIGINT);
  const vktest::Finished R = Show.Finish(600000);
  EXPECT_EQ(R.status, 128 + SIGINT);
  EXPECT_NE(R.err.find("interrupted"), std::string::npos) << R.err;
  EXPECT_EQ(TemporaryOf(File), fs::path());
  const Decoded D = Decode(File);
  ASSERT_TRUE(D.Ok) << "no playable file";
  EXPECT_GT(D.Frames, 10);
  EXPECT_LT(D.Frames, 3600);
  EXPECT_NEAR(D.SoundStreamSeconds, D.Frames / 60.0, 1.0 / 60);
}

// ---- Bad input ---------------------------------------------------------------------------------

TEST(Capture, BadInputIsRefusedWithStatusTwoBeforeAnythingRuns) {
  const fs::path Dir = ScratchDir();
  const std::string Out = (Dir / "bad.mp4").string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> Cases = {
      {{"--capture", Out, "--fps", "0"}, "--fps"},
      {{"--capture", Out, "--fps", "-60"}, "--fps"},
      {{"--capture", Out, "--fps", "abc"}, "--fps"},
      {{"--capture", Out, "--fps", "60/0"}, "--fps"},
      {{"--capture", (Dir / "bad.avi").string()}, "extension"},
      {{"--capture", Out, "--size", "0x90"}, "--size"},
      {{"--capture", Out, "--size", "3842x2160"}, "3840x2160"},
      {{"--capture", Out, "--size", "3840x2162"}, "3840x2160"},
      {{"--capture", Out, "--start", "200000"}, "beyond the end"},
      {{"--capture", Out, "--start", "-5"}, "--start"},
      {{"--headless", "--start", "999999"}, "beyond the end"},
      {{"--capture", (Dir / "bad.mp4").string(), "--lossless"}, ".mkv"},
  };
  for (const auto& [Args, Words] : Cases) {
    const vktest::Finished R = RunProgram(Args);
    EXPECT_EQ(R.status, 2) << Args[Args.size() - 1] << ": " << R.err;
    EXPECT_NE(R.err.find(Words), std::string::npos) << R.err;
    EXPECT_FALSE(fs::exists(Out));
    EXPECT_EQ(TemporaryOf(Out), fs::path());
  }
}

// A file that cannot be made where it is asked for is status 1, as for the trace and screenshots:
// the command line is right, the file system refuses.
TEST(Capture, AFileThatCannotBeMadeThereIsStatusOneBeforeAnythingRuns) {
  const fs::path Dir = ScratchDir();
  fs::create_directories(Dir / "adir.mp4");
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {(Dir / "missing" / "bad.mp4").string(), "No such file or directory"},
      {(Dir / "adir.mp4").string(), "Is a directory"},
  };
  for (const auto& [File, Words] : Cases) {
    const vktest::Finished R = RunProgram({"--capture", File});
    EXPECT_EQ(R.status, 1) << File << ": " << R.err;
    EXPECT_NE(R.err.find(File + ": " + Words), std::string::npos) << R.err;
    EXPECT_EQ(R.err.find(File + ": " + File), std::string::npos) << "named twice: " << R.err;
    EXPECT_EQ(TemporaryOf(File), fs::path());
  }
  EXPECT_TRUE(fs::is_directory(Dir / "adir.mp4"));
}

}  // namespace
