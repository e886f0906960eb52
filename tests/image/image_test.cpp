#include <gtest/gtest.h>

#include <stdexcept>

#include "image/firmware_image.h"
#include "image/image_format.h"
#include "support/fixtures.h"

namespace qvx::test {
namespace {

TEST(Scramble, RoundTripsWithFreshNoiseEveryTime) {
  FirmwareImage a, b;
  a.ImageBuffer = b.ImageBuffer = TestImage();
  a.ScrambleImage();
  b.ScrambleImage();
  EXPECT_NE(a.ResourceData, b.ResourceData);
  for (FirmwareImage* image : {&a, &b}) {
    image->ImageBuffer.assign(10, 0);
    image->DescrambleImage();
    EXPECT_EQ(image->ImageBuffer, TestImage());
  }
  // Every draw maps to a noise byte of 1 to 255, the largest draw included.
  EXPECT_EQ(NoiseByte(0), 1);
  EXPECT_EQ(NoiseByte(0xFFFFFFFFu), 255);
}

TEST(Descramble, KeysEachByteByItsNoiseAndTheRunningKey) {
  FirmwareImage image;
  image.ResourceData.assign(kContainerSize, 0);
  image.ResourceData[0] = 0x42;
  image.DescrambleImage();
  // All-zero noise: every byte is its encoded byte XOR the initial running key 183.
  EXPECT_EQ(image.ImageBuffer[0], 0x42 ^ 183);
  EXPECT_EQ(image.ImageBuffer[1], 183);
  const Bytes before = image.ImageBuffer;

  // Noise 1 + 2 + 255 in group 1: its key byte is 2 (the sum wraps), and so the running key
  // from group 2 on is 185.
  image.ResourceData[4 * 1 + 1] = 1;
  image.ResourceData[4 * 1 + 2] = 2;
  image.ResourceData[4 * 1 + 3] = 255;
  image.ResourceData.push_back(0x99);  // a longer container decodes from its first bytes
  image.DescrambleImage();
  EXPECT_EQ(image.ImageBuffer[0], before[0]);
  EXPECT_EQ(image.ImageBuffer[1], 183 ^ 2);
  EXPECT_EQ(image.ImageBuffer[2], 185);
  EXPECT_EQ(image.ImageBuffer[kImageSize - 1], 185);

  // A short container is refused before anything changes.
  image.ResourceData.resize(kContainerSize - 1);
  const Bytes decoded = image.ImageBuffer;
  EXPECT_THROW(image.DescrambleImage(), std::out_of_range);
  EXPECT_EQ(image.ImageBuffer, decoded);
}

TEST(LoadFirmwareImage, AcceptsExactlyTheValidHeaders) {
  struct Case {
    std::size_t offset;
    std::uint8_t value;
    std::int16_t result;
  };
  const Case cases[] = {
      {0, 'F', op::kSuccess},  {2, 0xFF, op::kSuccess}, {5, 0xFF, op::kSuccess},
      {7, 0x01, op::kSuccess}, {3, 0x00, op::kSuccess}, {3, 0xFF, op::kSuccess},
      {0, 'f', op::kFailure},  {1, 'w', op::kFailure},  {0, 'W', op::kFailure},
      {1, 0x00, op::kFailure}, {4, 0x01, op::kFailure}, {4, 0x80, op::kFailure},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Bytes plain = TestImage();
    plain[c.offset] = c.value;
    FirmwareImage image(LoaderOf(ContainerOf(plain)));
    image.ImageResourceId = kImageResourceId;
    image.LoadFirmwareImage();
    EXPECT_EQ(image.OpResult, c.result);
    if (c.result == op::kSuccess) {
      EXPECT_EQ(image.ImageBuffer, plain);
    }
  }
  Bytes plain = TestImage();
  plain[3] = 0x1A;
  FirmwareImage image(LoaderOf(ContainerOf(plain)));
  image.LoadFirmwareImage();
  EXPECT_EQ(image.ImageMajor * 16 + image.ImageMinor, 0x1A);
}

}  // namespace
}  // namespace qvx::test
