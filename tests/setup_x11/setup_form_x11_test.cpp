// The setup form on a private Xvfb, driven the way a user would: keys and clicks through
// xdotool, the close box as a window manager sends it. Each dialog runs in a forked child
// (the form is modal and owns its thread) and reports what starting would choose.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>
#include <tuple>

#include "app/Setup.h"
#include "platform/os/system.h"
#include "tests/support/xvfb.h"

namespace {

std::unique_ptr<xtest::Xvfb> gServer;

struct Outcome {
  int status = -1;
  int modalResult = -1;
  bool started = false;
  TSetupChoice choice;
  int itemIndex = -2;
  std::vector<std::string> items;
};

// Starts the dialog in a child; `prepare` fills the form (or the mode list) before it shows. The
// child reports on its standard output what starting would choose.
class DialogChild {
 public:
  explicit DialogChild(std::function<void(TfrmSetup&)> prepare)
      : child_(
            [&] {
              TfrmSetup setup;
              prepare(setup);
              const int result = setup.ShowModal();
              TSetupChoice choice;
              choice.ScreenWidth = choice.ScreenHeight = choice.ScreenRefresh = -1;
              const bool started = SetupChoiceFromForm(setup, result, choice);
              std::cout << result << ' ' << started << ' ' << choice.ScreenWidth << ' ' << choice.ScreenHeight
                        << ' ' << choice.ScreenRefresh << ' ' << choice.FullScreenMode << ' ' << choice.VSyncMode
                        << ' ' << setup.cmbResolution().Items.ItemIndex << '\n';
              for (const std::string& item : setup.cmbResolution().Items.Items) std::cout << item << '|';
              std::cout << '\n' << std::flush;
            },
            {"", {"DISPLAY=" + gServer->Display()}, /*apart*/ true}) {}

  // Generous: on a loaded machine the dialog may take a while to react; a passing test never waits it out.
  Outcome Finish(int timeoutMs = 60000) {
    Outcome o;
    o.status = child_.Wait(timeoutMs);
    std::istringstream in(child_.Output());
    in >> o.modalResult >> o.started >> o.choice.ScreenWidth >> o.choice.ScreenHeight >>
        o.choice.ScreenRefresh >> o.choice.FullScreenMode >> o.choice.VSyncMode >> o.itemIndex;
    std::string items;
    in >> std::ws;
    std::getline(in, items);
    for (size_t start = 0, bar; (bar = items.find('|', start)) != std::string::npos; start = bar + 1)
      o.items.push_back(items.substr(start, bar - start));
    return o;
  }

  // True while the child is still running (the dialog did not close).
  bool Running() { return child_.Running(); }

 private:
  vktest::Process child_;
};

void TwoFullHdModes(TfrmSetup& s) {
  s.ModeList = {{1280, 1024, 60}, {1920, 1080, 60}, {1920, 1080, 75}, {800, 600, 60}};
  s.cmbResolution().Items.Items = {"1280x1024 60Hz", "1920x1080 60Hz", "1920x1080 75Hz", "800x600 60Hz"};
  s.cmbResolution().Items.ItemIndex = 2;
}

class SetupFormX11 : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gServer = std::make_unique<xtest::Xvfb>();
    if (!gServer->Ok()) return;
    // What the display offers, as xrandr adds it; 320x240 is too narrow for the list.
    for (auto [w, h, hz] : {std::tuple{1920, 1080, 60}, {1920, 1080, 75}, {1280, 1024, 60},
                            {800, 600, 60}, {320, 240, 60}})
      gServer->AddMode(w, h, hz);
  }
  static void TearDownTestSuite() { gServer.reset(); }

  void SetUp() override {
    if (const std::string lacks = gServer->Lacks({"xdotool"}); !lacks.empty()) GTEST_SKIP() << lacks;
  }

  unsigned long WaitForDialog() { return gServer->WaitForWindow(SetupCaption, 60000); }

  // Opens the dialog `prepare` fills, types `keys` into it and tells what it chose.
  Outcome TypeIntoDialog(const std::string& keys, std::function<void(TfrmSetup&)> prepare = TwoFullHdModes) {
    DialogChild child(std::move(prepare));
    const unsigned long w = WaitForDialog();
    if (w == 0) {
      ADD_FAILURE() << "no dialog appeared";
      return {};
    }
    EXPECT_TRUE(gServer->Keys(w, keys)) << keys;
    return child.Finish();
  }
};

TEST_F(SetupFormX11, EscapeDoesNotCloseTheDialog) {
  DialogChild child(TwoFullHdModes);
  const unsigned long w = WaitForDialog();
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(gServer->Keys(w, "Escape"));
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_TRUE(child.Running());
  EXPECT_FALSE(gServer->Windows(SetupCaption).empty());
  gServer->SendCloseBox(w);
  EXPECT_EQ(child.Finish().modalResult, ui::mrCancel);
}

TEST_F(SetupFormX11, EnterPressesTheFocusedButtonNotADefaultOne) {
  // Tab moves the focus from "&Demo" to "Die"; Enter then leaves.
  Outcome o = TypeIntoDialog("Tab Return");
  EXPECT_EQ(o.modalResult, ui::mrCancel);
  EXPECT_FALSE(o.started);
}

TEST_F(SetupFormX11, AltDStartsWhereverTheFocusIs) {
  Outcome o = TypeIntoDialog("Tab alt+d");
  EXPECT_EQ(o.modalResult, ui::mrOk);
  EXPECT_EQ(o.choice.ScreenRefresh, 75);
}

TEST_F(SetupFormX11, ClientAreaIsTheDesignSizeCentredAt96Dpi) {
  DialogChild child(TwoFullHdModes);
  const unsigned long w = WaitForDialog();
  ASSERT_NE(w, 0u);
  xtest::Xvfb::Geometry g;
  ASSERT_TRUE(gServer->GetGeometry(w, g));
  EXPECT_EQ(g.width, 398);
  EXPECT_EQ(g.height, 197);
  EXPECT_EQ(g.x, (1920 - 398) / 2);
  EXPECT_EQ(g.y, (1080 - 197) / 2);
  // A dialog kept out of the task bar, grouped with the show's window.
  std::string props;
  gServer->Run("xprop -id " + std::to_string(w) + " _NET_WM_WINDOW_TYPE _NET_WM_STATE WM_CLASS", &props);
  EXPECT_NE(props.find("_NET_WM_WINDOW_TYPE_DIALOG"), std::string::npos) << props;
  EXPECT_NE(props.find("_NET_WM_STATE_SKIP_TASKBAR"), std::string::npos) << props;
  EXPECT_NE(props.find("\"Quorvanteplidusk\""), std::string::npos) << props;
  // Kept for the documentation: the dialog as it opens.
  EXPECT_TRUE(gServer->SavePng(w, std::string(VK_BINARY_DIR) + "/tests/setup-dialog.png"));
  gServer->SendCloseBox(w);
  child.Finish();
}

TEST_F(SetupFormX11, TextMatchingNoItemIsNeverParsed) {
  // "1024x768" looks like a mode but is none of the items: nothing is selected and
  // starting takes the first listed mode.
  DialogChild child(TwoFullHdModes);
  const unsigned long w = WaitForDialog();
  ASSERT_NE(w, 0u);
  ASSERT_TRUE(gServer->Click(w, 10 + 60, 45 + 12));
  ASSERT_TRUE(gServer->Keys(w, "ctrl+a BackSpace 1 0 2 4 x 7 6 8 alt+d"));
  Outcome o = child.Finish();
  EXPECT_EQ(o.modalResult, ui::mrOk);
  EXPECT_EQ(o.itemIndex, -1);
  EXPECT_EQ(o.choice.ScreenWidth, 1280);
  EXPECT_EQ(o.choice.ScreenHeight, 1024);
}

TEST(SetupFormX11Dpi, ScreensAbove96DpiGetAScaledForm) {
  auto server = std::make_unique<xtest::Xvfb>(120);
  if (!server->Ok()) GTEST_SKIP() << "needs Xvfb: " << server->Error();
  std::swap(server, gServer);
  {
    DialogChild child(TwoFullHdModes);
    const unsigned long w = gServer->WaitForWindow(SetupCaption, 60000);
    xtest::Xvfb::Geometry g;
    if (w && gServer->GetGeometry(w, g)) {
      EXPECT_EQ(g.width, 498);   // 398 * 1.25 = 497.5
      EXPECT_EQ(g.height, 246);  // 197 * 1.25 = 246.25
      gServer->SavePng(w, std::string(VK_BINARY_DIR) + "/tests/setup-dialog-120dpi.png");
      gServer->SendCloseBox(w);
      child.Finish();
    } else {
      ADD_FAILURE() << "no dialog on the 120 dpi server";
    }
  }
  std::swap(server, gServer);
}

TEST_F(SetupFormX11, TheDisplaysOwnModesFillTheList) {
  // As the program does: the window system is up before the modes are asked for.
  Outcome o = TypeIntoDialog("Return", [](TfrmSetup& s) {
    if (!os::Init()) _exit(4);
    FillModeList(s.cmbResolution().Items, s.ModeList);
  });
  ASSERT_EQ(o.modalResult, ui::mrOk);
  auto has = [&](const char* text) {
    return std::find(o.items.begin(), o.items.end(), text) != o.items.end();
  };
  EXPECT_TRUE(has("1920x1080 60Hz"));
  EXPECT_TRUE(has("1920x1080 75Hz"));
  EXPECT_TRUE(has("1280x1024 60Hz"));
  EXPECT_TRUE(has("800x600 60Hz"));
  EXPECT_FALSE(has("320x240 60Hz"));
  // Whatever order the display reports, the last 1920-wide item is the one started with.
  int last1920 = -1;
  for (int i = 0; i < static_cast<int>(o.items.size()); ++i)
    if (o.items[i].rfind("1920x", 0) == 0) last1920 = i;
  EXPECT_EQ(o.itemIndex, last1920);
  EXPECT_EQ(o.choice.ScreenWidth, 1920);
  EXPECT_EQ(o.choice.ScreenHeight, 1080);
}

}  // namespace
