#include <chrono>
#include <random>
#include <stdexcept>
#include <string>

#include "image/firmware_image.h"
#include "image/image_format.h"

namespace qvx {
namespace {

std::uint8_t KeyByte(const std::uint8_t* group) {
  return static_cast<std::uint8_t>(group[1] + group[2] + group[3]);
}

std::mt19937 ClockSeededGenerator() {
  const auto ticks = static_cast<std::uint64_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count());
  std::seed_seq seed{static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
  return std::mt19937(seed);
}

}  // namespace

void FirmwareImage::DescrambleImage() {
  // Checked before anything changes, so a short container never leaves a half-decoded image.
  if (ResourceData.size() < kContainerSize) {
    throw std::out_of_range("firmware container is shorter than " + std::to_string(kContainerSize) +
                            " bytes");
  }
  // Every byte is overwritten below, so resizing is enough; the vector object itself stays, as
  // other parts of the program hold references to it.
  ImageBuffer.resize(kImageSize);
  const std::uint8_t* group = ResourceData.data();
  std::uint8_t* out = ImageBuffer.data();
  // The running key only ever matters modulo 256, so it is kept in 8 bits.
  std::uint8_t runningKey = kInitialRunningKey;
  for (std::size_t i = 0; i < kImageSize; ++i, group += kGroupSize) {
    const std::uint8_t key = KeyByte(group);
    out[i] = group[0] ^ runningKey ^ key;
    runningKey = static_cast<std::uint8_t>(runningKey + key);
  }
}

void FirmwareImage::ScrambleImage() {
  if (ImageBuffer.size() < kImageSize) {
    throw std::out_of_range("firmware image is shorter than " + std::to_string(kImageSize) +
                            " bytes");
  }
  std::mt19937 generator = ClockSeededGenerator();
  ResourceData.resize(kContainerSize);
  std::uint8_t* group = ResourceData.data();
  std::uint8_t runningKey = kInitialRunningKey;
  for (std::size_t i = 0; i < kImageSize; ++i, group += kGroupSize) {
    group[1] = NoiseByte(generator());
    group[2] = NoiseByte(generator());
    group[3] = NoiseByte(generator());
    const std::uint8_t key = KeyByte(group);
    group[0] = ImageBuffer[i] ^ runningKey ^ key;
    runningKey = static_cast<std::uint8_t>(runningKey + key);
  }
}

}  // namespace qvx
