#pragma once

#include <cstdint>
#include <string>

namespace qvx {

// The Button control array's indexes.
enum class Button : std::int16_t { FindDevice = 0, FlashDevice = 1, AbortFlash = 2, Ok = 3 };
inline constexpr int kButtonCount = 4;

// One modal box with an OK button. The title is always given: a box with no title of its own
// carries the application title.
struct Message {
  std::string text;
  std::string title;
  bool stopIcon = false;
  bool systemModal = false;  // kept above every other window

  bool operator==(const Message&) const = default;
};

// What the update engine needs of whatever shows its progress, and nothing more.
class UpdateView {
 public:
  virtual ~UpdateView() = default;

  virtual int ProgressValue() const = 0;
  virtual void SetProgressValue(int value) = 0;
  virtual void SetProgressMaximum(int maximum) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  virtual void SetButtonVisible(Button button, bool visible) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  // Lets other events run in the middle of an update.
  virtual void ProcessMessages() = 0;
  // Returns once the operator has pressed OK.
  virtual void ShowMessage(const Message& message) = 0;
  // True once the operator has closed the window (or interrupted the program).
  virtual bool IsClosed() const = 0;
  // Told of every failed attempt a region pass counts against its budget: the flash address
  // the pass was at and how many attempts of the pass have failed so far. For a log.
  virtual void AttemptFailed(std::int32_t /*flashAddress*/, int /*failedAttempts*/) {}
};

}  // namespace qvx
