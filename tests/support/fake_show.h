#pragma once
// A stand-in for the show behind its face: every routine records its call, so a test of the
// programs around the show sees what the start-up sequence did, in which order, and whether the
// engine was still there. Installed for the life of the object; the face is put back afterwards.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/vokEngine.h"
#include "show/Show.h"

namespace vktest {

class FakeShow {
 public:
  FakeShow() : Saved(ShowFace) {
    Active = this;
    ShowFace = TShowFace{};
    ShowFace.FirstMove = Move;
    ShowFace.FirstRender = Render;
    ShowFace.Reset = Reset;
    ShowFace.Load = Load;
    ShowFace.Free = Free;
    ShowFace.LoadMusic = LoadMusic;
    ShowFace.PlayMusic = PlayMusic;
    ShowFace.FreeMusic = FreeMusic;
  }
  ~FakeShow() {
    ShowFace = Saved;
    Active = nullptr;
  }
  FakeShow(const FakeShow&) = delete;
  FakeShow& operator=(const FakeShow&) = delete;

  std::vector<std::string> Calls;  // "Load Quorvanteplidusk.vkr", "PlayMusic", "Free", ...
  int Frames = 0;                  // frames the first scene's move routine saw
  bool ArchiveMissing = false;     // Load throws as for an archive file that is not there

 private:
  static void Record(const std::string& Call) {
    if (Active) Active->Calls.push_back(Call);
  }
  static void Move(int) {
    if (Active) ++Active->Frames;
  }
  static void Render(int) {}
  static void Reset(uint32_t Seed) { Record("Reset " + std::to_string(Seed)); }
  static void Load(const std::string& Archive) {
    Record("Load " + Archive);
    if (Active && Active->ArchiveMissing) throw std::runtime_error(Archive + ": file not found");
  }
  static void Free() { Record(Engine && Engine->D3D && Engine->D3D->Device ? "Free" : "Free without device"); }
  static void LoadMusic(HWND Window, const std::string& File) {
    Record(std::string("LoadMusic ") + (Window ? "window " : "none ") + File);
  }
  static void PlayMusic() { Record("PlayMusic"); }
  static void FreeMusic() { Record(Engine ? "FreeMusic with engine" : "FreeMusic"); }

  static inline FakeShow* Active = nullptr;
  TShowFace Saved;
};

}  // namespace vktest
