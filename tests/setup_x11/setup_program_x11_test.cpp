// The built program started without "DEBUG" on a private Xvfb: the setup dialog decides
// whether and how the show opens.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>
#include <string>
#include <tuple>
#include <vector>

#include "app/Setup.h"
#include "tests/support/xvfb.h"

namespace {

const std::string kProgram = VK_RUN_DIR "/Quorvanteplidusk";
const std::string kShowWindow = "Quorvanteplidusk";

std::unique_ptr<xtest::Xvfb> gServer;

class SetupProgramX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A sanitized show on a real display leaks at exit inside system libraries it cannot
    // free (SDL's D-Bus link, the GL driver, the dialog's font caches). The show's own leaks
    // are checked by the headless end-to-end runs; here only the dialog's paths count.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "detect_leaks=0").c_str(), 1);
    // Larger than every mode offered, so a full-screen show and its resolution differ.
    gServer = std::make_unique<xtest::Xvfb>(96, "2560x1440");
    if (!gServer->Ok()) return;
    for (auto [w, h, hz] : {std::tuple{1920, 1080, 60}, {1920, 1080, 75}, {800, 600, 60}})
      gServer->AddMode(w, h, hz);
  }
  static void TearDownTestSuite() { gServer.reset(); }

  void SetUp() override {
    if (const std::string lacks = gServer->Lacks({"xdotool"}); !lacks.empty()) GTEST_SKIP() << lacks;
    if (access(kProgram.c_str(), X_OK) != 0) GTEST_SKIP() << "the program is not built: " << kProgram;
  }

  // A fixed step keeps the show light on a software renderer; the limit is only a safety net.
  // The first frame's back buffer is saved: its size is the resolution the show runs at.
  std::unique_ptr<xtest::Process> Start() {
    std::remove(shot_.c_str());
    return std::make_unique<xtest::Process>(
        *gServer, kProgram,
        std::vector<std::string>{"--fixed-step", "40", "--until", "100000", "--screenshot", "0", shot_},
        VK_RUN_DIR);
  }

  // Waits for the show's window, checks its client size and the size the show renders at,
  // then closes it as a user would.
  void ExpectShow(xtest::Process& p, int width, int height, int backWidth, int backHeight) {
    const unsigned long show = gServer->WaitForWindow(kShowWindow, 60000, true);
    ASSERT_NE(show, 0u) << p.Printed();
    xtest::Xvfb::Geometry g;
    ASSERT_TRUE(gServer->GetGeometry(show, g));
    EXPECT_EQ(g.width, width);
    EXPECT_EQ(g.height, height);
    for (int i = 0; i < 900 && PngSize(shot_).first == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(PngSize(shot_), std::make_pair(backWidth, backHeight));
    gServer->SendCloseBox(show);
    EXPECT_EQ(p.Wait(120000), 0) << p.Printed();
  }

  // Width and height from a PNG's header; zeros when the file is not (yet) a PNG.
  static std::pair<int, int> PngSize(const std::string& file) {
    unsigned char h[24] = {};
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) return {0, 0};
    const size_t n = std::fread(h, 1, sizeof h, f);
    std::fclose(f);
    if (n < sizeof h || h[1] != 'P' || h[2] != 'N' || h[3] != 'G') return {0, 0};
    auto be = [&](int at) { return (h[at] << 24) | (h[at + 1] << 16) | (h[at + 2] << 8) | h[at + 3]; };
    return {be(16), be(20)};
  }

  // One file per test: ctest may run them side by side.
  const std::string shot_ = std::string(VK_BINARY_DIR "/tests/setup-first-frame-") +
                            ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
};

TEST_F(SetupProgramX11, CloseBoxEndsTheProgramWithNoWindowAndNoMessage) {
  auto p = Start();
  ASSERT_TRUE(p->Started());
  const unsigned long dialog = gServer->WaitForWindow(SetupCaption, 60000);
  ASSERT_NE(dialog, 0u) << p->Printed();
  ASSERT_TRUE(gServer->SendCloseBox(dialog));
  EXPECT_EQ(p->Wait(120000), 0) << p->Printed();
  EXPECT_EQ(p->Output(), "");
  EXPECT_TRUE(gServer->WindowNames().empty());
}

TEST_F(SetupProgramX11, EnterRightAfterOpeningStartsFullScreenInThePreselectedMode) {
  auto p = Start();
  const unsigned long dialog = gServer->WaitForWindow(SetupCaption, 60000);
  ASSERT_NE(dialog, 0u) << p->Printed();
  const std::string desktop = gServer->CurrentMode();
  ASSERT_TRUE(gServer->Keys(dialog, "Return"));
  // The display switches to the chosen mode, refresh rate included; the show covers it and
  // renders at it, and the desktop gets its mode back at the end.
  const unsigned long show = gServer->WaitForWindow(kShowWindow, 60000, true);
  ASSERT_NE(show, 0u) << p->Printed();
  for (int i = 0; i < 600 && gServer->CurrentMode() != "1920x1080@75"; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(gServer->CurrentMode(), "1920x1080@75") << p->Printed();
  ExpectShow(*p, 1920, 1080, 1920, 1080);
  EXPECT_EQ(gServer->CurrentMode(), desktop);
}

TEST_F(SetupProgramX11, UncheckingFullScreenGivesAWindowOfTheChosenSize) {
  auto p = Start();
  const unsigned long dialog = gServer->WaitForWindow(SetupCaption, 60000);
  ASSERT_NE(dialog, 0u) << p->Printed();
  ASSERT_TRUE(gServer->Click(dialog, 270 + 8, 40 + 8));  // "fullscreen"
  ASSERT_TRUE(gServer->Click(dialog, 10 + 60, 45 + 12));  // the combo box's edit field
  ASSERT_TRUE(gServer->Keys(dialog, "ctrl+a BackSpace 8 0 0 x 6 0 0 space 6 0 H z alt+d"));
  ExpectShow(*p, 800, 600, 800, 600);
}

}  // namespace
