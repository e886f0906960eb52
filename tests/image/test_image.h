#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace qvx::test {

// A valid decoded image carrying firmware `version`, its content a pattern that differs from
// byte to byte and from block to block.
inline std::vector<std::uint8_t> PlainImage(std::uint8_t version = 0x16) {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < kImageSize; ++i)
    image[i] = static_cast<std::uint8_t>(i * 7 + i / 2048);
  image[0] = 'F';
  image[1] = 'W';
  image[3] = version;
  image[4] = 0;
  return image;
}

inline std::vector<std::uint8_t> Scrambled(const std::vector<std::uint8_t>& plain) {
  std::int16_t unused = 0;
  FirmwareImage scratch(nullptr, unused);
  scratch.ImageBuffer = plain;
  scratch.ScrambleImage();
  return scratch.ResourceData;
}

inline std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace qvx::test
