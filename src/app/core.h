#pragma once

#include <string>

#include "update/update_engine.h"

namespace qvx {

inline constexpr char kApplicationTitle[] = "Quorvex Updater";

// "1.6": a board's or an image's version, major and minor in decimal ("1.10", never "1.:").
std::string VersionText(std::uint8_t major, std::uint8_t minor);

// The one object a front end holds per board and every test builds around a driver: the image
// arrays, the link and the engine (see UpdateEngine), wired once, with the window's words for
// what they found.
class Core : public UpdateEngine {
 public:
  using UpdateEngine::UpdateEngine;

  // "Quorvex - Hardware v2.1", from the board's last "SI".
  std::string HardwareText() const;
  // "Firmware: v1.1  -  Upgrading to: v1.6": the board's firmware beside the loaded image's.
  std::string FirmwareStatusText() const;
};

}  // namespace qvx
