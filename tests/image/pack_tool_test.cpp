#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "support/fixtures.h"

namespace qvx::test {
namespace {

namespace fs = std::filesystem;

Bytes Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

int Pack(const std::string& args) {
  return std::system((std::string(QVX_PACK) + " " + args + " 2>/dev/null >/dev/null").c_str());
}

TEST(PackTool, PacksWhatTheProgramAcceptsAndNothingElseAndNeverItsInput) {
  const fs::path dir = fs::temp_directory_path() / ("qvx-pack-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const fs::path plain = dir / "plain.bin", packed = dir / "packed.bin", back = dir / "back.bin";
  Write(plain, TestImage());
  ASSERT_EQ(Pack("pack " + plain.string() + " " + packed.string()), 0);
  FirmwareImage image(LoaderOf(Read(packed)));
  image.LoadFirmwareImage();
  EXPECT_EQ(image.OpResult, op::kSuccess);
  EXPECT_EQ(image.ImageBuffer, TestImage());
  ASSERT_EQ(Pack("unpack " + packed.string() + " " + back.string()), 0);
  EXPECT_EQ(Read(back), TestImage());

  // An image the program would refuse, and the input as the output, leave every file alone.
  Bytes bad = TestImage();
  bad[4] = 1;
  Write(plain, bad);
  const Bytes before = Read(packed);
  EXPECT_NE(Pack("pack " + plain.string() + " " + packed.string()), 0);
  EXPECT_NE(Pack("unpack " + packed.string() + " " + packed.string()), 0);
  EXPECT_EQ(Read(packed), before);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace qvx::test
