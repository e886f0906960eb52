#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/fm_start.h"

namespace qvx::test {

// What the operator sees of the window: the four buttons, the bar, the two labels, the focus.
struct Shown {
  std::array<bool, kButtonCount> buttons{};
  bool bar = false;
  std::string status;
  std::string device;
  std::optional<Button> focus;
  bool operator==(const Shown&) const = default;
};

// The one fake window: it keeps what the form and the engine did to it, forwards closes to the
// form as a real window does, and can close itself at a chosen message pump.
class FakeView : public FormView {
 public:
  fmStart* form = nullptr;
  bool otherInstance = false;
  int closeAtPump = 0;  // 0: never
  std::function<void()> onPump;

  Shown shown{{true, true, true, true}, true, "", "", std::nullopt};  // controls are placed visible
  int value = 0;
  int maximum = 100;
  std::string caption;
  bool visible = false;
  std::optional<int> ended;
  std::vector<int> values;  // every bar value set, in order
  std::vector<Message> boxes;
  std::vector<bool> closedAtBox;  // whether the window was closed when each box came up
  int pumps = 0;
  int callsAfterClose = 0;  // anything but IsClosed() after the close

  void SetProgressValue(int v) override {
    Touch();
    value = v;
    values.push_back(v);
  }
  void SetProgressMaximum(int m) override { Touch(), maximum = m; }
  void SetProgressVisible(bool v) override { Touch(), shown.bar = v; }
  void SetButtonVisible(Button b, bool v) override {
    Touch(), shown.buttons.at(static_cast<std::size_t>(b)) = v;
  }
  void SetFocus(std::optional<Button> b) override { Touch(), shown.focus = b; }
  void SetStatusText(const std::string& text) override { Touch(), shown.status = text; }
  void ProcessMessages() override {
    Touch();
    ++pumps;
    if (onPump) onPump();
    if (pumps == closeAtPump) CloseAs(true);
  }
  void ShowMessage(const Message& m) override {
    boxes.push_back(m);
    closedAtBox.push_back(closed_);
  }
  bool IsClosed() const override { return closed_; }
  void SetCaption(const std::string& text) override { caption = text; }
  void SetDeviceName(const std::string& text) override { Touch(), shown.device = text; }
  void Show() override { visible = true; }
  void Close() override { CloseAs(false); }
  void EndProgram(int status) override { ended = status; }
  bool AnotherInstanceRunning() override { return otherInstance; }
  std::string ProgramName() const override { return "quorvex-updater"; }

 private:
  void Touch() {
    if (closed_) ++callsAfterClose;
  }
  void CloseAs(bool byOperator) {
    if (closed_) return;
    closed_ = true;
    visible = false;
    if (form != nullptr) form->WindowClosed(byOperator);
  }

  bool closed_ = false;
};

}  // namespace qvx::test
