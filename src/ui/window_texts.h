#pragma once

#include <cstdint>
#include <string>

namespace qvx::ui {

// "Quorvex Updater v1.2": the program's major and minor version in decimal.
std::string WindowCaption(int major, int minor);

// A board or image version as "major.minor", both in decimal ("1.10", not "1.:").
std::string VersionText(std::uint8_t major, std::uint8_t minor);

}  // namespace qvx::ui
