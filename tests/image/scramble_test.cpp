#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "image/firmware_image.h"
#include "image/image_format.h"

namespace qvx {
namespace {

std::vector<std::uint8_t> RandomBytes(std::size_t size, unsigned seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

class ScrambleTest : public ::testing::Test {
 protected:
  std::int16_t opResult = 0;
  FirmwareImage image{nullptr, opResult};

  std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& container) {
    image.ResourceData = container;
    image.DescrambleImage();
    return image.ImageBuffer;
  }
};

TEST_F(ScrambleTest, RoundTripRestoresEveryByteAndNoiseDiffersBetweenCalls) {
  for (unsigned seed : {1u, 2u, 3u}) {
    const auto original = RandomBytes(kImageSize, seed);
    image.ImageBuffer = original;
    image.ScrambleImage();
    const auto first = image.ResourceData;
    image.ScrambleImage();
    EXPECT_NE(first, image.ResourceData) << "both containers came from the same noise";
    EXPECT_EQ(Decode(image.ResourceData), original);
    EXPECT_EQ(Decode(first), original);
  }
}

TEST_F(ScrambleTest, NoiseBytesCoverOneTo255) {
  image.ImageBuffer.assign(kImageSize, 0);
  image.ScrambleImage();
  std::vector<bool> seen(256, false);
  for (std::size_t i = 0; i < kContainerSize; ++i) {
    if (i % kGroupSize != 0) seen[image.ResourceData[i]] = true;
  }
  // With ~200,000 draws every allowed value turns up; a missing one means a skewed mapping.
  EXPECT_FALSE(seen[0]);
  EXPECT_EQ(std::count(seen.begin() + 1, seen.end(), true), 255);
  // The ends of the draw range, which random draws hardly reach.
  EXPECT_EQ(NoiseByte(0), 1);
  EXPECT_EQ(NoiseByte(0xFEFEFEFF), 255);
  EXPECT_EQ(NoiseByte(0xFFFFFFFF), 255);
}

TEST_F(ScrambleTest, KnownContainerDecodesToHandComputedBytes) {
  std::vector<std::uint8_t> container(kContainerSize, 0);
  // Group 0: key 200 + 100 + 50 = 94 (mod 256), running key 183. Group 1: key 6, running key 21.
  const std::uint8_t head[] = {0, 200, 100, 50, 0x40, 1, 2, 3};
  std::copy(std::begin(head), std::end(head), container.begin());
  const auto decoded = Decode(container);
  EXPECT_EQ(decoded[0], 183 ^ 94);
  EXPECT_EQ(decoded[1], 0x40 ^ 21 ^ 6);
  EXPECT_EQ(decoded[2], 21 + 6);  // zero noise from here on: the running key alone
}

TEST_F(ScrambleTest, AllZeroNoiseLeavesTheInitialKeyAlone) {
  auto container = RandomBytes(kContainerSize, 7);
  for (std::size_t i = 0; i < kContainerSize; ++i) {
    if (i % kGroupSize != 0) container[i] = 0;
  }
  const auto decoded = Decode(container);
  for (std::size_t i = 0; i < kImageSize; ++i) {
    ASSERT_EQ(decoded[i], container[i * kGroupSize] ^ kInitialRunningKey) << i;
  }
}

TEST_F(ScrambleTest, ChangedNoiseByteChangesThatByteAndEveryLaterOneOnly) {
  const auto container = RandomBytes(kContainerSize, 11);
  const auto reference = Decode(container);
  for (std::size_t group : {std::size_t{0}, std::size_t{1000}, kImageSize - 1}) {
    for (std::size_t noise = 1; noise < kGroupSize; ++noise) {
      auto changed = container;
      changed[group * kGroupSize + noise] ^= 0x01;
      const auto decoded = Decode(changed);
      for (std::size_t i = 0; i < kImageSize; ++i) {
        ASSERT_EQ(decoded[i] != reference[i], i >= group)
            << "group " << group << ", noise " << noise << ", byte " << i;
      }
    }
  }
}

TEST_F(ScrambleTest, ShortInputIsRefusedBeforeAnythingChanges) {
  const auto previous = RandomBytes(kImageSize, 9);
  for (std::size_t size : {std::size_t{0}, std::size_t{4}, kContainerSize - 1}) {
    image.ImageBuffer = previous;
    image.ResourceData.assign(size, 0x11);
    EXPECT_THROW(image.DescrambleImage(), std::out_of_range) << size;
    EXPECT_EQ(image.ImageBuffer, previous);
  }
  const auto container = RandomBytes(kContainerSize, 10);
  image.ResourceData = container;
  image.ImageBuffer.assign(kImageSize - 1, 0);
  EXPECT_THROW(image.ScrambleImage(), std::out_of_range);
  EXPECT_EQ(image.ResourceData, container);
}

}  // namespace
}  // namespace qvx
