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

TEST(LoadFirmwareImage, AcceptsExactlyTheValidHeadersAndSaysWhatIsWrong) {
  const char* const kNotFW = "the image does not start with \"FW\"";
  const char* const kByte4 = "byte 4 of the image is not 0";
  struct Case {
    std::size_t offset;
    std::uint8_t value;
    const char* problem;  // null: accepted
  };
  const Case cases[] = {
      {0, 'F', nullptr},  {2, 0xFF, nullptr}, {5, 0xFF, nullptr}, {7, 0x01, nullptr},
      {3, 0x00, nullptr}, {3, 0xFF, nullptr}, {0, 'f', kNotFW},   {1, 'w', kNotFW},
      {0, 'W', kNotFW},   {1, 0x00, kNotFW},  {4, 0x01, kByte4},  {4, 0x80, kByte4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    Bytes plain = TestImage();
    plain[c.offset] = c.value;
    FirmwareImage image(LoaderOf(ContainerOf(plain)));
    image.ImageResourceId = kImageResourceId;
    const auto problem = image.LoadFirmwareImage();
    EXPECT_EQ(problem ? problem->Text() : "", c.problem ? c.problem : "");
    if (!c.problem) {
      EXPECT_EQ(image.ImageBuffer, plain);
    }
  }
  Bytes plain = TestImage();
  plain[3] = 0x1A;
  FirmwareImage image(LoaderOf(ContainerOf(plain)));
  EXPECT_FALSE(image.LoadFirmwareImage());
  EXPECT_EQ(image.ImageMajor * 16 + image.ImageMinor, 0x1A);
  // No resource, or a short one: refused, and the decoded image stays.
  for (auto missing : {LoaderOf(std::nullopt), LoaderOf(Bytes(kContainerSize - 1))}) {
    FirmwareImage none(missing);
    none.ImageBuffer = plain;
    EXPECT_TRUE(none.LoadFirmwareImage());
    EXPECT_EQ(none.ImageBuffer, plain);
  }
}

}  // namespace
}  // namespace qvx::test
