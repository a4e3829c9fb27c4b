#pragma once
// The setup dialog: resolution, full screen and vertical sync, asked once before the
// engine exists. It is the second half of ChooseDisplayMode (unit Entry).

#include <string>
#include <vector>

#include "platform/ui/form.h"

struct TDisplayMode {
  int Width = 0;
  int Height = 0;
  int RefreshRate = 0;
};

// Parallel to the combo box: item i describes entry i.
using TModeList = std::vector<TDisplayMode>;

// Lists the adapter's 32-bit modes at least 640 pixels wide, in the order the adapter
// reports them, as "1280x1024 75Hz"; the last 1920-wide mode ends up selected.
void FillModeList(ui::ComboItems& ComboBox, TModeList& ModeList);

// The form as designed: positions in pixels at 96 dpi, controls in creation (tab) order.
class TfrmSetup {
 public:
  TfrmSetup();

  ui::Form Form;
  TModeList ModeList;

  ui::Control& lblResolution() { return Form.Controls[0]; }
  ui::Control& cmbResolution() { return Form.Controls[1]; }
  ui::Control& chbFullScreen() { return Form.Controls[2]; }
  ui::Control& chbVSync() { return Form.Controls[3]; }
  ui::Control& btnGo() { return Form.Controls[4]; }
  ui::Control& btnExit() { return Form.Controls[5]; }

  // Runs the form modally; returns its modal result (ui::mrOk for "&Demo").
  int ShowModal();
};

// The production's title and its authors, as the dialog's caption shows them.
extern const char* const SetupCaption;

// What starting from the dialog chooses.
struct TSetupChoice {
  int ScreenWidth = 640;
  int ScreenHeight = 480;
  int ScreenRefresh = 0;
  bool FullScreenMode = true;
  bool VSyncMode = true;
};

// The form's state after its modal loop turned into the start-up settings: false unless
// the result is ui::mrOk. An empty list starts at 640 x 480 with the default refresh rate;
// a list with nothing selected starts with its first mode (a mode the display really has).
bool SetupChoiceFromForm(TfrmSetup& Setup, int ModalResult, TSetupChoice& Choice);

// True when the dialog can open; otherwise Message says why and how to start without it.
bool SetupDialogAvailable(std::string& Message);

// The dialog half of ChooseDisplayMode. true: "&Demo" was pressed and ScreenWidth,
// ScreenHeight, ScreenRefresh, FullScreenMode and VSyncMode are written. false: "Die" or
// the close box; no global changes. With no display at all it prints why on stderr and
// ends the process with status 1 (nothing exists yet at that point).
bool RunSetupDialog();
