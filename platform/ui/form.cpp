// The form on FLTK (X11). Each control of the description becomes one FLTK widget at its
// scaled position; the modal loop runs until a button ends it or the close box is used.

#include "platform/ui/form.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/x.H>
#include <X11/Xatom.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace ui {

namespace {

// FLTK ends the process when it cannot open its display, so the display is opened here
// first and handed over; a failure is then ours to report.
bool OpenDisplay(std::string* why) {
  if (fl_display) return true;
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    if (why) {
      const char* name = std::getenv("DISPLAY");
      if (name && *name)
        *why = std::string("cannot open the X display \"") + name + "\"";
      else
        *why = "no X display (DISPLAY is not set)";
    }
    return false;
  }
  fl_open_display(d);
  return true;
}

// The Alt accelerator of a caption: the letter after a single '&' ("&&" is a literal '&').
int AcceleratorOf(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    return std::tolower(static_cast<unsigned char>(caption[i + 1]));
  }
  return 0;
}

// A push button that, like a Windows dialog's buttons, is pressed by Enter while
// it has the focus (FLTK buttons only answer the space bar).
class PushButton : public Fl_Button {
 public:
  using Fl_Button::Fl_Button;
  int handle(int event) override {
    if (event == FL_KEYBOARD && Fl::focus() == this &&
        (Fl::event_key() == FL_Enter || Fl::event_key() == FL_KP_Enter) &&
        !(Fl::event_state() & (FL_SHIFT | FL_CTRL | FL_ALT | FL_META))) {
      do_callback();
      return 1;
    }
    return Fl_Button::handle(event);
  }
};

struct FormWindow;

struct ButtonBinding {
  FormWindow* window;
  int modalResult;
};

struct FormWindow {
  std::unique_ptr<Fl_Double_Window> window;
  int modalResult = mrNone;
  std::vector<Fl_Widget*> widgets;  // parallel to Form::Controls
  std::vector<std::vector<Fl_Menu_Item>> menus;
  std::vector<std::unique_ptr<ButtonBinding>> bindings;
  std::vector<std::string> labels;  // FLTK keeps label pointers, not copies
};

void ButtonPressed(Fl_Widget*, void* data) {
  auto* b = static_cast<ButtonBinding*>(data);
  if (b->modalResult == mrNone) return;
  b->window->modalResult = b->modalResult;
  b->window->window->hide();
}

void WindowCallback(Fl_Widget*, void* data) {
  // FLTK routes an unused Escape to the window's callback; this form ignores it.
  if ((Fl::event() == FL_SHORTCUT || Fl::event() == FL_KEYBOARD) && Fl::event_key() == FL_Escape)
    return;
  auto* fw = static_cast<FormWindow*>(data);
  fw->modalResult = mrCancel;
  fw->window->hide();
}

// A dialog that stays out of the task bar: the nearest X11 has to a tool window. The map
// request is still in Xlib's buffer, so the window manager finds these properties when it
// takes the window on.
void MarkAsToolWindow(Window xid) {
  if (!xid) return;
  Atom type = XInternAtom(fl_display, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(fl_display, xid, XInternAtom(fl_display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                  PropModeReplace, reinterpret_cast<unsigned char*>(&type), 1);
  Atom state = XInternAtom(fl_display, "_NET_WM_STATE_SKIP_TASKBAR", False);
  XChangeProperty(fl_display, xid, XInternAtom(fl_display, "_NET_WM_STATE", False), XA_ATOM, 32,
                  PropModeAppend, reinterpret_cast<unsigned char*>(&state), 1);
}

}  // namespace

bool DisplayAvailable(std::string* why) { return OpenDisplay(why); }

double ScreenScale() {
  if (!fl_display) return 1.0;
  float h = 0, v = 0;
  Fl::screen_dpi(h, v, 0);
  // Servers without physical dimensions report nonsense; such screens get the design size.
  if (!(v >= 24.0f && v <= 960.0f)) return 1.0;
  // X derives dpi from a size in whole millimetres; dpi settings are whole numbers, so
  // 119.79 was meant as 120.
  return std::round(v) / 96.0;
}

int ShowModal(Form& form) {
  if (!OpenDisplay(nullptr)) return mrNone;

  const double scale = ScreenScale();
  auto S = [scale](int v) { return ScaleLength(v, scale); };

  // The button face of the classic Windows scheme.
  Fl::background(0xD4, 0xD0, 0xC8);

  FormWindow fw;
  const int w = S(form.ClientWidth), h = S(form.ClientHeight);
  fw.labels.reserve(form.Controls.size());
  fw.window = std::make_unique<Fl_Double_Window>(w, h);
  fw.window->copy_label(form.Caption.c_str());
  fw.window->callback(WindowCallback, &fw);
  fw.window->labelsize(S(form.FontHeight));

  fw.window->begin();
  for (const Control& c : form.Controls) {
    const int x = S(c.Left), y = S(c.Top), cw = S(c.Width), ch = S(c.Height);
    const int size = S(c.FontHeight);
    const Fl_Font font = c.Bold ? FL_HELVETICA_BOLD : FL_HELVETICA;
    Fl_Widget* widget = nullptr;
    switch (c.Kind) {
      case ControlKind::Label: {
        auto* box = new Fl_Box(FL_NO_BOX, x, y, cw, ch, nullptr);
        box->align(FL_ALIGN_LEFT | FL_ALIGN_TOP | FL_ALIGN_INSIDE);
        widget = box;
        break;
      }
      case ControlKind::ComboBox: {
        auto* combo = new Fl_Input_Choice(x, y, cw, ch);
        combo->textsize(size);
        combo->textfont(font);
        // A hand-built menu keeps item texts literal ('/' would otherwise open submenus).
        auto& menu = fw.menus.emplace_back();
        for (const std::string& item : c.Items.Items) {
          Fl_Menu_Item mi{};
          mi.text = item.c_str();
          mi.labeltype_ = FL_NORMAL_LABEL;
          mi.labelfont_ = font;
          mi.labelsize_ = static_cast<Fl_Fontsize>(size);
          menu.push_back(mi);
        }
        menu.push_back(Fl_Menu_Item{});
        combo->menu(menu.data());
        combo->menubutton()->textsize(size);
        if (c.Items.ItemIndex >= 0 && c.Items.ItemIndex < c.Items.Count()) {
          combo->menubutton()->value(c.Items.ItemIndex);
          combo->value(c.Items.Items[c.Items.ItemIndex].c_str());
        }
        widget = combo;
        break;
      }
      case ControlKind::CheckBox: {
        auto* check = new Fl_Check_Button(x, y, cw, ch);
        check->value(c.Checked ? 1 : 0);
        widget = check;
        break;
      }
      case ControlKind::Button: {
        auto* button = new PushButton(x, y, cw, ch);
        auto& binding = fw.bindings.emplace_back(new ButtonBinding{&fw, c.ModalResult});
        button->callback(ButtonPressed, binding.get());
        if (int key = AcceleratorOf(c.Caption)) button->shortcut(FL_ALT | key);
        widget = button;
        break;
      }
    }
    if (c.Kind != ControlKind::ComboBox && !c.Caption.empty()) {
      fw.labels.push_back(c.Caption);
      widget->label(fw.labels.back().c_str());
    }
    widget->labelfont(font);
    widget->labelsize(size);
    fw.widgets.push_back(widget);
  }
  fw.window->end();

  int sx = 0, sy = 0, sw = 0, sh = 0;
  Fl::screen_xywh(sx, sy, sw, sh, 0);
  fw.window->position(sx + (sw - w) / 2, sy + (sh - h) / 2);
  fw.window->set_modal();
  if (!form.WindowClass.empty()) fw.window->xclass(form.WindowClass.c_str());
  fw.window->show();
  MarkAsToolWindow(fl_xid(fw.window.get()));

  for (size_t i = 0; i < form.Controls.size(); ++i)
    if (form.Controls[i].Name == form.ActiveControl) fw.widgets[i]->take_focus();

  while (fw.window->shown()) Fl::wait();

  for (size_t i = 0; i < form.Controls.size(); ++i) {
    Control& c = form.Controls[i];
    if (c.Kind == ControlKind::CheckBox) {
      c.Checked = static_cast<Fl_Check_Button*>(fw.widgets[i])->value() != 0;
    } else if (c.Kind == ControlKind::ComboBox) {
      auto* combo = static_cast<Fl_Input_Choice*>(fw.widgets[i]);
      c.Text = combo->value() ? combo->value() : "";
      c.Items.ItemIndex = SelectionForText(c.Items, combo->menubutton()->value(), c.Text);
    }
  }

  // The window must be gone from the screen before whatever the caller opens next.
  fw.window.reset();
  Fl::flush();
  XSync(fl_display, False);
  return fw.modalResult;
}

}  // namespace ui
