#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "update/update_window.h"

namespace qvx::test {

// Keeps what the engine did to the window, and can close itself at a chosen message pump.
class RecordingWindow : public UpdateWindow {
 public:
  struct Box {
    std::string text;
    std::string title;
  };

  int value = 0;
  int maximum = 100;
  bool progressVisible = false;
  std::array<bool, 4> buttons{false, true, true, false};
  std::string status;

  std::vector<int> values;  // every value set, in order
  std::vector<Box> boxes;
  int pumps = 0;
  int closeAtPump = 0;  // 0: never
  std::function<void()> onPump;
  std::function<void()> onBox;
  mutable int callsAfterClose = 0;  // anything but the IsClosed() that noticed it

  int ProgressValue() const override { return Touch(), value; }
  void SetProgressValue(int v) override {
    Touch();
    value = v;
    values.push_back(v);
  }
  void SetProgressMaximum(int m) override { Touch(), maximum = m; }
  void SetProgressVisible(bool visible) override { Touch(), progressVisible = visible; }
  void SetButtonVisible(int index, bool visible) override {
    Touch();
    buttons.at(static_cast<std::size_t>(index)) = visible;
  }
  void SetStatusText(const std::string& text) override { Touch(), status = text; }
  void ProcessMessages() override {
    Touch();
    ++pumps;
    if (onPump) onPump();
    if (pumps == closeAtPump) closed_ = true;
  }
  void ShowMessage(const std::string& text, const std::string& title) override {
    Touch();
    boxes.push_back({text, title});
    if (onBox) onBox();
  }
  bool IsClosed() const override { return closed_; }

 private:
  void Touch() const {
    if (closed_) ++callsAfterClose;
  }

  bool closed_ = false;
};

}  // namespace qvx::test
