#pragma once

#include <string>
#include <string_view>

// Text that comes from outside (serial numbers from the driver or the command line) is bytes:
// any of them may be a control character or no part of valid UTF-8.
namespace qvx::cli {

// As a terminal or a log may show it: every byte of a control character or of no valid UTF-8
// sequence, and the backslash, as \xNN, the way bash's $'...' reads it back.
std::string Printable(std::string_view text);

bool IsUtf8(std::string_view text);

// "ff51" for "\xffQ".
std::string Hex(std::string_view bytes);

// "QVX00002 at 1-1.2", "a board without serial number at 1-1.3": a board as messages name it.
std::string BoardName(const std::string& serialNumber, const std::string& port);

}  // namespace qvx::cli
