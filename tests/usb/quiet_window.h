#pragma once

#include <string>
#include <vector>

#include "update/update_window.h"

namespace qvx::usbemu {

// The window as far as the engine needs one: it keeps the boxes and never closes.
class QuietWindow : public UpdateWindow {
 public:
  std::vector<std::string> boxes;
  int value = 0;

  int ProgressValue() const override { return value; }
  void SetProgressValue(int v) override { value = v; }
  void SetProgressMaximum(int) override {}
  void SetProgressVisible(bool) override {}
  void SetButtonVisible(int, bool) override {}
  void SetStatusText(const std::string&) override {}
  void ProcessMessages() override {}
  void ShowMessage(const std::string& text, const std::string& title) override {
    boxes.push_back(title + ": " + text);
  }
  bool IsClosed() const override { return false; }
};

}  // namespace qvx::usbemu
