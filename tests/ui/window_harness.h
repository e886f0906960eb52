#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QObject>

#include "board/virtual_board.h"
#include "image/firmware_image.h"
#include "ui/fm_start.h"
#include "ui/message_box.h"

namespace qvx::ui::test {

// What the operator sees of the window: the four buttons, the bar, the two labels.
struct WindowState {
  std::array<bool, 4> buttons{};
  bool bar = false;
  std::string status;
  std::string device;
  bool operator==(const WindowState&) const = default;
};
void PrintTo(const WindowState& state, std::ostream* out);

WindowState StateOf(const fmStart& form);
inline WindowState StartState() {
  return {{true, false, false, false}, false, "", ""};
}
inline WindowState DeviceFoundState(const std::string& device, const std::string& status) {
  return {{false, true, true, false}, false, status, device};
}
inline WindowState FlashingState(const std::string& device) {
  return {{false, false, false, false}, true, "Flashing device...", device};
}
inline WindowState CompleteState(const std::string& device) {
  return {{false, false, false, true}, false, "Flash Complete!", device};
}

// A scrambled container around a valid image carrying firmware `version`.
std::vector<std::uint8_t> MakeContainer(std::uint8_t version);
ResourceLoader LoaderOf(std::optional<std::vector<std::uint8_t>> container);

// One box as the operator would have met it, with the window as it was at that moment.
struct RecordedBox {
  MessageBoxRequest request;
  bool windowClosed = false;
  bool windowVisible = false;
  std::string device;
};

// Records every box instead of showing it, while it lives.
class BoxRecorder {
 public:
  explicit BoxRecorder(const fmStart* form);
  ~BoxRecorder();
  BoxRecorder(const BoxRecorder&) = delete;
  BoxRecorder& operator=(const BoxRecorder&) = delete;

  std::vector<RecordedBox> boxes;

 private:
  const fmStart* form_;
  MessageBoxHandler previous_;
};

// A window around the virtual board and a valid image (firmware 1.6), counting the times it
// was shown.
class Harness {
 public:
  explicit Harness(ResourceLoader loader = LoaderOf(MakeContainer(0x16)));

  board::VirtualBoard board;
  std::unique_ptr<fmStart> form;
  BoxRecorder recorder;
  int shows = 0;

  void Load() { form->Form_Load(); }
  void Click(std::int16_t index) { form->Button_Click(index); }

 private:
  std::unique_ptr<QObject> showCounter_;
};

}  // namespace qvx::ui::test
