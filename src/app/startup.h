#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/firmware_image.h"

namespace qvx {

// What a window takes from its command line, the same on every platform: `--image FILE` puts a
// firmware file in place of the image the program carries; `--help` and `--version` answer and
// end. The toolkit's own options pass through to it; anything else is refused.
struct Startup {
  ResourceLoader image;
  bool demo = false;              // `--demo`: a virtual board in place of the driver
  std::optional<int> exitStatus;  // end at once with this status, after saying `message`
  std::string message;  // in a box, or on standard output when the status is 0, else standard error
};

// An option the window's toolkit reads itself, spelled with one dash (the toolkit takes two as
// well). A name ending in '=' carries its value joined to it.
struct ToolkitOption {
  std::string_view name;
  bool takesValue;  // the next argument is its value
};

inline constexpr int kBadStartup = 2;  // a wrong argument, refused before any board is touched

// Where the answers and refusals are read. A terminal takes the usual columns. A box (on
// Windows, where a window has no console of its own to answer on) gets a few short lines that
// its own line breaking leaves whole, and `/?`, Windows' way to ask, is taken for --help.
enum class AnswersIn { Terminal, Box };

// The arguments after the program's name, in UTF-8.
Startup ParseStartup(const std::vector<std::string>& arguments, ResourceLoader embedded,
                     std::span<const ToolkitOption> toolkit = {},
                     AnswersIn answers = AnswersIn::Terminal);

}  // namespace qvx
