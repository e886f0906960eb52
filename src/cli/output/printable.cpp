#include "cli/output/printable.h"

#include <cstdio>

namespace qvx::cli {

namespace {

// The length of the valid UTF-8 sequence at `at`, or 0 when none starts there.
std::size_t SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (lead < 0xC2 || lead > 0xF4 || at + length > text.size()) return 0;
  // The second byte's range rules out overlong forms, surrogates and code points past U+10FFFF.
  const unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  const unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  return length;
}

// C0 and C1 controls and DEL, which a terminal may take as commands.
bool IsControl(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  return lead < 0x20 || lead == 0x7F ||
         (lead == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0);
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string shown;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = SequenceAt(text, at);
    if (length != 0 && !IsControl(text, at) && text[at] != '\\') {
      shown.append(text.substr(at, length));
      at += length;
      continue;
    }
    for (length = length == 0 ? 1 : length; length > 0; --length, ++at) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[at]));
      shown += escaped;
    }
  }
  return shown;
}

bool IsUtf8(std::string_view text) {
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    length = SequenceAt(text, at);
    if (length == 0) return false;
  }
  return true;
}

std::string Hex(std::string_view bytes) {
  std::string hex;
  for (const char c : bytes) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
    hex += pair;
  }
  return hex;
}

std::string BoardName(const std::string& serialNumber, const std::string& port) {
  std::string name =
      serialNumber.empty() ? "a board without serial number" : Printable(serialNumber);
  return port.empty() ? name : name + " at " + Printable(port);
}

}  // namespace qvx::cli
