#include "ui/win32/win32_window.h"

#include <commctrl.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ui/win32/dpi.h"
#include "ui/win32/message_box.h"
#include "ui/win32/resource_ids.h"
#include "ui/win32/wide_text.h"

namespace qvx::win32 {
namespace {

constexpr wchar_t kWindowClass[] = L"fmStart";
// A fixed border: the operator cannot resize the window.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kFirstButtonId = 100;
constexpr int kLongestPath = 32768;

std::size_t IndexOf(qvx::Button button) {
  return static_cast<std::size_t>(button);
}

// The state of the shift keys as the form's key handler takes it: 1 Shift, 2 Ctrl, 4 Alt.
std::int16_t ShiftState() {
  std::int16_t state = 0;
  if (GetKeyState(VK_SHIFT) < 0) state |= 1;
  if (GetKeyState(VK_CONTROL) < 0) state |= 2;
  if (GetKeyState(VK_MENU) < 0) state |= 4;
  return state;
}

void SetText(HWND control, const std::string& text) {
  SetWindowTextW(control, Wide(text).c_str());
}

}  // namespace

Win32Window::Win32Window(HINSTANCE instance, D2xx& driver, ResourceLoader loader, bool demo)
    : instance_(instance), form_(*this, driver, std::move(loader), demo) {
  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                      ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  WNDCLASSEXW type{};
  type.cbSize = sizeof(type);
  type.lpfnWndProc = &Win32Window::Procedure;
  type.hInstance = instance_;
  type.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  type.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  type.lpszClassName = kWindowClass;
  // The icon group's image for each size.
  const auto icon = [this](int size) {
    return static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(QVX_ICON_GROUP), IMAGE_ICON, size, size, LR_SHARED));
  };
  type.hIcon = icon(GetSystemMetrics(SM_CXICON));
  type.hIconSm = icon(GetSystemMetrics(SM_CXSMICON));
  RegisterClassExW(&type);

  // Hidden until the start-up checks have passed; the form shows it. First placed on the
  // monitor that holds the mouse pointer, where the operator is looking, so that it has that
  // monitor's DPI from the start; then sized for that DPI and centred in its work area.
  const RECT work = WorkAreaUnderPointer();
  window_ = CreateWindowExW(0, kWindowClass, L"", kWindowStyle, work.left, work.top, kClientWidth,
                            kClientHeight, nullptr, nullptr, instance_, this);
  const int dpi = WindowDpi(window_);
  const Rect client = Scaled({0, 0, kClientWidth, kClientHeight}, dpi);
  const SIZE frame = FrameSize({client.width, client.height}, kWindowStyle, dpi);
  const POINT at = CentredIn(work, frame);
  SetWindowPos(window_, nullptr, at.x, at.y, frame.cx, frame.cy, SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
  ApplyDpi(dpi);
}

Win32Window::~Win32Window() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (font_ != nullptr) DeleteObject(font_);
  if (logoPlate_ != nullptr) DeleteObject(logoPlate_);
}

HWND Win32Window::CreateControl(const wchar_t* type, std::string_view text, DWORD style,
                                DWORD extendedStyle, const Rect& rect, int id) {
  return CreateWindowExW(extendedStyle, type, Wide(text).c_str(), WS_CHILD | WS_VISIBLE | style,
                         rect.left, rect.top, rect.width, rect.height, window_,
                         reinterpret_cast<HMENU>(INT_PTR{id}), instance_, nullptr);
}

void Win32Window::CreateControls() {
  for (const ControlLayout& c : kControls) {
    HWND control = nullptr;
    switch (c.control) {
      case Control::ProgressBar:
        control = ProgressBar = CreateControl(PROGRESS_CLASSW, "", 0, 0, c.rect, 0);
        AddProgressTip();
        break;
      case Control::Picture1: {
        // The logo inside a 2-pixel sunken border; the control loads the bitmap that its text
        // "#<id>" names from the program's resources. It stays 1:1, centred in the frame, which
        // grows with the DPI and is filled around it with the logo's own background (its corner
        // pixel), so that it sits on one plate: the logo is anti-aliased artwork 160 x 120
        // pixels small, which any resampling at 125 % or 150 % would smear; 1:1 keeps every
        // pixel as drawn. At 96 dpi it fills the frame.
        // Appended, not concatenated: GCC 12 sees an overlap in operator+ that is not there.
        const std::string logo = std::string("#").append(std::to_string(QVX_LOGO_BITMAP));
        control = Picture1 = CreateControl(WC_STATICW, logo, SS_BITMAP | SS_CENTERIMAGE,
                                           WS_EX_CLIENTEDGE, c.rect, 0);
        HDC bitmap = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(bitmap, reinterpret_cast<HGDIOBJ>(SendMessageW(
                                               Picture1, STM_GETIMAGE, IMAGE_BITMAP, 0)));
        logoPlate_ = CreateSolidBrush(GetPixel(bitmap, 0, 0));
        SelectObject(bitmap, old);
        DeleteDC(bitmap);
        break;
      }
      case Control::StatusText:
        control = StatusText = CreateControl(WC_STATICW, "", SS_CENTER, 0, c.rect, 0);
        break;
      case Control::DeviceName:
        control = DeviceName = CreateControl(WC_STATICW, "", SS_CENTER, 0, c.rect, 0);
        break;
      default: {
        const qvx::Button index = ButtonOf(c.control);
        control = Button[IndexOf(index)] =
            CreateControl(WC_BUTTONW, CaptionOf(index), WS_TABSTOP | BS_PUSHBUTTON, 0, c.rect,
                          kFirstButtonId + static_cast<int>(index));
        break;
      }
    }
    controls_.at(static_cast<std::size_t>(c.control)) = control;
  }
  // Tab moves through the children in their order; of them only the buttons take the focus.
  for (const Control control : TabOrder()) {
    SetWindowPos(controls_.at(static_cast<std::size_t>(control)), HWND_BOTTOM, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
}

void Win32Window::ApplyDpi(int dpi) {
  HFONT font = CreateMessageFont(dpi);
  for (const ControlLayout& c : kControls) {
    HWND control = controls_.at(static_cast<std::size_t>(c.control));
    const Rect r = Scaled(c.rect, dpi);
    SetWindowPos(control, nullptr, r.left, r.top, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  if (font_ != nullptr) DeleteObject(font_);
  font_ = font;
}

void Win32Window::AddProgressTip() {
  HWND tip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                             CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                             nullptr, instance_, nullptr);
  std::wstring text = Wide(text::kProgressTip);
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(ProgressBar);
  tool.lpszText = text.data();  // copied by the tooltip
  SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK Win32Window::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(window, message, wParam, lParam);
}

LRESULT Win32Window::Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      const int index = LOWORD(wParam) - kFirstButtonId;
      if (HIWORD(wParam) == BN_CLICKED && lParam != 0 && index >= 0 && index < kButtonCount) {
        form_.Button_Click(static_cast<std::int16_t>(index));
      }
      return 0;
    }
    case WM_ACTIVATE:
      // The focus leaves with the window and comes back with it to the same control.
      if (LOWORD(wParam) == WA_INACTIVE) {
        if (IsChild(window, GetFocus()) != FALSE) focus_ = GetFocus();
        break;
      }
      if (focus_ == nullptr) break;
      ::SetFocus(focus_);
      return 0;
    case WM_DPICHANGED: {
      // On a screen of another scale: the size Windows suggests, the controls and font to match.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi(HIWORD(wParam));
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == Picture1) return reinterpret_cast<LRESULT>(logoPlate_);
      break;
    case WM_CLOSE:
      // Every close the operator asks for is accepted, also in the middle of an update.
      closedByOperator_ = true;
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      closed_ = true;
      form_.WindowClosed(closedByOperator_);
      return 0;
    case WM_NCDESTROY:
      window_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// No button is the window's default (Enter) or cancel (Escape) button, so the dialog manager,
// which would press the focused button for Enter once Tab has moved to it, is left out. Tab and
// Shift+Tab move between the buttons shown; Enter and Escape press nothing; Space reaches the
// focused button, which presses itself.
void Win32Window::Dispatch(MSG& message) {
  if (message.message == WM_KEYDOWN && window_ != nullptr &&
      (message.hwnd == window_ || IsChild(window_, message.hwnd) != FALSE)) {
    form_.Form_KeyDown(static_cast<std::int16_t>(message.wParam), ShiftState());
    switch (message.wParam) {
      case VK_TAB:
        MoveFocus(GetKeyState(VK_SHIFT) < 0);
        return;
      case VK_RETURN:
      case VK_ESCAPE:
        return;
      default:
        break;
    }
  }
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

void Win32Window::MoveFocus(bool backwards) {
  HWND from = GetFocus();
  HWND to = GetNextDlgTabItem(window_, IsChild(window_, from) != FALSE ? from : nullptr,
                              backwards ? TRUE : FALSE);
  if (to == nullptr) return;  // no button shown, as during an update
  ::SetFocus(to);
  // The keyboard is in use: the focused button shows its focus frame from now on.
  SendMessageW(window_, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

int Win32Window::Run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message);
  return form_.ExitStatus();
}

void Win32Window::SetProgressValue(int value) {
  SendMessageW(ProgressBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void Win32Window::SetProgressMaximum(int maximum) {
  SendMessageW(ProgressBar, PBM_SETRANGE32, 0, maximum);
}

void Win32Window::SetProgressVisible(bool visible) {
  ShowWindow(ProgressBar, visible ? SW_SHOW : SW_HIDE);
}

void Win32Window::SetButtonVisible(qvx::Button button, bool visible) {
  ShowWindow(Button.at(IndexOf(button)), visible ? SW_SHOW : SW_HIDE);
}

void Win32Window::SetFocus(std::optional<qvx::Button> button) {
  focus_ = button ? Button.at(IndexOf(*button)) : window_;
  // An inactive window gets it back when it is activated (above).
  if (GetActiveWindow() == window_) ::SetFocus(focus_);
}

void Win32Window::SetStatusText(const std::string& text) {
  SetText(StatusText, text);
}

void Win32Window::ProcessMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
    if (message.message == WM_QUIT) {
      // The program is ending: the quit belongs to the event loop this update runs inside.
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    Dispatch(message);
  }
}

void Win32Window::ShowMessage(const Message& message) {
  // Owned by the window while it is on the screen, so that an application-modal box blocks it.
  HWND owner = window_ != nullptr && IsWindowVisible(window_) != FALSE ? window_ : nullptr;
  ShowMessageBox(owner, message);
}

void Win32Window::SetCaption(const std::string& caption) {
  SetText(window_, caption);
}

void Win32Window::SetDeviceName(const std::string& text) {
  SetText(DeviceName, text);
}

void Win32Window::Show() {
  ShowWindow(window_, SW_SHOWNORMAL);
}

void Win32Window::Close() {
  if (window_ != nullptr) DestroyWindow(window_);
}

void Win32Window::EndProgram(int status) {
  // Ends the event loop once control returns to it; before it runs, WinMain returns the status.
  PostQuitMessage(status);
}

bool Win32Window::AnotherInstanceRunning() {
  return !instanceMutex_.TryAcquire();
}

std::string Win32Window::ProgramName() const {
  std::vector<wchar_t> path(kLongestPath);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), kLongestPath);
  return Narrow(std::filesystem::path(std::wstring(path.data(), length)).stem().wstring());
}

}  // namespace qvx::win32
