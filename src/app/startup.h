#pragma once

#include <optional>
#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace qvx {

// What a window takes from its command line, the same on every platform: `--image FILE` puts a
// firmware file in place of the image the program carries. Anything else is the toolkit's.
struct Startup {
  ResourceLoader image;
  std::optional<int> exitStatus;  // end at once with this status, after saying `message`
  std::string message;            // one line, for standard error
};

inline constexpr int kBadStartup = 2;  // a wrong --image, refused before any board is touched

// The arguments after the program's name, in UTF-8.
Startup ParseStartup(const std::vector<std::string>& arguments, ResourceLoader embedded);

}  // namespace qvx
