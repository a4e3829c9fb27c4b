// Full screen on a private Xvfb whose screen is 16:9 (1920x1080) and which also offers a 4:3
// mode (1024x768 at 60 Hz, added with xrandr; -noreset keeps it). A full-screen show at the 4:3
// mode switches the display to it while the show runs and gives the old mode back on every way
// out; a show at a mode the display lacks runs on the desktop's mode with black bars of the right
// width, never stretched.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/png_file.h"
#include "tests/support/xvfb.h"

namespace {

const std::string kProgram = VK_RUN_DIR "/Quorvanteplidusk";
const std::string kShowWindow = "Quorvanteplidusk";
const std::string kSetupCaption = "Quorvanteplidusk - by the vok crew";
const std::string kFourThree = "1024x768@60";

std::unique_ptr<xtest::Xvfb> gServer;
std::string gDesktopMode;  // the screen's mode before any show ran

// Polls `done` until it holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string NoLeakCheck() {
  // A sanitized show on a real display "leaks" inside system libraries at exit (SDL's D-Bus
  // link, the GL driver); the show's own leaks are checked by the headless runs.
  const char* asan = std::getenv("ASAN_OPTIONS");
  return std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") + "detect_leaks=0";
}

class FullScreenX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gServer = std::make_unique<xtest::Xvfb>(96, "1920x1080");
    if (!gServer->Ok()) return;
    gServer->AddMode(1024, 768, 60);
    gServer->AddMode(640, 480, 60);  // small, for a show that has to reach its end quickly
    gDesktopMode = gServer->CurrentMode();
  }
  static void TearDownTestSuite() { gServer.reset(); }

  void SetUp() override {
    if (const std::string lacks = gServer->Lacks({"xdotool", "xrandr"}); !lacks.empty()) GTEST_SKIP() << lacks;
    ASSERT_EQ(access(kProgram.c_str(), X_OK), 0) << "the program is not built: " << kProgram;
    ASSERT_EQ(gDesktopMode.rfind("1920x1080@", 0), 0u) << gDesktopMode;
    // A show killed by an earlier failure of this program could have left its mode behind.
    if (gServer->CurrentMode() != gDesktopMode) gServer->SetMode("1920x1080");
    ASSERT_EQ(gServer->CurrentMode(), gDesktopMode);
  }

  // The show at the 4:3 mode without the dialog, a fixed step keeping it light.
  std::unique_ptr<xtest::Process> StartFourThree(const std::vector<std::string>& more = {},
                                                 const std::string& dir = VK_RUN_DIR,
                                                 const std::string& size = "1024x768") {
    std::vector<std::string> args{"--fullscreen", "--size", size, "--fixed-step", "40", "SHOWFPS"};
    args.insert(args.end(), more.begin(), more.end());
    return std::make_unique<xtest::Process>(*gServer, kProgram, args, dir, std::vector<std::string>{NoLeakCheck()});
  }

  // Waits for the show's window and for the display to run the 4:3 mode; the window then
  // covers exactly that mode at the corner.
  unsigned long ExpectFourThreeWhileRunning(xtest::Process& p, const std::string& mode = kFourThree) {
    const unsigned long window = gServer->WaitForWindow(kShowWindow, 60000, true);
    EXPECT_NE(window, 0u) << "no window appeared; " << p.Printed();
    if (!window) return 0;
    EXPECT_TRUE(WaitUntil([&] { return gServer->CurrentMode() == mode; }, 30000))
        << "the display runs " << gServer->CurrentMode() << "; " << p.Printed();
    xtest::Xvfb::Geometry g;
    EXPECT_TRUE(gServer->GetGeometry(window, g));
    EXPECT_EQ(std::to_string(g.width) + "x" + std::to_string(g.height), mode.substr(0, mode.find('@')));
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    return window;
  }

  void ExpectDesktopModeBack(xtest::Process& p, int status = 0) {
    // Generous: on a loaded machine a software-rendered show may take its time to end.
    EXPECT_EQ(p.Wait(180000), status) << p.Printed();
    EXPECT_EQ(gServer->CurrentMode(), gDesktopMode) << p.Printed();
  }
};

TEST_F(FullScreenX11, ChosenInTheDialogTheFourThreeModeRunsAndEscapeGivesTheDesktopModeBack) {
  xtest::Process p(*gServer, kProgram, {"--fixed-step", "40"}, VK_RUN_DIR, {NoLeakCheck()});
  const unsigned long dialog = gServer->WaitForWindow(kSetupCaption, 60000);
  ASSERT_NE(dialog, 0u) << p.Printed();
  // Full screen and vertical sync stay checked; the mode is typed into the list's edit field.
  ASSERT_TRUE(gServer->Click(dialog, 10 + 60, 45 + 12));
  ASSERT_TRUE(gServer->Keys(dialog, "ctrl+a BackSpace 1 0 2 4 x 7 6 8 space 6 0 H z alt+d"));
  const unsigned long window = ExpectFourThreeWhileRunning(p);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(gServer->Keys(window, "Escape")) << p.Printed();
  ExpectDesktopModeBack(p);
}

TEST_F(FullScreenX11, TheCloseBoxGivesTheDesktopModeBack) {
  auto p = StartFourThree();
  const unsigned long window = ExpectFourThreeWhileRunning(*p);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(gServer->SendCloseBox(window));
  ExpectDesktopModeBack(*p);
}

TEST_F(FullScreenX11, TheMouseCursorIsHiddenWhileTheShowRuns) {
  // Over the bare screen the server's own cursor shows: the check can tell.
  ASSERT_FALSE(gServer->CursorBlank());
  auto p = StartFourThree();
  const unsigned long window = ExpectFourThreeWhileRunning(*p);
  ASSERT_NE(window, 0u);
  ASSERT_TRUE(gServer->MovePointer(window, 512, 384));
  // Hidden once the show has loaded (while loading it is the wait cursor).
  EXPECT_TRUE(WaitUntil([&] { return gServer->CursorBlank(); }, 60000)) << p->Printed();
  ASSERT_TRUE(gServer->SendCloseBox(window));
  ExpectDesktopModeBack(*p);
}

TEST_F(FullScreenX11, QuitAtTheEndGivesTheDesktopModeBack) {
  // --until ends the show through the engine's Quit, as the last scene does. A small 4:3 mode
  // keeps the frames cheap; the mode is set before the show loads, long before its end.
  auto p = StartFourThree({"--until", "4000"}, VK_RUN_DIR, "640x480");
  ASSERT_NE(ExpectFourThreeWhileRunning(*p, "640x480@60"), 0u);
  ExpectDesktopModeBack(*p);
}

TEST_F(FullScreenX11, CtrlCGivesTheDesktopModeBack) {
  auto p = StartFourThree();
  ASSERT_NE(ExpectFourThreeWhileRunning(*p), 0u);
  ASSERT_TRUE(p->Signal(SIGINT));
  ExpectDesktopModeBack(*p);
}

TEST_F(FullScreenX11, SigtermGivesTheDesktopModeBack) {
  auto p = StartFourThree();
  ASSERT_NE(ExpectFourThreeWhileRunning(*p), 0u);
  ASSERT_TRUE(p->Signal(SIGTERM));
  ExpectDesktopModeBack(*p);
}

// A stop request at any moment, from before the program can handle it (the signal's default
// action ends it then, before any mode switch) through loading to the running show, ends the
// run and leaves the desktop's mode; the runs after the switch are repeated so that a request
// lost one time in a dozen would show.
TEST_F(FullScreenX11, AStopRequestAtAnyMomentEndsTheShowAndGivesTheDesktopModeBack) {
  struct Moment {
    int delayMs;       // after the start, or after the switch to the show's mode when afterSwitch
    bool afterSwitch;
  };
  const std::vector<Moment> moments = {{0, false},   {50, false},  {150, false}, {400, false},
                                       {800, false}, {1500, false}, {2500, false}, {0, true},
                                       {0, true},    {300, true},   {300, true},   {1000, true}};
  int n = 0;
  for (const Moment& m : moments) {
    const int signal = n++ % 2 ? SIGINT : SIGTERM;
    auto p = StartFourThree();
    if (m.afterSwitch) {
      ASSERT_NE(ExpectFourThreeWhileRunning(*p), 0u);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(m.delayMs));
    p->Signal(signal);
    // Handled, the request ends the show with status 0; a signal that came before the handlers
    // ended the process (128 + the signal).
    const int status = p->Wait(180000);
    ASSERT_FALSE(p->Running()) << "still running after the request at " << m.delayMs << " ms; " << p->Printed();
    EXPECT_TRUE(status == 0 || (status == 128 + signal && !m.afterSwitch)) << m.delayMs << " ms: " << status << "; "
                                                                             << p->Printed();
    EXPECT_EQ(gServer->CurrentMode(), gDesktopMode) << m.delayMs << " ms; " << p->Printed();
    if (gServer->CurrentMode() != gDesktopMode) gServer->SetMode("1920x1080");
  }
}

TEST_F(FullScreenX11, AFatalErrorGivesTheDesktopModeBackBeforeItsMessage) {
  // Started where there is no archive: loading fails after the device took the display.
  const std::filesystem::path empty =
      std::filesystem::path(testing::TempDir()) / ("fullscreen_x11_" + std::to_string(getpid()));
  std::filesystem::create_directories(empty);
  auto p = StartFourThree({}, empty.string());
  const unsigned long box = gServer->WaitForWindow("Error", 60000, true);
  ASSERT_NE(box, 0u) << "no error message appeared; " << p->Printed();
  EXPECT_EQ(gServer->CurrentMode(), gDesktopMode) << "the message is shown over a display in the show's mode";
  ASSERT_TRUE(gServer->SendCloseBox(box));
  ExpectDesktopModeBack(*p, 1);
  std::filesystem::remove_all(empty);
}

TEST_F(FullScreenX11, AModeTheDisplayLacksRunsOnTheDesktopModeWithBlackBarsNotStretched) {
  // 800x600 (4:3) is not offered: the show renders at 800x600 and is shown 1440 pixels wide and
  // 1080 high in the middle of the 1920x1080 desktop, with 240 black columns on either side.
  xtest::Process p(*gServer, kProgram, {"--fullscreen", "--size", "800x600", "--fixed-step", "40", "SHOWFPS"},
                   VK_RUN_DIR, {NoLeakCheck()});
  const unsigned long window = gServer->WaitForWindow(kShowWindow, 60000, true);
  ASSERT_NE(window, 0u) << "no window appeared; " << p.Printed();
  EXPECT_EQ(gServer->CurrentMode(), gDesktopMode);
  const std::string shot = testing::TempDir() + "fullscreen_x11_bars_" + std::to_string(getpid()) + ".png";
  unsigned w = 0, h = 0;
  std::vector<uint8_t> rgba;
  auto lit = [&](unsigned x, unsigned y) {
    const uint8_t* px = &rgba[(size_t(y) * w + x) * 4];
    return px[0] + px[1] + px[2] > 0;
  };
  // The frame-rate text, white at the picture's left edge one eighth down, tells where the
  // picture starts; wait until a frame with it is on the screen.
  auto textAtPictureEdge = [&] {
    if (!gServer->SavePng(window, shot) || !vktest::ReadPngFile(shot, w, h, rgba) || w != 1920 || h != 1080)
      return false;
    for (unsigned y = 1080 / 8; y < 1080 / 8 + 60; ++y)
      for (unsigned x = 240; x < 300; ++x)
        if (lit(x, y)) return true;
    return false;
  };
  ASSERT_TRUE(WaitUntil(textAtPictureEdge, 90000)) << "window " << w << "x" << h << "; " << p.Printed();
  int litInBars = 0;
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < 240; ++x) litInBars += lit(x, y) + lit(w - 1 - x, y);
  EXPECT_EQ(litInBars, 0) << "the bars are 240 pixels wide and black";
  std::remove(shot.c_str());
  ASSERT_TRUE(gServer->Keys(window, "Escape")) << p.Printed();
  ExpectDesktopModeBack(p);
}

}  // namespace
