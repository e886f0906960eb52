#include "app/core.h"

namespace qvx {

std::string VersionText(std::uint8_t major, std::uint8_t minor) {
  return std::to_string(major) + "." + std::to_string(minor);
}

std::string Core::HardwareText() const {
  return "Quorvex - Hardware v" + VersionText(Link.HwMajor, Link.HwMinor);
}

std::string Core::FirmwareStatusText() const {
  return "Firmware: v" + VersionText(Link.FwMajor, Link.FwMinor) + "  -  Upgrading to: v" +
         VersionText(ImageMajor, ImageMinor);
}

}  // namespace qvx
