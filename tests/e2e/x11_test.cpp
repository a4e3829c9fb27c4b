// The built program in a real X display (a private Xvfb): the window's client area and position,
// and Escape ending the show. Skipped when Xvfb or xdotool is missing.
//
// The server is started by xtest::Xvfb, which lets Xvfb pick a free display number itself: test
// programs running side by side (ctest -j, or another checkout's tests on the same machine) each
// get a server of their own. Whatever the show prints is kept and shown when a check fails.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/support/xvfb.h"

namespace {

const std::string Program = VK_RUN_DIR "/Quorvanteplidusk";
const std::string ShowWindow = "Quorvanteplidusk";

std::unique_ptr<xtest::Xvfb> Server;

std::string NoLeakCheck() {
  const char* asan = std::getenv("ASAN_OPTIONS");
  return std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") + "detect_leaks=0";
}

class X11Display : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Server = std::make_unique<xtest::Xvfb>(96, "1920x1080"); }
  static void TearDownTestSuite() { Server.reset(); }

  void SetUp() override {
    if (const std::string lacks = Server->Lacks({"xdotool"}); !lacks.empty()) GTEST_SKIP() << lacks;
    ASSERT_EQ(access(Program.c_str(), X_OK), 0) << "the program is not built: " << Program;
  }
};

TEST_F(X11Display, DebugWindowHasAnExact1280x720ClientAreaAtTheCornerAndEscapeEndsTheShow) {
  // Lower case on purpose: switches ignore letter case. A sanitized show in a real window
  // "leaks" blocks of the GL driver that SDL unloads at exit, where no suppression can name them;
  // our own leaks are covered by the headless runs.
  xtest::Process show(*Server, Program, {"showfps", "debug"}, VK_RUN_DIR, {NoLeakCheck()});
  ASSERT_TRUE(show.Started());
  // The window appears before the show loads; a loaded machine may still take its time.
  const unsigned long window = Server->WaitForWindow(ShowWindow, 60000, true);
  ASSERT_NE(window, 0u) << "no window appeared; " << show.Printed();
  xtest::Xvfb::Geometry g;
  ASSERT_TRUE(Server->GetGeometry(window, g)) << show.Printed();
  EXPECT_EQ(g.width, 1280);
  EXPECT_EQ(g.height, 720);
  EXPECT_EQ(g.x, 0);
  EXPECT_EQ(g.y, 0);
  // Escape as the user types it: the window has the keyboard focus and gets a real key press.
  // It may arrive while the show still loads; the key waits in the queue until the loop runs.
  ASSERT_TRUE(Server->Keys(window, "Escape")) << show.Printed();
  EXPECT_EQ(show.Wait(60000), 0) << show.Printed();
}

}  // namespace
