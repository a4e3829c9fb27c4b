#include "show/Music.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/vokBassPlayer.h"
#include "platform/audio/audio.h"
#include "platform/audio/decoder.h"
#include "show/AssetWarnings.h"

#include <algorithm>

TvokBassPlayer* MusicPlayer = nullptr;
uint32_t MusicChannel = 0;

namespace {

const char* const NotRegular = "not a regular file";

// Why the music file cannot be played, before the player tries it: a FIFO or a device would
// block the decoder's open, and "Not supported music file." would hide a permission problem.
std::string UnreadableReason(const std::string& FileName) {
  const int Fd = ::open(FileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return std::strerror(errno);
  struct stat St {};
  const bool Regular = fstat(Fd, &St) == 0 && S_ISREG(St.st_mode);
  ::close(Fd);
  return Regular ? std::string() : std::string(NotRegular);
}

// A music file that ends before the show does (a download cut short, another piece of music)
// would leave the rest of the show silent without a word. The decoders know a file's length
// from its headers and last page, so this costs an open, not a decode; a length they do not know
// (or a stream cut before its first sound) is found by decoding its first moment.
void WarnIfShorterThanTheShow(const std::string& FileName) {
  std::unique_ptr<audio::Decoder> Decoder = audio::OpenStreamDecoder(FileName, audio::kDefaultRate);
  if (!Decoder) Decoder = audio::OpenModuleDecoder(FileName, audio::kDefaultRate, false);
  if (!Decoder) return;
  if (Decoder->LengthFrames() == 0) {
    int16_t First[2 * 1024];
    if (Decoder->Read(First, 1024) == 0)
      AssetWarning(FileName, "the music holds no sound (the file ends before its first sound); the show is silent");
    return;
  }
  const uint64_t LengthMs = Decoder->LengthFrames() * 1000 / audio::kDefaultRate;
  // A second's grace: the last fade may outlast the last note.
  if (LengthMs + 1000 >= ShowEndTime) return;
  char Reason[160];
  std::snprintf(Reason, sizeof Reason, "the music lasts %.1f s, the show %.1f s; the rest of the show is silent",
                double(LengthMs) / 1000.0, double(ShowEndTime) / 1000.0);
  AssetWarning(FileName, Reason);
}

}  // namespace

void LoadMusic(HWND Window, const std::string& FileName) {
  MusicPlayer = new TvokBassPlayer(Window);
  // Without an audio device the show is silent; that is the machine's business, not the show
  // maker's (no asset is at fault, so --strict does not count it), but it is said. What is wrong
  // with the music file is still found by the decoders alone, on any machine.
  const bool HaveOutput = MusicPlayer->Ok;
  if (!HaveOutput) {
    const std::string Why = audio::LastError();
    std::fprintf(stderr, "Quorvanteplidusk: warning: no sound device%s; the show plays without sound\n",
                 Why.empty() ? "" : (" (" + Why + ")").c_str());
    std::fflush(stderr);
  }
  const std::string Unreadable = UnreadableReason(FileName);
  const bool Blocking = Unreadable == NotRegular;
  if (Blocking || !MusicPlayer->Load(MusicChannel, FileName)) {
    const bool Decodable = !HaveOutput && Unreadable.empty() &&
                           (audio::OpenStreamDecoder(FileName, 44100) || audio::OpenModuleDecoder(FileName, 44100, false));
    if (!Unreadable.empty())
      AssetWarning(FileName, Unreadable + "; the show goes on without music");
    else if (!Decodable)
      AssetWarning(FileName, "not a music file the player can decode; the show goes on without music");
    else
      WarnIfShorterThanTheShow(FileName);
  } else {
    WarnIfShorterThanTheShow(FileName);
  }
  MusicPlayer->SetVolume(100);
}

void PlayMusic() {
  if (MusicPlayer != nullptr) MusicPlayer->Play(MusicChannel, false);
}

void StopMusic() {
  if (MusicPlayer != nullptr) MusicPlayer->Stop(MusicChannel);
}

void FreeMusic() {
  delete MusicPlayer;
  MusicPlayer = nullptr;
  MusicChannel = 0;
}

uint32_t MusicPosition() {
  if (MusicPlayer == nullptr || MusicChannel == 0) return 0;
  const uint32_t Position = MusicPlayer->GetPosition(MusicChannel);
  return Position == 0xFFFFFFFFu ? 0 : Position;
}

bool HeardMusicTime(double& Ms, bool& Started) {
  if (MusicPlayer == nullptr || MusicChannel == 0) return false;
  double Frame = 0;
  if (!MusicPlayer->GetHeardPosition(MusicChannel, Frame, Started)) return false;
  Ms = Frame * 1000.0 / MusicRate;
  return true;
}

void NoteMusicHeardAt(double Ms) { audio::SetNextBlockHeardAt(Ms); }

void SeekMusic(uint64_t Frame) {
  if (MusicPlayer != nullptr && MusicChannel != 0) MusicPlayer->SetPosition(MusicChannel, Frame * 4);
}

void PauseMusic(bool Paused) {
  if (MusicPlayer == nullptr) return;
  if (Paused)
    MusicPlayer->Pause();
  else
    MusicPlayer->Resume();
}

std::string MusicError() {
  return MusicPlayer != nullptr && !MusicPlayer->Ok ? MusicPlayer->ErrorText : std::string();
}

bool MusicAudible() { return MusicPlayer != nullptr && MusicPlayer->Ok && MusicChannel != 0; }

void SetMusicVolume(int Percent) {
  if (MusicPlayer != nullptr) MusicPlayer->SetVolume(std::clamp(Percent, 0, 100));
}

void UseOfflineMusic() { audio::SetOfflineOutput(true); }

void RenderMusic(int16_t* Stereo, size_t Frames) {
  if (!audio::RenderOffline(Stereo, Frames)) std::fill(Stereo, Stereo + 2 * Frames, int16_t{0});
}
