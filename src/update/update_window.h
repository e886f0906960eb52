#pragma once

#include <string>

namespace qvx {

// What the update engine needs of the window, and nothing more.
class UpdateWindow {
 public:
  virtual ~UpdateWindow() = default;

  virtual int ProgressValue() const = 0;
  virtual void SetProgressValue(int value) = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  // Index into the Button control array: 0 Find Device, 1 Flash Device, 2 Abort Flash, 3 Ok!.
  virtual void SetButtonVisible(int index, bool visible) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Lets other window events run in the middle of an update.
  virtual void ProcessMessages() = 0;
  // A modal box with one OK button and no icon.
  virtual void ShowMessage(const std::string& text, const std::string& title) = 0;
  // True once the operator has closed the window.
  virtual bool IsClosed() const = 0;
};

}  // namespace qvx
