#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "image/image_format.h"

namespace qvx {
namespace {

std::vector<std::uint8_t> PlainImage() {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  image[0] = 'F';
  image[1] = 'W';
  image[3] = 0x16;
  image[4] = 0;
  return image;
}

std::vector<std::uint8_t> Scrambled(const std::vector<std::uint8_t>& plain) {
  std::int16_t unused = 0;
  FirmwareImage scratch(nullptr, unused);
  scratch.ImageBuffer = plain;
  scratch.ScrambleImage();
  return scratch.ResourceData;
}

class LoadTest : public ::testing::Test {
 protected:
  std::optional<std::vector<std::uint8_t>> resource = Scrambled(PlainImage());
  std::string requestedType;
  int requestedId = 0;
  std::int16_t opResult = 5;
  FirmwareImage image{[this](std::string_view type, int id) {
                        requestedType = type;
                        requestedId = id;
                        return resource;
                      },
                      opResult};

  void SetUp() override {
    image.CreateArrays();
    image.ImageResourceId = kImageResourceId;
  }
};

TEST_F(LoadTest, ValidImageLoadsWithItsVersion) {
  image.LoadFirmwareImage();
  EXPECT_EQ(opResult, 0);
  EXPECT_EQ(requestedType, "JPG");
  EXPECT_EQ(requestedId, 100);
  EXPECT_EQ(image.ImageBuffer, PlainImage());
  EXPECT_EQ(image.ResourceData, *resource);
  EXPECT_EQ(image.ImageMajor, 1);
  EXPECT_EQ(image.ImageMinor, 6);
}

TEST_F(LoadTest, HeaderRules) {
  struct Case {
    const char* name;
    std::uint8_t b0, b1, b3, b4;
    std::int16_t result;
    std::uint8_t major = 0, minor = 0;
  };
  const Case cases[] = {
      {"version 1.10", 'F', 'W', 0x1A, 0, 0, 1, 10},
      {"version 0.0", 'F', 'W', 0x00, 0, 0, 0, 0},
      {"version 15.15", 'F', 'W', 0xFF, 0, 0, 15, 15},
      {"lower-case f", 'f', 'W', 0x16, 0, -1},
      {"lower-case w", 'F', 'w', 0x16, 0, -1},
      {"swapped", 'W', 'F', 0x16, 0, -1},
      {"nul second", 'F', 0, 0x16, 0, -1},
      {"byte 4 is 1", 'F', 'W', 0x16, 1, -1},
      {"byte 4 is 0x80", 'F', 'W', 0x16, 0x80, -1},
  };
  for (const Case& c : cases) {
    auto plain = PlainImage();
    plain[0] = c.b0;
    plain[1] = c.b1;
    plain[3] = c.b3;
    plain[4] = c.b4;
    resource = Scrambled(plain);
    opResult = 5;
    image.LoadFirmwareImage();
    EXPECT_EQ(opResult, c.result) << c.name;
    if (c.result == 0) {
      EXPECT_EQ(image.ImageMajor, c.major) << c.name;
      EXPECT_EQ(image.ImageMinor, c.minor) << c.name;
    }
  }
}

TEST_F(LoadTest, BytesTwoAndFiveToSevenAreIgnored) {
  for (std::uint8_t value : {0x00, 0x5A, 0xFF}) {
    auto plain = PlainImage();
    plain[2] = plain[5] = plain[6] = plain[7] = value;
    resource = Scrambled(plain);
    image.LoadFirmwareImage();
    EXPECT_EQ(opResult, 0) << int{value};
  }
}

TEST_F(LoadTest, RefusedResourceLeavesThePreviousImage) {
  image.LoadFirmwareImage();
  ASSERT_EQ(opResult, 0);
  const auto loaded = image.ImageBuffer;

  const std::optional<std::vector<std::uint8_t>> refused[] = {
      std::nullopt,
      std::vector<std::uint8_t>{},
      std::vector<std::uint8_t>(kContainerSize - 1, 0),
  };
  for (const auto& r : refused) {
    resource = r;
    EXPECT_NO_THROW(image.LoadFirmwareImage());
    EXPECT_EQ(opResult, -1);
    EXPECT_EQ(image.ImageBuffer, loaded);
  }
}

TEST_F(LoadTest, LongContainerLoadsFromItsFirstBytes) {
  resource->resize(kContainerSize + 100, 0xEE);
  image.LoadFirmwareImage();
  EXPECT_EQ(opResult, 0);
  EXPECT_EQ(image.ImageBuffer, PlainImage());
}

TEST_F(LoadTest, SecondLoadDecodesAfreshOverReadBackData) {
  image.LoadFirmwareImage();
  const auto first = image.ImageBuffer;
  std::fill(image.ImageBuffer.begin() + 8, image.ImageBuffer.end(), 0xFF);
  image.LoadFirmwareImage();
  EXPECT_EQ(opResult, 0);
  EXPECT_EQ(image.ImageBuffer, first);
}

}  // namespace
}  // namespace qvx
