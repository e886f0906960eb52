#include "ui/window_texts.h"

namespace qvx::ui {

std::string WindowCaption(int major, int minor) {
  return "Quorvex Updater v" + std::to_string(major) + "." + std::to_string(minor);
}

std::string VersionText(std::uint8_t major, std::uint8_t minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

}  // namespace qvx::ui
