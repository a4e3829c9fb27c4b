#include "app/Capture.h"
#include "app/OutputFile.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/os/system.h"
#include "platform/video/video.h"
#include "show/Show.h"

namespace {

// Read-backs in flight: the frame drawn now is handed over this many frames later.
constexpr unsigned ReadDepth = 3;

double Seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

std::string Clock(double Seconds) {
  if (Seconds < 0) Seconds = 0;
  const long S = static_cast<long>(Seconds + 0.5);
  char Text[32];
  std::snprintf(Text, sizeof Text, "%ld:%02ld", S / 60, S % 60);
  return Text;
}

}  // namespace

TCapture::TCapture() = default;

TCapture::~TCapture() {
  // A capture that did not finish leaves nothing under the final name.
  if (Writer) {
    os::RemoveTemporaryFile(Writer->TemporaryPath());
    Writer->Abort();
  }
}

bool TCapture::Open(const TOptions& Options, int Width, int Height, std::string& Error) {
  this->Options = Options;
  this->Width = Width;
  this->Height = Height;
  video::Settings Settings;
  Settings.path = Options.CaptureFile;
  if (!video::ContainerOf(Settings.path, Settings.container)) {
    Error = Settings.path + ": not a .mp4, .mkv or .webm file";
    return false;
  }
  Settings.width = Width;
  Settings.height = Height;
  Settings.rateNum = static_cast<int>(Options.FpsNum);
  Settings.rateDen = static_cast<int>(Options.FpsDen);
  Settings.lossless = Options.Lossless;
  Settings.quality = Options.Quality;
  Settings.audioRate = static_cast<int>(MusicRate);
  Settings.queueFrames = 3;
  if (!CheckRenamedOutput(Settings.path, Error)) return false;
  std::string Why;
  Writer = video::Writer::Open(Settings, Why);
  if (!Writer) {
    // The writer names the file itself when the file is what failed.
    Error = Why.rfind(Settings.path + ": ", 0) == 0 ? Why : Options.CaptureFile + ": " + Why;
    return false;
  }
  EndTime = Options.HasUntil ? std::min(Options.Until, ShowEndTime) : ShowEndTime;
  return true;
}

void TCapture::Begin(TvokEngine& Engine) {
  FirstFrame = Engine.FixedFrame;
  // The music plays from show time 0: the file's first sound frame is the one the player would
  // play at the exact time of the first picture.
  SeekMusic(FirstFrame * MusicRate * Options.FpsDen / Options.FpsNum);
  Began = true;
  StartedAt = Seconds();
}

void TCapture::FramePresented(TvokEngine& Engine) {
  if (!Began || !Writer || ReadFailed) return;
  // Ctrl+C, SIGTERM (the window system's stop request) or a failed file end the capture.
  if (os::StopRequested() || Writer->Failed()) {
    Engine.StopRequested = true;
    return;
  }
  if (Options.HasUntil && Engine.Time >= Options.Until) {
    Engine.StopRequested = true;
    return;
  }
  const uint64_t Frame = Engine.FixedFrame - 1;  // the frame just presented
  if (Frame < FirstFrame) return;

  // The sound of this frame's span, mixed with the music as this frame's move routine left it.
  const uint64_t Num = Options.FpsNum, Den = Options.FpsDen;
  const uint64_t SoundEnd = (Frame + 1) * MusicRate * Den / Num - FirstFrame * MusicRate * Den / Num;
  // In pieces of at most a second: the buffer never grows with the frame's length.
  std::vector<int16_t> Sound;
  while (SoundEnd > AudioFrames) {
    const uint64_t Piece = std::min<uint64_t>(SoundEnd - AudioFrames, MusicRate);
    Sound.resize(2 * Piece);
    RenderMusic(Sound.data(), Piece);
    Writer->SubmitAudio(Sound.data(), Piece);
    AudioFrames += Piece;
  }

  IDirect3DDevice9* Device = Engine.D3D->Device.get();
  const unsigned Slot = static_cast<unsigned>(Queued % ReadDepth);
  if (Queued - Taken == ReadDepth) Take(Engine, Taken);
  if (SUCCEEDED(gx::GxQueueBackBufferRead(Device, Slot))) {
    ++Queued;
  } else {
    // No pixel buffers (the recording backend): read now.
    std::vector<uint8_t> Rgba;
    UINT W = 0, H = 0;
    uint8_t* Buffer = Writer->AcquireFrame();
    if (!Buffer) {
      Engine.StopRequested = true;  // the file failed; Finish says why
    } else if (SUCCEEDED(gx::GxReadBackBuffer(Device, Rgba, W, H)) && W == UINT(Width) && H == UINT(Height)) {
      std::memcpy(Buffer, Rgba.data(), Rgba.size());
      Writer->SubmitFrame();
      ++Written;
    } else {
      ReadFailed = true;
      Engine.StopRequested = true;
    }
    ++Queued;
    ++Taken;
  }
  LastTime = Engine.Time;
  Progress(Engine, false);
}

void TCapture::Take(TvokEngine& Engine, uint64_t Frame) {
  uint8_t* Buffer = Writer->AcquireFrame();
  const size_t Size = static_cast<size_t>(Width) * Height * 4;
  if (!Buffer) {
    Engine.StopRequested = true;  // the file failed; Finish says why
  } else if (FAILED(gx::GxTakeBackBufferRead(Engine.D3D->Device.get(), static_cast<unsigned>(Frame % ReadDepth),
                                             Buffer, Size))) {
    ReadFailed = true;
    Engine.StopRequested = true;
  } else {
    Writer->SubmitFrame();
    ++Written;
  }
  ++Taken;
}

void TCapture::Progress(TvokEngine& Engine, bool Last) {
  if (!isatty(STDERR_FILENO)) return;
  const double Now = Seconds();
  if (!Last && Now - LastProgress < 0.25) return;
  LastProgress = Now;
  const double Elapsed = Now - StartedAt;
  const uint64_t Done = Queued;
  const double Fps = Elapsed > 0 ? static_cast<double>(Done) / Elapsed : 0.0;
  const double ShowSeconds = Engine.Time / 1000.0;
  const uint64_t Total =
      EndTime > 0 ? static_cast<uint64_t>(EndTime) * Options.FpsNum / (1000ull * Options.FpsDen) + 1 - FirstFrame : 0;
  const double Left = Fps > 0 && Total > Done ? static_cast<double>(Total - Done) / Fps : 0.0;
  std::fprintf(stderr, "\rcapture: frame %llu/%llu  show %.2f s  %.1f fps  left %s   ", (unsigned long long)Done,
               (unsigned long long)Total, ShowSeconds, Fps, Clock(Left).c_str());
  if (Last) std::fputc('\n', stderr);
  std::fflush(stderr);
}

int TCapture::Finish(TvokEngine* Engine) {
  if (!Writer) return 1;
  if (Engine && Engine->D3D && Engine->D3D->Device && !ReadFailed)
    while (Taken < Queued && !ReadFailed && !Writer->Failed()) Take(*Engine, Taken);
  if (Engine && Began) Progress(*Engine, true);
  const int Signal = os::StopSignal();
  const char* SignalName = os::StopSignalName(Signal);
  // Forgotten once the file has its name or is gone, whichever way this ends.
  struct TForget {
    std::string Name;
    ~TForget() { os::RemoveTemporaryFile(Name); }
  } Forget{Writer->TemporaryPath()};
  // Stopped before its first frame: a file with no picture would play nowhere.
  if (Written == 0 && !ReadFailed && !Writer->Failed()) {
    Writer->Abort();
    Writer.reset();
    if (Signal != 0) {
      std::fprintf(stderr, "Quorvanteplidusk: interrupted by %s before the first frame: nothing was captured; %s was not written\n",
                   SignalName, Options.CaptureFile.c_str());
      return 128 + Signal;
    }
    std::fprintf(stderr, "Quorvanteplidusk: %s: nothing was captured; no file was written\n", Options.CaptureFile.c_str());
    return 1;
  }
  std::string Error;
  const bool Complete = !ReadFailed && Writer->Finish(Error);
  if (!Complete) {
    if (ReadFailed) Error = "the picture could not be read back";
    if (Error.empty()) Error = "the file could not be completed";
    Writer->Abort();
    Writer.reset();
    std::fprintf(stderr, "Quorvanteplidusk: %s: %s; no file was written\n", Options.CaptureFile.c_str(),
                 Error.c_str());
    return 1;
  }
  Writer.reset();
  if (Signal != 0) {
    std::fprintf(stderr, "Quorvanteplidusk: interrupted by %s: %s holds the %llu frames up to show time %u ms\n",
                 SignalName, Options.CaptureFile.c_str(), (unsigned long long)Written, LastTime);
    return 128 + Signal;
  }
  return 0;
}
