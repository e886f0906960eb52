#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_image.h"

namespace {

using qvx::test::FileBytes;

std::uint32_t Le(const std::vector<std::uint8_t>& bytes, std::size_t offset, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(offset + i);
  return value;
}

// A BITMAPINFOHEADER at `at`: width, height (positive: rows bottom-up), bits, uncompressed.
void ExpectInfoHeader(const std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t width,
                      std::uint32_t height, std::uint32_t bits) {
  EXPECT_EQ((std::vector{Le(file, at + 4, 4), Le(file, at + 8, 4), Le(file, at + 14, 2),
                         Le(file, at + 16, 4)}),
            (std::vector{width, height, bits, 0u}));
}

TEST(AssetTest, LogoIsA160By120TrueColourBitmap) {
  const auto bmp = FileBytes(QVX_RESOURCES_DIR "/logo.bmp");
  ASSERT_EQ(bmp.size(), 57654u);
  EXPECT_EQ(Le(bmp, 0, 2), 'B' | 'M' << 8);
  EXPECT_EQ(Le(bmp, 10, 4), 54u);  // the pixels follow the headers
  ExpectInfoHeader(bmp, 14, 160, 120, 24);
}

TEST(AssetTest, IconHoldsTwo16ColourImagesWithMasks) {
  const auto ico = FileBytes(QVX_RESOURCES_DIR "/quorvex.ico");
  ASSERT_EQ(ico.size(), 6u + 2 * 16 + 744 + 296);
  EXPECT_EQ(Le(ico, 2, 4), 0x00020001u);  // an icon, not a cursor, of two images

  struct Image {
    std::uint32_t size, bytes, offset;
  };
  for (const Image& image : {Image{32, 744, 38}, Image{16, 296, 38 + 744}}) {
    SCOPED_TRACE(image.size);
    const std::size_t entry = image.size == 32 ? 6 : 22;
    EXPECT_EQ(Le(ico, entry, 3), image.size * 0x101 | 16 << 16);  // width, height, 16 colours
    EXPECT_EQ(Le(ico, entry + 12, 4), image.offset);
    ExpectInfoHeader(ico, image.offset, image.size, 2 * image.size, 4);

    // The AND mask closes the image: each row padded to 32 bits, bottom row first. The round
    // mark leaves the corners transparent and the centre opaque.
    const std::size_t maskRow = 4;
    const std::size_t mask = image.offset + image.bytes - image.size * maskRow;
    const std::size_t centre = image.size / 2;
    EXPECT_EQ(ico[mask] & 0x80, 0x80) << "bottom-left corner";
    EXPECT_EQ(ico[mask + centre * maskRow + centre / 8] & (0x80 >> centre % 8), 0) << "centre";
  }
}

TEST(AssetTest, VersionBlockCarriesTheProjectVersion) {
  std::ifstream in(QVX_VERSION_RC);
  std::stringstream text;
  text << in.rdbuf();
  for (const char* line :
       {"1 ICON ", "FILEVERSION 1,2,0,3", "PRODUCTVERSION 1,2,0,3",
        "VALUE \"FileVersion\", \"1.02.0003\\0\"", "VALUE \"ProductVersion\", \"1.02.0003\\0\""}) {
    EXPECT_NE(text.str().find(line), std::string::npos) << line;
  }
}

}  // namespace
