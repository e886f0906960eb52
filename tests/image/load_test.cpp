#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "test_image.h"

namespace qvx::test {
namespace {

class LoadTest : public ::testing::Test {
 protected:
  std::optional<std::vector<std::uint8_t>> resource = Scrambled(PlainImage());
  std::string requested;
  std::int16_t opResult = 5;
  FirmwareImage image{[this](std::string_view type, int id) {
                        requested = std::string(type) + "/" + std::to_string(id);
                        return resource;
                      },
                      opResult};

  void SetUp() override {
    image.CreateArrays();
    image.ImageResourceId = kImageResourceId;
  }
};

// Byte 3 holds any version; bytes 2 and 5 to 7 are ignored.
TEST_F(LoadTest, HeaderRules) {
  struct Case {
    std::uint8_t b0, b1, b3, b4, ignored;
    std::int16_t result;
    std::uint8_t major = 0, minor = 0;
  };
  const Case cases[] = {
      {'F', 'W', 0x16, 0, 0x00, 0, 1, 6}, {'F', 'W', 0x1A, 0, 0x5A, 0, 1, 10},
      {'F', 'W', 0x00, 0, 0xFF, 0, 0, 0}, {'F', 'W', 0xFF, 0, 0x00, 0, 15, 15},
      {'f', 'W', 0x16, 0, 0, -1},         {'F', 'w', 0x16, 0, 0, -1},
      {'W', 'F', 0x16, 0, 0, -1},         {'F', 0, 0x16, 0, 0, -1},
      {'F', 'W', 0x16, 1, 0, -1},         {'F', 'W', 0x16, 0x80, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    auto plain = PlainImage();
    plain[0] = c.b0;
    plain[1] = c.b1;
    plain[3] = c.b3;
    plain[4] = c.b4;
    plain[2] = plain[5] = plain[6] = plain[7] = c.ignored;
    resource = Scrambled(plain);
    opResult = 5;
    image.LoadFirmwareImage();
    EXPECT_EQ(requested, "JPG/100");
    EXPECT_EQ(opResult, c.result);
    if (c.result == 0) {
      EXPECT_EQ(image.ImageBuffer, plain);
      EXPECT_EQ(std::make_pair(image.ImageMajor, image.ImageMinor),
                std::make_pair(c.major, c.minor));
    }
  }
}

TEST_F(LoadTest, RefusedResourceLeavesThePreviousImage) {
  image.LoadFirmwareImage();
  ASSERT_EQ(opResult, 0);
  const auto loaded = image.ImageBuffer;
  const std::optional<std::vector<std::uint8_t>> refused[] = {
      std::nullopt, std::vector<std::uint8_t>{}, std::vector<std::uint8_t>(kContainerSize - 1, 0)};
  for (const auto& r : refused) {
    resource = r;
    EXPECT_NO_THROW(image.LoadFirmwareImage());
    EXPECT_EQ(opResult, -1);
    EXPECT_EQ(image.ImageBuffer, loaded);
  }
}

// A long container loads from its first bytes; a second load decodes afresh over read-back data.
TEST_F(LoadTest, LongContainerAndSecondLoadGiveTheSameImage) {
  resource->resize(kContainerSize + 4097, 0xEE);
  image.LoadFirmwareImage();
  EXPECT_EQ(opResult, 0);
  EXPECT_EQ(image.ImageBuffer, PlainImage());
  std::fill(image.ImageBuffer.begin() + 8, image.ImageBuffer.end(), 0xFF);
  image.LoadFirmwareImage();
  EXPECT_EQ(image.ImageBuffer, PlainImage());
}

}  // namespace
}  // namespace qvx::test
