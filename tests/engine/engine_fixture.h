#pragma once
// An engine on the recording backend in a headless window, driven by a fake millisecond clock.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/vokEngine.h"
#include "platform/gfx/backend.h"
#include "platform/os/clock.h"
#include "platform/os/system.h"
#include "tests/support/os_fixture.h"

namespace enginetest {

inline uint32_t& FakeNow() {
  static uint32_t now = 0;
  return now;
}
inline uint32_t FakeClock() { return FakeNow(); }
inline uint32_t& SleptMs() {
  static uint32_t slept = 0;
  return slept;
}
inline void FakeSleep(uint32_t ms) { SleptMs() += ms; }

// What the callbacks saw, in order ("move 40", "render 40", ...).
inline std::vector<std::string>& Log() {
  static std::vector<std::string> log;
  return log;
}

class EngineTest : public vktest::HeadlessOsTest {
 protected:
  void SetUp() override {
    HeadlessOsTest::SetUp();
    if (HasFatalFailure()) return;
    os::SetParams({});
    gx::SetBackendKind(gx::BackendKind::Recording);
    gx::ClearFaults();
    FakeNow() = 10000;
    SleptMs() = 0;
    os::SetClockSource(FakeClock);
    os::SetSleepHook(FakeSleep);
    Log().clear();
  }

  void TearDown() override {
    delete Engine;
    Engine = nullptr;
    gx::ClearFaults();
    os::SetClockSource(nullptr);
    os::SetSleepHook(nullptr);
    HeadlessOsTest::TearDown();
  }

  // Creates the global engine as the start-up does, windowed unless asked otherwise.
  TvokEngine* MakeEngine(TvokFrameProc move, TvokFrameProc render, bool fullScreen = false, int width = 320,
                         int height = 180) {
    Engine = new TvokEngine(nullptr, width, height, 0, true, "Quorvanteplidusk", move, render, fullScreen, true, true,
                            false, false, true, D3DMULTISAMPLE_NONE, 0);
    return Engine;
  }

  // Runs one frame at the given clock value.
  void FrameAt(uint32_t now) {
    FakeNow() = now;
    Engine->RenderFrame();
  }
};

}  // namespace enginetest
