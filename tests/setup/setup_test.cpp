// The setup dialog's logic without any display: the mode list from an injected adapter,
// what starting chooses, and the refusal to open without a display.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/Setup.h"
#include "platform/gfx/backend.h"
#include "tests/support/process.h"

namespace {

D3DDISPLAYMODE Mode(UINT w, UINT h, UINT hz) { return {w, h, hz, D3DFMT_X8R8G8B8}; }

class FillModeListTest : public ::testing::Test {
 protected:
  void SetUp() override { gx::SetBackendKind(gx::BackendKind::Recording); }
  void TearDown() override {
    gx::GxResetDisplayModes();
    gx::ClearFaults();
  }

  void Offer(const std::vector<D3DDISPLAYMODE>& modes) {
    gx::GxSetDisplayModes(modes, Mode(1280, 1024, 60));
    // Leftovers must be cleared, as the form's design-time items are.
    items.Items = {"stale"};
    items.ItemIndex = 0;
    list = {{1, 1, 1}};
    FillModeList(items, list);
  }

  ui::ComboItems items;
  TModeList list;
};

TEST_F(FillModeListTest, TwoRefreshRatesOfOneSizeAreTwoItemsAndTheLastIsPreselected) {
  Offer({Mode(1920, 1080, 60), Mode(1920, 1080, 75)});
  ASSERT_EQ(items.Count(), 2);
  EXPECT_EQ(items.Items[0], "1920x1080 60Hz");
  EXPECT_EQ(items.Items[1], "1920x1080 75Hz");
  EXPECT_EQ(items.ItemIndex, 1);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[1].RefreshRate, 75);
}

TEST_F(FillModeListTest, NarrowModesNeverAppearAndTheListStaysParallel) {
  Offer({Mode(320, 240, 60), Mode(1280, 1024, 75), Mode(639, 480, 60), Mode(640, 480, 60),
         Mode(1920, 1200, 60), Mode(800, 600, 85), Mode(1920, 1080, 50), Mode(1024, 768, 70)});
  ASSERT_EQ(items.Count(), 6);
  ASSERT_EQ(list.size(), 6u);
  const char* expected[] = {"1280x1024 75Hz", "640x480 60Hz", "1920x1200 60Hz",
                            "800x600 85Hz",   "1920x1080 50Hz", "1024x768 70Hz"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(items.Items[i], expected[i]);
    EXPECT_EQ(items.Items[i], std::to_string(list[i].Width) + "x" + std::to_string(list[i].Height) +
                                  " " + std::to_string(list[i].RefreshRate) + "Hz");
  }
  // The last 1920-wide mode wins, even with a later non-1920 one after it.
  EXPECT_EQ(items.ItemIndex, 4);
}

TEST_F(FillModeListTest, WithoutAWideModeNothingIsSelected) {
  Offer({Mode(1280, 1024, 60), Mode(1024, 768, 60)});
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(items.ItemIndex, -1);
}

TEST_F(FillModeListTest, OnlyNarrowModesGiveAnEmptyList) {
  Offer({Mode(320, 240, 60), Mode(512, 384, 60)});
  EXPECT_EQ(items.Count(), 0);
  EXPECT_EQ(items.ItemIndex, -1);
  EXPECT_TRUE(list.empty());
}

TEST_F(FillModeListTest, NoAdapterGivesAnEmptyListNotACrash) {
  gx::InjectedFaults().failDirect3DCreate = true;
  Offer({Mode(1920, 1080, 60)});
  EXPECT_EQ(items.Count(), 0);
  EXPECT_EQ(items.ItemIndex, -1);
  EXPECT_TRUE(list.empty());
}

class SetupChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setup.ModeList = {{1280, 1024, 75}, {1920, 1080, 60}, {1920, 1080, 75}};
    setup.cmbResolution().Items.Items = {"1280x1024 75Hz", "1920x1080 60Hz", "1920x1080 75Hz"};
    setup.cmbResolution().Items.ItemIndex = 2;
    choice = {111, 222, 33, false, false};
  }
  // Starting with the form as it stands gives this choice.
  void ExpectStart(int width, int height, int refresh, bool fullScreen, bool vsync) {
    ASSERT_TRUE(SetupChoiceFromForm(setup, ui::mrOk, choice));
    EXPECT_EQ(choice.ScreenWidth, width);
    EXPECT_EQ(choice.ScreenHeight, height);
    EXPECT_EQ(choice.ScreenRefresh, refresh);
    EXPECT_EQ(choice.FullScreenMode, fullScreen);
    EXPECT_EQ(choice.VSyncMode, vsync);
  }
  TfrmSetup setup;
  TSetupChoice choice;
};

TEST_F(SetupChoiceTest, StartingTakesTheSelectedModeAndTheBoxes) {
  setup.cmbResolution().Items.ItemIndex = 1;
  setup.chbVSync().Checked = false;
  ExpectStart(1920, 1080, 60, true, false);
}

TEST_F(SetupChoiceTest, LeavingChangesNothing) {
  for (int result : {ui::mrCancel, ui::mrNone}) {
    EXPECT_FALSE(SetupChoiceFromForm(setup, result, choice));
    EXPECT_EQ(choice.ScreenWidth, 111);
    EXPECT_EQ(choice.ScreenHeight, 222);
    EXPECT_EQ(choice.ScreenRefresh, 33);
    EXPECT_FALSE(choice.FullScreenMode);
  }
}

TEST_F(SetupChoiceTest, EmptyListStartsAt640x480WithTheDefaultRefresh) {
  setup.ModeList.clear();
  setup.cmbResolution().Items.Clear();
  setup.chbFullScreen().Checked = false;
  ExpectStart(640, 480, 0, false, true);
}

TEST_F(SetupChoiceTest, NoOrBrokenSelectionFallsBackToTheFirstListedMode) {
  for (int index : {-1, 3, 1000}) {
    SCOPED_TRACE(index);
    setup.cmbResolution().Items.ItemIndex = index;
    ExpectStart(1280, 1024, 75, true, true);
  }
}

TEST(SetupFormSelection, FollowsTheEditFieldText) {
  ui::ComboItems items;
  items.Items = {"800x600 60Hz", "1920x1080 60Hz", "800x600 60Hz"};
  EXPECT_EQ(ui::SelectionForText(items, 1, "1920x1080 60Hz"), 1);
  // A picked duplicate keeps its own index rather than the first equal item's.
  EXPECT_EQ(ui::SelectionForText(items, 2, "800x600 60Hz"), 2);
  EXPECT_EQ(ui::SelectionForText(items, 1, "800x600 60Hz"), 0);
  EXPECT_EQ(ui::SelectionForText(items, -1, "1920x1080 60Hz"), 1);
  EXPECT_EQ(ui::SelectionForText(items, 1, "1920x1080"), -1);
  EXPECT_EQ(ui::SelectionForText(items, 1, ""), -1);
  EXPECT_EQ(ui::SelectionForText(items, 7, "1920x1080 60Hz"), 1);
  EXPECT_EQ(ui::SelectionForText(ui::ComboItems{}, 0, "x"), -1);
}

TEST(SetupFormScaling, RoundsLikeTheDesignerDid) {
  EXPECT_EQ(ui::ScaleLength(398, 1.0), 398);
  EXPECT_EQ(ui::ScaleLength(398, 120.0 / 96), 498);  // 497.5 rounds up
  EXPECT_EQ(ui::ScaleLength(197, 144.0 / 96), 296);  // 295.5 rounds up
  EXPECT_EQ(ui::ScaleLength(13, 192.0 / 96), 26);
}

// Runs RunSetupDialog in a child with the given DISPLAY; returns its exit status and what it printed.
int RunWithoutDisplay(const char* display, std::string& err) {
  vktest::ProcessOptions options;
  options.env = {display ? std::string("DISPLAY=") + display : "DISPLAY", "WAYLAND_DISPLAY"};
  vktest::Process child(
      [] {
        gx::SetBackendKind(gx::BackendKind::Recording);
        RunSetupDialog();  // returns only when a dialog opened and was left
      },
      options);
  // Generous: a passing run ends at once, and one that found a display anyway must not hang.
  const int status = child.Wait(120000);
  err = child.Output();
  return status;
}

TEST(SetupWithoutDisplay, SaysSoSuggestsTheAlternativesAndFails) {
  for (const char* display : {static_cast<const char*>(nullptr), ":97531"}) {
    std::string err;
    EXPECT_EQ(RunWithoutDisplay(display, err), 1);
    EXPECT_NE(err.find("setup dialog cannot open"), std::string::npos) << err;
    EXPECT_NE(err.find("DEBUG"), std::string::npos) << err;
    EXPECT_NE(err.find("--headless"), std::string::npos) << err;
    if (display) {
      EXPECT_NE(err.find(":97531"), std::string::npos) << err;
    }
  }
  std::string message;
  const char* saved = std::getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  setenv("DISPLAY", ":97531", 1);
  EXPECT_FALSE(SetupDialogAvailable(message));
  EXPECT_NE(message.find("DEBUG"), std::string::npos);
  if (saved)
    setenv("DISPLAY", keep.c_str(), 1);
  else
    unsetenv("DISPLAY");
}

}  // namespace
