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

std::string VersionText(std::uint8_t major, std::uint8_t minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

}  // namespace qvx
