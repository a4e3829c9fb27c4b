#include "engine/vokBassPlayer.h"

#include "platform/audio/audio.h"

#include <filesystem>

namespace {
constexpr int kDefaultDevice = 1;
constexpr int kFrequency = 44100;
constexpr int kBufferMs = 1000;
constexpr std::uint32_t kStreamFlags = audio::kFlagLoop | audio::kFlagEffects;  // $84
constexpr std::uint32_t kModuleFlags = audio::kFlagRamp | audio::kFlagEffects;  // $280
}  // namespace

TvokBassPlayer::TvokBassPlayer(HWND Window) {
  // The buffer length applies to channels created afterwards, so setting it right
  // after opening the output covers every channel Load makes.
  if (audio::Init(kDefaultDevice, kFrequency, Window)) {
    OwnsOutput = true;
    audio::Start();
    audio::SetBufferLength(kBufferMs);
    Channels.emplace();
  } else {
    SetError("BASS player initialization error.");
  }
}

TvokBassPlayer::~TvokBassPlayer() {
  if (!OwnsOutput) return;
  audio::Stop();
  if (Channels) {
    for (std::uint32_t Handle : *Channels) {
      // The handle's kind is not recorded; the wrong free fails harmlessly.
      audio::StreamFree(Handle);
      audio::ModuleFree(Handle);
    }
  }
  Channels.reset();
  audio::Free();
}

bool TvokBassPlayer::Load(std::uint32_t& Channel, const std::string& FileName) {
  std::error_code Ec;
  if (!std::filesystem::exists(FileName, Ec)) {
    SetError("File not exists.");
    return false;
  }
  Channel = audio::StreamCreateFile(FileName, kStreamFlags);
  if (Channel == 0) Channel = audio::ModuleLoad(FileName, kModuleFlags);
  if (Channel == 0) {
    SetError("Not supported music file.");
    return false;
  }
  if (Channels) Channels->push_back(Channel);
  return true;
}

bool TvokBassPlayer::Play(std::uint32_t Channel, bool Restart) { return audio::ChannelPlay(Channel, Restart); }

bool TvokBassPlayer::Stop(std::uint32_t Channel) { return audio::ChannelStop(Channel); }

std::uint32_t TvokBassPlayer::GetPosition(std::uint32_t Channel) {
  return static_cast<std::uint32_t>(audio::ChannelGetPosition(Channel));
}

void TvokBassPlayer::SetVolume(int Volume) { audio::SetVolume(Volume); }

bool TvokBassPlayer::GetHeardPosition(std::uint32_t Channel, double& Frame, bool& Started) {
  return audio::ChannelIsPlaying(Channel) && audio::ChannelHeardPosition(Channel, Frame, Started);
}

bool TvokBassPlayer::SetPosition(std::uint32_t Channel, std::uint64_t Bytes) {
  return audio::ChannelSetPosition(Channel, Bytes);
}

void TvokBassPlayer::Pause() { audio::Stop(); }

void TvokBassPlayer::Resume() { audio::Start(); }
