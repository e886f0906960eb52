#pragma once

#include <string>

#include "update/update_view.h"

namespace qvx {

// What the form's logic needs of a window toolkit and its process: the engine's view, grown to
// the whole form. Implemented by each front end's window and by the tests' fake.
class FormView : public UpdateView {
 public:
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetDeviceName(const std::string& text) = 0;
  virtual void Show() = 0;
  // Closes the window from code. The view reports this close, like every other, through
  // fmStart::WindowClosed before it returns.
  virtual void Close() = 0;
  // Ends the program with this status: at once when no event loop runs yet, else when control
  // returns to it.
  virtual void EndProgram(int status) = 0;

  // Process facts.
  virtual bool AnotherInstanceRunning() = 0;
  virtual std::string ProgramName() const = 0;  // the program's file name without extension
};

}  // namespace qvx
