// --controls in a real X display (a private Xvfb): Space pauses, Right and Left jump 5 s, Home
// restarts, and the window title shows the show time. Skipped when Xvfb or xdotool is missing.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "tests/support/xvfb.h"

namespace {

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";

// The show's own leak check is the sanitized unit tests' job; X and the GL driver keep
// allocations of their own until exit.
std::string NoLeakCheck() {
  const char* Asan = std::getenv("ASAN_OPTIONS");
  return std::string("ASAN_OPTIONS=") + (Asan && *Asan ? std::string(Asan) + ":" : "") + "detect_leaks=0";
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    Server = std::make_unique<xtest::Xvfb>(96, "1280x720");
    if (const std::string Lacks = Server->Lacks({"xdotool"}); !Lacks.empty()) GTEST_SKIP() << Lacks;
  }

  std::string X(const std::string& Command) {
    std::string Out;
    Server->Run(Command + " 2>/dev/null", &Out);
    return Out;
  }

  // The show time the title shows ("Quorvanteplidusk  12.3 s"), in ms; -1 without one.
  int TitleTime(bool* Paused = nullptr) {
    const std::string Name = X("xdotool getwindowname " + Window);
    if (Paused) *Paused = Name.find("(paused)") != std::string::npos;
    const auto At = Name.find("  ");
    if (At == std::string::npos) return -1;
    return static_cast<int>(std::strtod(Name.c_str() + At + 2, nullptr) * 1000 + 0.5);
  }

  void Key(const std::string& Name) { X("xdotool key --window " + Window + " " + Name); }

  // Waits (up to 20 s: a busy machine renders slowly) until the title satisfies Ok.
  template <typename Predicate>
  bool WaitTitle(Predicate Ok) {
    for (int Waited = 0; Waited < 20000; Waited += 50) {
      bool Paused = false;
      const int T = TitleTime(&Paused);
      if (T >= 0 && Ok(T, Paused)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::unique_ptr<xtest::Xvfb> Server;
  std::string Window;
};

TEST_F(Controls, SpacePausesRightAndLeftJumpHomeRestarts) {
  xtest::Process Show(*Server, Program, {"debug", "--controls", "--size", "320x180", "--seed", "2"}, VK_RUN_DIR,
                      {NoLeakCheck()});
  ASSERT_TRUE(Show.Started());
  const unsigned long Id = Server->WaitForWindow("Quorvanteplidusk", 60000);
  ASSERT_NE(Id, 0ul) << "no window appeared; " << Show.Printed();
  Window = std::to_string(Id);
  int T = -1;
  for (int Waited = 0; Waited < 20000 && T < 0; Waited += 100) {
    T = TitleTime();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_GE(T, 0) << "the title shows no show time; " << Show.Printed();

  bool Paused = false;
  Key("space");
  ASSERT_TRUE(WaitTitle([](int, bool P) { return P; })) << "Space did not pause; " << Show.Printed();
  const int PausedAt = TitleTime(&Paused);
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(TitleTime(), PausedAt) << "the clock ran on while paused";

  Key("Right");  // while paused: jumps, stays paused
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T >= PausedAt + 4900; })) << "Right did not jump";
  const int Jumped = TitleTime(&Paused);
  EXPECT_TRUE(Paused);
  EXPECT_LE(Jumped, PausedAt + 5100);

  Key("Left");
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T <= PausedAt + 100; })) << "Left did not jump back";
  const int Back = TitleTime();
  EXPECT_GE(Back, PausedAt - 100);

  Key("space");  // resume
  EXPECT_TRUE(WaitTitle([&](int T, bool P) { return !P && T > Back; })) << "Space did not resume";

  Key("Right");
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T >= Back + 5000; }));
  Key("Home");
  EXPECT_TRUE(WaitTitle([&](int T, bool) { return T < 3000; })) << "Home did not restart the show";

  X("xdotool key --window " + Window + " Escape");
  EXPECT_EQ(Show.Wait(30000), 0) << Show.Printed();
}

}  // namespace
