#include "app/texts.h"

#include <algorithm>
#include <stdexcept>

namespace qvx {

Message StopBox(std::string_view text) {
  return {text, text::kApplicationTitle, /*stopIcon=*/true, /*systemModal=*/true};
}

Message StageFailureBox(int step, bool verify) {
  const auto* texts = std::ranges::find(text::kStageFailures, step, &text::StageFailures::step);
  if (texts == text::kStageFailures.end()) throw std::out_of_range("no stage of that step");
  return verify ? Message{texts->verify, text::kVerifyFailureTitle}
                : Message{texts->communication, text::kUpdateFailureTitle};
}

Message BootloaderFailureBox() {
  return {text::kBootloaderFailure, text::kBootloaderFailureTitle};
}

std::string HardwareText(Version hardware) {
  return std::string(text::kHardwarePrefix) + hardware.Text();
}

std::string FirmwareStatusText(Version board, Version image) {
  return std::string(text::kFirmwarePrefix) + board.Text() + std::string(text::kUpgradingTo) +
         image.Text();
}

namespace text {

std::string OtherVersionAfter(Version board, Version image) {
  return "the board reports " + board.Text() + " after the update; the image is " + image.Text();
}

std::string WrongHardware(Version board, Version wanted) {
  return "hardware " + board.Text() + ", but this update is for hardware " + wanted.Text();
}

}  // namespace text

}  // namespace qvx
