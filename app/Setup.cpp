#include "app/Setup.h"

#include <cstdio>
#include <cstdlib>

#include "app/Entry.h"
#include "platform/gfx/d3d9.h"

const char* const SetupCaption = "Quorvanteplidusk - by the vok crew";

namespace {

ui::Control MakeControl(const char* name, ui::ControlKind kind, int left, int top, int width,
                        int height, const char* caption) {
  ui::Control c;
  c.Name = name;
  c.Kind = kind;
  c.Left = left;
  c.Top = top;
  c.Width = width;
  c.Height = height;
  c.Caption = caption;
  c.FontHeight = 13;
  return c;
}

std::string ModeText(const D3DDISPLAYMODE& mode) {
  return std::to_string(mode.Width) + "x" + std::to_string(mode.Height) + " " +
         std::to_string(mode.RefreshRate) + "Hz";
}

}  // namespace

void FillModeList(ui::ComboItems& ComboBox, TModeList& ModeList) {
  ComboBox.Clear();
  ModeList.clear();

  // No adapter means no modes: the dialog still opens and starting uses 640 x 480.
  std::shared_ptr<IDirect3D9> d3d = Direct3DCreate9(0x80000020);
  if (!d3d) return;

  const UINT n = d3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8);
  for (UINT i = 0; i < n; ++i) {
    D3DDISPLAYMODE mode{};
    if (FAILED(d3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, i, &mode))) continue;
    if (mode.Width < 640) continue;
    ModeList.push_back({static_cast<int>(mode.Width), static_cast<int>(mode.Height),
                        static_cast<int>(mode.RefreshRate)});
    const int item = ComboBox.Add(ModeText(mode));
    if (mode.Width == 1920) ComboBox.ItemIndex = item;
  }
}

TfrmSetup::TfrmSetup() {
  using ui::ControlKind;
  Form.Caption = SetupCaption;
  Form.WindowClass = ShowTitle;
  Form.ClientWidth = 398;
  Form.ClientHeight = 197;
  Form.FontHeight = 11;
  Form.ActiveControl = "btnGo";

  Form.Controls.push_back(MakeControl("lblResolution", ControlKind::Label, 10, 30, 64, 16, "Resolution"));
  Form.Controls.push_back(MakeControl("cmbResolution", ControlKind::ComboBox, 10, 45, 221, 24, ""));
  ui::Control full = MakeControl("chbFullScreen", ControlKind::CheckBox, 270, 40, 85, 17, "fullscreen");
  full.Checked = true;
  Form.Controls.push_back(full);
  ui::Control vsync = MakeControl("chbVSync", ControlKind::CheckBox, 270, 65, 85, 17, "vertical sync");
  vsync.Checked = true;
  Form.Controls.push_back(vsync);
  ui::Control go = MakeControl("btnGo", ControlKind::Button, 10, 125, 75, 25, "&Demo");
  go.Bold = true;
  go.ModalResult = ui::mrOk;
  Form.Controls.push_back(go);
  ui::Control exit = MakeControl("btnExit", ControlKind::Button, 105, 125, 75, 25, "Die");
  exit.Bold = true;
  exit.ModalResult = ui::mrCancel;
  Form.Controls.push_back(exit);
}

int TfrmSetup::ShowModal() { return ui::ShowModal(Form); }

bool SetupChoiceFromForm(TfrmSetup& Setup, int ModalResult, TSetupChoice& Choice) {
  if (ModalResult != ui::mrOk) return false;
  Choice.FullScreenMode = Setup.chbFullScreen().Checked;
  Choice.VSyncMode = Setup.chbVSync().Checked;
  if (Setup.ModeList.empty()) {
    Choice.ScreenWidth = 640;
    Choice.ScreenHeight = 480;
    Choice.ScreenRefresh = 0;
    return true;
  }
  int index = Setup.cmbResolution().Items.ItemIndex;
  if (index < 0 || index >= static_cast<int>(Setup.ModeList.size())) index = 0;
  const TDisplayMode& mode = Setup.ModeList[index];
  Choice.ScreenWidth = mode.Width;
  Choice.ScreenHeight = mode.Height;
  Choice.ScreenRefresh = mode.RefreshRate;
  return true;
}

bool SetupDialogAvailable(std::string& Message) {
  std::string why;
  if (ui::DisplayAvailable(&why)) return true;
  Message = "Quorvanteplidusk: the setup dialog cannot open: " + why +
            ".\nStart with DEBUG to skip the dialog (1280x720 in a window), "
            "or with --headless to run without a display.";
  return false;
}

bool RunSetupDialog() {
  std::string message;
  if (!SetupDialogAvailable(message)) {
    std::fprintf(stderr, "%s\n", message.c_str());
    std::exit(1);
  }
  TfrmSetup setup;
  FillModeList(setup.cmbResolution().Items, setup.ModeList);
  TSetupChoice choice;
  if (!SetupChoiceFromForm(setup, setup.ShowModal(), choice)) return false;
  ScreenWidth = choice.ScreenWidth;
  ScreenHeight = choice.ScreenHeight;
  ScreenRefresh = choice.ScreenRefresh;
  FullScreenMode = choice.FullScreenMode;
  VSyncMode = choice.VSyncMode;
  return true;
}
