#include "demo/Music.h"

#include "engine/vokBassPlayer.h"

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
