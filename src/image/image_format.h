#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

// The container and header rules, shared by the loader and the packing tool so that a tool-made
// container is accepted exactly when the program would accept it.
namespace qvx {

inline constexpr std::size_t kGroupSize = 4;  // encoded byte, then three noise bytes
inline constexpr std::uint8_t kInitialRunningKey = 183;
inline constexpr std::size_t kHeaderSize = 8;
inline constexpr std::size_t kVersionOffset = 3;

// Maps one 32-bit draw x, read as u = x / 2^32 in [0, 1), to floor(u * 255) + 1. Integer
// arithmetic keeps it exact: the result is 1 to 255 even for the largest draw.
constexpr std::uint8_t NoiseByte(std::uint32_t draw) {
  return static_cast<std::uint8_t>(((static_cast<std::uint64_t>(draw) * 255) >> 32) + 1);
}

// The header rule an image breaks, or nothing when it keeps them all: "FW" in bytes 0 and 1
// (case significant) and 0 in byte 4; bytes 2, 3 and 5 to 7 are free.
constexpr std::optional<std::string_view> BrokenHeaderRule(std::span<const std::uint8_t> image) {
  if (image.size() < kHeaderSize) return "the image is shorter than its header";
  if (image[0] != 'F' || image[1] != 'W') return "the image does not start with \"FW\"";
  if (image[4] != 0) return "byte 4 of the image is not 0";
  return std::nullopt;
}

}  // namespace qvx
