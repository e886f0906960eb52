#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>

#include "app/fm_start.h"
#include "app/form_layout.h"
#include "ui/win32/instance_mutex.h"

namespace qvx::win32 {

// The form's window with the platform's own controls: it creates them, draws, and forwards
// clicks, keys and closes to the form's logic, which decides everything else.
class Win32Window : public FormView {
 public:
  Win32Window(HINSTANCE instance, D2xx& driver, ResourceLoader loader, bool demo);
  ~Win32Window() override;
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  fmStart& Form() { return form_; }

  // The event loop, until the program ends; returns its exit status.
  int Run();

  // FormView
  void SetProgressValue(int value) override;
  void SetProgressMaximum(int maximum) override;
  void SetProgressVisible(bool visible) override;
  void SetButtonVisible(qvx::Button button, bool visible) override;
  void SetFocus(std::optional<qvx::Button> button) override;
  void SetStatusText(const std::string& text) override;
  void ProcessMessages() override;
  void ShowMessage(const Message& message) override;
  bool IsClosed() const override { return closed_; }
  void SetCaption(const std::string& caption) override;
  void SetDeviceName(const std::string& text) override;
  void Show() override;
  void Close() override;
  void EndProgram(int status) override;
  bool AnotherInstanceRunning() override;
  std::string ProgramName() const override;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  HWND CreateControl(const wchar_t* type, std::string_view text, DWORD style, DWORD extendedStyle,
                     const Rect& rect, int id);
  void AddProgressTip();
  // Places the controls and sets their font for the window's DPI.
  void ApplyDpi(int dpi);
  void Dispatch(MSG& message);
  void MoveFocus(bool backwards);

  HINSTANCE instance_;
  HWND window_ = nullptr;

  // The controls, in the order the window creates them.
  std::array<HWND, kButtonCount> Button{};
  HWND ProgressBar = nullptr;
  HWND Picture1 = nullptr;
  HWND StatusText = nullptr;
  HWND DeviceName = nullptr;
  std::array<HWND, kControlCount> controls_{};  // the same, by Control

  HFONT font_ = nullptr;        // the system's message font at the window's DPI
  HBRUSH logoPlate_ = nullptr;  // the logo's own background colour, around it in its frame
  HWND focus_ = nullptr;        // the control the form focused last, or the one Tab moved to

  InstanceMutex instanceMutex_;
  bool closed_ = false;
  bool closedByOperator_ = false;
  fmStart form_;
};

}  // namespace qvx::win32
