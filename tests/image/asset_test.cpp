#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t Le(const std::vector<std::uint8_t>& bytes, std::size_t offset, int size) {
  std::uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes.at(offset + i);
  return value;
}

// Fields of a BITMAPINFOHEADER at `at`: size, width, height, planes, bits, compression.
void ExpectInfoHeader(const std::vector<std::uint8_t>& file, std::size_t at, std::uint32_t width,
                      std::uint32_t height, std::uint32_t bits) {
  EXPECT_EQ(Le(file, at, 4), 40u);
  EXPECT_EQ(Le(file, at + 4, 4), width);
  EXPECT_EQ(Le(file, at + 8, 4), height);  // positive: rows bottom-up
  EXPECT_EQ(Le(file, at + 12, 2), 1u);
  EXPECT_EQ(Le(file, at + 14, 2), bits);
  EXPECT_EQ(Le(file, at + 16, 4), 0u);  // BI_RGB, uncompressed
}

TEST(AssetTest, LogoIsA160By120TrueColourBitmap) {
  const auto bmp = FileBytes(QVX_RESOURCES_DIR "/logo.bmp");
  ASSERT_EQ(bmp.size(), 57654u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(Le(bmp, 2, 4), 57654u);
  EXPECT_EQ(Le(bmp, 10, 4), 54u);
  ExpectInfoHeader(bmp, 14, 160, 120, 24);
  EXPECT_EQ(Le(bmp, 38, 4), 2835u);
  EXPECT_EQ(Le(bmp, 42, 4), 2835u);
}

TEST(AssetTest, IconHoldsTwo16ColourImagesWithMasks) {
  const auto ico = FileBytes(QVX_RESOURCES_DIR "/quorvex.ico");
  ASSERT_EQ(ico.size(), 6u + 2 * 16 + 744 + 296);
  EXPECT_EQ(Le(ico, 0, 2), 0u);
  EXPECT_EQ(Le(ico, 2, 2), 1u);  // icon, not cursor
  EXPECT_EQ(Le(ico, 4, 2), 2u);

  struct Image {
    std::uint32_t size, bytes, offset;
  };
  for (const Image& image : {Image{32, 744, 38}, Image{16, 296, 38 + 744}}) {
    SCOPED_TRACE(image.size);
    const std::size_t entry = image.size == 32 ? 6 : 22;
    EXPECT_EQ(ico[entry], image.size);
    EXPECT_EQ(ico[entry + 1], image.size);
    EXPECT_EQ(ico[entry + 2], 16);  // colours
    EXPECT_EQ(Le(ico, entry + 4, 2), 1u);
    EXPECT_EQ(Le(ico, entry + 6, 2), 4u);
    EXPECT_EQ(Le(ico, entry + 8, 4), image.bytes);
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
       {"1 ICON ", "FILEVERSION 1,2,0,3", "PRODUCTVERSION 1,2,0,3", "FILEFLAGS 0x0L",
        "FILEOS VOS__WINDOWS32", "FILETYPE VFT_APP", "BLOCK \"040904B0\"",
        "VALUE \"FileVersion\", \"1.02.0003\\0\"", "VALUE \"ProductVersion\", \"1.02.0003\\0\"",
        "VALUE \"Translation\", 0x409, 1200"}) {
    EXPECT_NE(text.str().find(line), std::string::npos) << line;
  }
}

}  // namespace
