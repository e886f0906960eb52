#include <gtest/gtest.h>

#include <QFile>
#include <cstdint>
#include <string>
#include <vector>

#include "test_image.h"
#include "ui/resource_loader.h"

namespace qvx {
namespace {

using test::FileBytes;

TEST(EmbeddedResourceTest, FirmwareIsServedByteForByte) {
  const auto expected = FileBytes(QVX_RESOURCES_DIR "/firmware.bin");
  ASSERT_EQ(expected.size(), kContainerSize);
  EXPECT_EQ(LoadEmbeddedResource("JPG", kImageResourceId), expected);
}

TEST(EmbeddedResourceTest, UnknownOrMalformedRequestsGetNothing) {
  struct Case {
    const char* type;
    int id;
  };
  for (const Case& c : {Case{"JPG", 101}, Case{"JPG", 0}, Case{"JPG", -100}, Case{"jpg", 100},
                        Case{"PNG", 100}, Case{"", 100}, Case{"JPG/..", 100}, Case{"JPG/", 100}}) {
    EXPECT_FALSE(LoadEmbeddedResource(c.type, c.id)) << c.type << " " << c.id;
  }
}

TEST(EmbeddedResourceTest, PicturesAreEmbeddedUnchanged) {
  for (const char* name : {"logo.bmp", "quorvex.ico"}) {
    QFile embedded(QString(":/") + name);
    ASSERT_TRUE(embedded.open(QIODevice::ReadOnly)) << name;
    const QByteArray bytes = embedded.readAll();
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.end()),
              FileBytes(std::string(QVX_RESOURCES_DIR "/") + name))
        << name;
  }
  EXPECT_TRUE(QFile::exists(kLogoResource));
  EXPECT_TRUE(QFile::exists(kIconResource));
}

TEST(EmbeddedResourceTest, DemonstrationFirmwareLoadsAsVersion16WithTaggedBlocks) {
  std::int16_t opResult = 0;
  FirmwareImage image(LoadEmbeddedResource, opResult);
  image.CreateArrays();
  image.ImageResourceId = kImageResourceId;
  image.LoadFirmwareImage();
  ASSERT_EQ(opResult, 0);
  EXPECT_EQ(image.ImageMajor, 1);
  EXPECT_EQ(image.ImageMinor, 6);

  constexpr std::size_t kBlockBytes = 2048;
  for (std::size_t block = 0; block < 32; ++block) {
    const auto* start = image.ImageBuffer.data() + 8 + block * kBlockBytes;
    const std::string tag(reinterpret_cast<const char*>(start), 17);
    EXPECT_EQ(tag, "QVX demo block " + std::string(block < 10 ? "0" : "") + std::to_string(block));
    // After the tag each 2-byte unit holds its own device address.
    const std::size_t address = block * kBlockBytes / 2 + 100;
    const auto* unit = image.ImageBuffer.data() + 8 + 2 * address;
    EXPECT_EQ(unit[0] * 256 + unit[1], address);
  }
}

}  // namespace
}  // namespace qvx
