#include "demo/Music.h"

#include "engine/vokBassPlayer.h"
#include "platform/audio/audio.h"

#include <algorithm>

TvokBassPlayer* MusicPlayer = nullptr;
uint32_t MusicChannel = 0;

void LoadMusic(HWND Window, const std::string& FileName) {
  MusicPlayer = new TvokBassPlayer(Window);
  MusicPlayer->Load(MusicChannel, FileName);
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

void UseOfflineMusic() { audio::SetOfflineOutput(true); }

void RenderMusic(int16_t* Stereo, size_t Frames) {
  if (!audio::RenderOffline(Stereo, Frames)) std::fill(Stereo, Stereo + 2 * Frames, int16_t{0});
}
