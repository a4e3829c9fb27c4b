#pragma once
// A small modal form described as plain data, the way a form designer would store it:
// a caption, a client size and a list of controls with positions in pixels at 96 dpi.
// The toolkit behind it (FLTK on X11) never shows through this header, so the show
// can describe its setup dialog without including any toolkit.

#include <string>
#include <vector>

namespace ui {

// The items of a combo box and the selected one (-1: none).
struct ComboItems {
  std::vector<std::string> Items;
  int ItemIndex = -1;

  void Clear() {
    Items.clear();
    ItemIndex = -1;
  }
  // Appends an item and returns its index.
  int Add(std::string text) {
    Items.push_back(std::move(text));
    return static_cast<int>(Items.size()) - 1;
  }
  int Count() const { return static_cast<int>(Items.size()); }
};

enum class ControlKind { Label, ComboBox, CheckBox, Button };

// Modal results, numbered as Windows dialog toolkits number them.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

struct Control {
  std::string Name;
  ControlKind Kind = ControlKind::Label;
  int Left = 0, Top = 0, Width = 0, Height = 0;  // at 96 dpi
  // Label, check box and button text. An '&' marks the next letter as the Alt accelerator.
  std::string Caption;
  int FontHeight = 13;  // character height in pixels at 96 dpi
  bool Bold = false;
  bool Checked = false;   // check boxes: in and out
  int ModalResult = mrNone;  // buttons: pressing one ends the form with this result
  ComboItems Items;       // combo boxes: in and out (the selection)
  std::string Text;       // combo boxes: the edit field's text when the form closed
};

// Focusable controls take the keyboard focus in the order they are listed (the tab order).
struct Form {
  std::string Caption;
  std::string WindowClass;  // lets the desktop group the form with the program's other windows
  int ClientWidth = 0, ClientHeight = 0;  // at 96 dpi
  int FontHeight = 11;
  std::string ActiveControl;  // name of the control focused when the form opens
  std::vector<Control> Controls;

  Control* Find(const std::string& name);
  const Control* Find(const std::string& name) const;
};

// True when a form can be shown: a display could be opened. Otherwise `why` (when given)
// receives a one-line reason naming the display that was tried.
bool DisplayAvailable(std::string* why = nullptr);

// Shows the form modally, centred on the screen and scaled for the screen's dpi, until a
// button with a modal result is pressed or the form is closed by its close box (mrCancel).
// Escape does not close it. Check boxes and combo boxes write the user's choice back
// into `form`. A combo box's selection follows its edit field: text that is not exactly
// one of the items leaves no item selected. Returns mrNone when no display is available.
int ShowModal(Form& form);

// The form's scale factor for the screen it would open on: dpi / 96 (1 when unknown).
// Only meaningful once a display is available.
double ScreenScale();

// Scales a 96-dpi length by `scale`, rounding to the nearest pixel as form designers did.
int ScaleLength(int length, double scale);

// A picked combo item stays selected only while the edit field still shows its text;
// otherwise the first item equal to `text`, or none.
int SelectionForText(const ComboItems& items, int picked, const std::string& text);

}  // namespace ui
