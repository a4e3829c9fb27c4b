#pragma once
// The music player: one output device for the engine window, channels made from
// music files (a sampled stream, or a tracker module when the file is not a
// stream), start, stop, position and the output volume.

#include "engine/vokObject.h"
#include "platform/os/window.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TvokBassPlayer : public TvokObject {
 public:
  // Handles of every channel Load created; present only when the output opened.
  std::optional<std::vector<std::uint32_t>> Channels;

  explicit TvokBassPlayer(HWND Window);
  ~TvokBassPlayer();
  TvokBassPlayer(const TvokBassPlayer&) = delete;
  TvokBassPlayer& operator=(const TvokBassPlayer&) = delete;

  // Channel is left unchanged when the file does not exist.
  bool Load(std::uint32_t& Channel, const std::string& FileName);
  bool Play(std::uint32_t Channel, bool Restart);
  bool Stop(std::uint32_t Channel);
  // Bytes of decoded 16-bit stereo data played; 0xFFFFFFFF for a bad handle.
  std::uint32_t GetPosition(std::uint32_t Channel);
  void SetVolume(int Volume);
  // The channel's frame leaving the speakers now (decoded stereo frames since its start); Started
  // is false until its sound since the last start or jump is heard. False without a device.
  bool GetHeardPosition(std::uint32_t Channel, double& Frame, bool& Started);
  // Seeking and pausing (show-maker controls, --start, capture): the channel goes on from a byte
  // position of decoded 16-bit stereo data; the whole output pauses and resumes.
  bool SetPosition(std::uint32_t Channel, std::uint64_t Bytes);
  void Pause();
  void Resume();

 private:
  // Only the player that opened the output closes it again.
  bool OwnsOutput = false;
};
