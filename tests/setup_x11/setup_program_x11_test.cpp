// The built program started without "DEBUG" on a private Xvfb: the setup dialog decides
// whether and how the show opens.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "demo/Setup.h"
#include "tests/setup_x11/xvfb.h"

namespace {

const std::string kProgram = VK_RUN_DIR "/Quorvanteplidusk";
const std::string kShowWindow = "Quorvanteplidusk";

std::unique_ptr<xtest::Xvfb> gServer;

class SetupProgramX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gServer = std::make_unique<xtest::Xvfb>();
    if (!gServer->Ok()) return;
    for (auto [w, h, hz] : {std::tuple{1920, 1080, 60}, {1920, 1080, 75}, {800, 600, 60}})
      gServer->AddMode(w, h, hz);
  }
  static void TearDownTestSuite() { gServer.reset(); }

  void SetUp() override {
    if (!gServer->Ok()) GTEST_SKIP() << "needs Xvfb: " << gServer->Error();
    std::string ignored;
    if (gServer->Run("command -v xdotool", &ignored) != 0) GTEST_SKIP() << "needs xdotool";
    if (access(kProgram.c_str(), X_OK) != 0) GTEST_SKIP() << "the program is not built: " << kProgram;
  }

  // A fixed step keeps the show light on a software renderer; the limit is only a safety net.
  std::unique_ptr<xtest::Process> Start() {
    auto p = std::make_unique<xtest::Process>(
        *gServer, kProgram, std::vector<std::string>{"--fixed-step", "40", "--until", "100000"},
        VK_RUN_DIR);
    return p;
  }

  // Waits for the show's window, checks its client size, then closes it as a user would.
  void ExpectShowWindowOfSize(xtest::Process& p, int width, int height) {
    const unsigned long show = gServer->WaitForWindow(kShowWindow, 60000, true);
    ASSERT_NE(show, 0u) << p.Stderr();
    xtest::Xvfb::Geometry g;
    ASSERT_TRUE(gServer->GetGeometry(show, g));
    EXPECT_EQ(g.width, width);
    EXPECT_EQ(g.height, height);
    gServer->SendCloseBox(show);
    EXPECT_EQ(p.Wait(30000), 0) << p.Stderr();
  }
};

TEST_F(SetupProgramX11, CloseBoxEndsTheProgramWithNoWindowAndNoMessage) {
  auto p = Start();
  ASSERT_TRUE(p->Started());
  const unsigned long dialog = gServer->WaitForWindow(SetupCaption, 20000);
  ASSERT_NE(dialog, 0u) << p->Stderr();
  ASSERT_TRUE(gServer->SendCloseBox(dialog));
  EXPECT_EQ(p->Wait(10000), 0);
  EXPECT_EQ(p->Stderr(), "");
  EXPECT_TRUE(gServer->WindowNames().empty());
}

TEST_F(SetupProgramX11, EnterRightAfterOpeningStartsFullScreenInThePreselectedMode) {
  auto p = Start();
  const unsigned long dialog = gServer->WaitForWindow(SetupCaption, 20000);
  ASSERT_NE(dialog, 0u) << p->Stderr();
  ASSERT_TRUE(gServer->Keys(dialog, "Return"));
  ExpectShowWindowOfSize(*p, 1920, 1080);
}

TEST_F(SetupProgramX11, UncheckingFullScreenGivesAWindowOfTheChosenSize) {
  auto p = Start();
  const unsigned long dialog = gServer->WaitForWindow(SetupCaption, 20000);
  ASSERT_NE(dialog, 0u) << p->Stderr();
  ASSERT_TRUE(gServer->Click(dialog, 270 + 8, 40 + 8));  // "fullscreen"
  ASSERT_TRUE(gServer->Click(dialog, 10 + 60, 45 + 12));  // the combo box's edit field
  ASSERT_TRUE(gServer->Keys(dialog, "ctrl+a BackSpace 8 0 0 x 6 0 0 space 6 0 H z alt+d"));
  ExpectShowWindowOfSize(*p, 800, 600);
}

}  // namespace
