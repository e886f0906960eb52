#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/texts.h"

namespace qvx {

// The Button control array's indexes.
enum class Button : std::int16_t { FindDevice = 0, FlashDevice = 1, AbortFlash = 2, Ok = 3 };
inline constexpr int kButtonCount = 4;

// What the form's logic needs of a window toolkit and its process. Implemented by each front
// end's window and by the tests' fake; nothing else talks to a window.
class FormView {
 public:
  virtual ~FormView() = default;

  virtual void SetProgressValue(int value) = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetButtonVisible(Button button, bool visible) = 0;
  // The keyboard focus to this button, or with none to the window itself; a window that is not
  // active gives it when it next is.
  virtual void SetFocus(std::optional<Button> button) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetDeviceName(const std::string& text) = 0;
  virtual void SetCaption(const std::string& caption) = 0;
  // Lets other events run in the middle of an update.
  virtual void ProcessMessages() = 0;
  // Returns once the operator has pressed OK.
  virtual void ShowMessage(const Message& message) = 0;
  virtual void Show() = 0;
  // Closes the window from code. The view reports this close, like every other, through
  // fmStart::WindowClosed before it returns.
  virtual void Close() = 0;
  // True once the window has closed, whoever closed it.
  virtual bool IsClosed() const = 0;
  // Ends the program with this status: at once when no event loop runs yet, else when control
  // returns to it.
  virtual void EndProgram(int status) = 0;

  // Process facts.
  virtual bool AnotherInstanceRunning() = 0;
  virtual std::string ProgramName() const = 0;  // the program's file name without extension
};

}  // namespace qvx
