// The form on Windows' own window API, as the setup dialog was first made: each control of the
// description becomes one standard control (static, combo box, check box, push button) at its
// scaled position, and a modal loop with IsDialogMessage gives the keyboard handling of a dialog
// (Tab order, Alt accelerators, Enter on a focused button).

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ui/form.h"

namespace ui {

namespace {

constexpr int kFirstId = 100;  // control i has the id kFirstId + i
constexpr char kDefaultClass[] = "TFormSetup";

struct FormWindow {
  HWND window = nullptr;
  int modalResult = mrNone;
  const Form* form = nullptr;
  std::vector<HWND> controls;  // parallel to Form::Controls
  std::vector<HFONT> fonts;
};

LRESULT CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* fw = reinterpret_cast<FormWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  switch (msg) {
    case WM_COMMAND: {
      if (!fw) break;
      int id = LOWORD(wp);
      // IsDialogMessage turns Escape into IDCANCEL: this form ignores it. Enter comes as IDOK
      // (this window is no dialog class, so no button is the default one): it presses the
      // focused button, as in a dialog, and does nothing elsewhere.
      if (id == IDOK) {
        id = GetDlgCtrlID(GetFocus());
        wp = MAKEWPARAM(id, BN_CLICKED);
      }
      if (id < kFirstId) return 0;
      const size_t i = static_cast<size_t>(id - kFirstId);
      if (HIWORD(wp) == BN_CLICKED && i < fw->form->Controls.size()) {
        const Control& c = fw->form->Controls[i];
        if (c.Kind == ControlKind::Button && c.ModalResult != mrNone) fw->modalResult = c.ModalResult;
      }
      return 0;
    }
    case WM_CLOSE:
      if (fw) fw->modalResult = mrCancel;
      return 0;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      // The button face of the classic Windows scheme behind labels and check boxes.
      SetBkColor(reinterpret_cast<HDC>(wp), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    default:
      break;
  }
  return DefWindowProcA(hwnd, msg, wp, lp);
}

bool RegisterFormClass(const std::string& name) {
  WNDCLASSA existing{};
  if (GetClassInfoA(GetModuleHandleA(nullptr), name.c_str(), &existing)) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = FormProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = name.c_str();
  return RegisterClassA(&wc) != 0;
}

HFONT MakeFont(int height, bool bold) {
  return CreateFontA(-height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS,
                     "MS Sans Serif");
}

std::string WindowText(HWND hwnd) {
  const int n = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  text.resize(static_cast<size_t>(GetWindowTextA(hwnd, text.data(), n + 1)));
  return text;
}

}  // namespace

bool DisplayAvailable(std::string* why) {
  // A desktop that takes no window (Wine without an X server, a service session) shows no form.
  HWND probe = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!probe) {
    if (why) *why = "no desktop to show a window on (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  DestroyWindow(probe);
  return true;
}

double ScreenScale() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 1.0;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  if (dpi < 24 || dpi > 960) return 1.0;
  return dpi / 96.0;
}

int ShowModal(Form& form) {
  if (!DisplayAvailable(nullptr)) return mrNone;
  const std::string className = form.WindowClass.empty() ? kDefaultClass : form.WindowClass;
  if (!RegisterFormClass(className)) return mrNone;

  const double scale = ScreenScale();
  auto S = [scale](int v) { return ScaleLength(v, scale); };

  FormWindow fw;
  fw.form = &form;
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
  const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_TOOLWINDOW | WS_EX_CONTROLPARENT;
  RECT frame{0, 0, S(form.ClientWidth), S(form.ClientHeight)};
  AdjustWindowRectEx(&frame, style, FALSE, exStyle);
  const int w = frame.right - frame.left, h = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
  fw.window = CreateWindowExA(exStyle, className.c_str(), form.Caption.c_str(), style, x, y, w, h, nullptr,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!fw.window) return mrNone;
  SetWindowLongPtrA(fw.window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&fw));

  HINSTANCE instance = GetModuleHandleA(nullptr);
  for (size_t i = 0; i < form.Controls.size(); ++i) {
    const Control& c = form.Controls[i];
    const int cx = S(c.Left), cy = S(c.Top), cw = S(c.Width), ch = S(c.Height);
    const char* cls = "STATIC";
    DWORD cs = WS_CHILD | WS_VISIBLE;
    int height = ch;
    switch (c.Kind) {
      case ControlKind::Label:
        cs |= SS_LEFT;
        break;
      case ControlKind::ComboBox:
        cls = "COMBOBOX";
        // An edit field with a list: the height given is the closed box's, the list drops below.
        cs |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP;
        height = ch + S(c.FontHeight + 4) * std::max(1, std::min(c.Items.Count(), 12));
        break;
      case ControlKind::CheckBox:
        cls = "BUTTON";
        cs |= BS_AUTOCHECKBOX | WS_TABSTOP;
        break;
      case ControlKind::Button:
        cls = "BUTTON";
        cs |= BS_PUSHBUTTON | WS_TABSTOP;
        break;
    }
    const std::string caption = c.Kind == ControlKind::ComboBox ? std::string() : c.Caption;
    HWND hwnd = CreateWindowExA(0, cls, caption.c_str(), cs, cx, cy, cw, height, fw.window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + i)), instance, nullptr);
    HFONT font = MakeFont(S(c.FontHeight), c.Bold);
    fw.fonts.push_back(font);
    if (hwnd) SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (hwnd && c.Kind == ControlKind::ComboBox) {
      for (const std::string& item : c.Items.Items)
        SendMessageA(hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      if (c.Items.ItemIndex >= 0 && c.Items.ItemIndex < c.Items.Count())
        SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(c.Items.ItemIndex), 0);
    }
    if (hwnd && c.Kind == ControlKind::CheckBox)
      SendMessageA(hwnd, BM_SETCHECK, c.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
    fw.controls.push_back(hwnd);
  }

  ShowWindow(fw.window, SW_SHOWNORMAL);
  SetForegroundWindow(fw.window);
  for (size_t i = 0; i < form.Controls.size(); ++i)
    if (form.Controls[i].Name == form.ActiveControl && fw.controls[i]) SetFocus(fw.controls[i]);

  MSG msg;
  while (fw.modalResult == mrNone) {
    const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got <= 0) {
      // A WM_QUIT meant for the program's own loop: the form ends, the quit goes on to it.
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      fw.modalResult = mrCancel;
      break;
    }
    if (IsDialogMessageA(fw.window, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }

  for (size_t i = 0; i < form.Controls.size(); ++i) {
    Control& c = form.Controls[i];
    HWND hwnd = fw.controls[i];
    if (!hwnd) continue;
    if (c.Kind == ControlKind::CheckBox) {
      c.Checked = SendMessageA(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
    } else if (c.Kind == ControlKind::ComboBox) {
      c.Text = WindowText(hwnd);
      const LRESULT picked = SendMessageA(hwnd, CB_GETCURSEL, 0, 0);
      c.Items.ItemIndex = SelectionForText(c.Items, picked == CB_ERR ? -1 : static_cast<int>(picked), c.Text);
    }
  }

  SetWindowLongPtrA(fw.window, GWLP_USERDATA, 0);
  DestroyWindow(fw.window);
  for (HFONT font : fw.fonts)
    if (font) DeleteObject(font);
  return fw.modalResult;
}

}  // namespace ui
