#pragma once

#include <cstdint>
#include <string>

namespace qvx {

// A board's or an image's version: one byte, the major version in its high four bits.
struct Version {
  std::uint8_t major = 0;
  std::uint8_t minor = 0;

  static constexpr Version Of(std::uint8_t byte) {
    return {static_cast<std::uint8_t>(byte >> 4), static_cast<std::uint8_t>(byte & 0x0F)};
  }
  constexpr bool operator==(const Version&) const = default;
  constexpr bool operator<(const Version& other) const {
    return major < other.major || (major == other.major && minor < other.minor);
  }
  // "1.6", "1.10": major and minor in decimal.
  std::string Text() const { return std::to_string(major) + "." + std::to_string(minor); }
};

}  // namespace qvx
