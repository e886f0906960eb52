#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/firmware_image.h"

namespace qvx {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes ValidImage() {
  Bytes image(kImageSize);
  for (std::size_t i = 0; i < kImageSize; ++i) image[i] = static_cast<std::uint8_t>(i ^ (i >> 8));
  image[0] = 'F';
  image[1] = 'W';
  image[3] = 0x16;
  image[4] = 0;
  return image;
}

class PackToolTest : public ::testing::Test {
 protected:
  fs::path dir;

  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() /
          ("qvx-pack-test-" + std::to_string(::getpid()) + "-" + test->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  static void Write(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  static Bytes Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  // Runs the built tool with its output silenced; returns its exit status.
  static int Run(const std::string& arguments) {
    const std::string command = "'" QVX_PACK "' " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Path(const char* name) const { return "'" + (dir / name).string() + "'"; }

  std::size_t FilesInDir() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), {}));
  }
};

TEST_F(PackToolTest, PackThenUnpackGivesBackTheImage) {
  Write(dir / "plain.bin", ValidImage());
  Write(dir / "container.bin", Bytes(10, 0));  // replaced, not appended to
  ASSERT_EQ(Run("pack " + Path("plain.bin") + " " + Path("container.bin")), 0);

  std::int16_t opResult = 0;
  FirmwareImage image([&](std::string_view, int) { return Read(dir / "container.bin"); }, opResult);
  image.CreateArrays();
  image.LoadFirmwareImage();
  EXPECT_EQ(opResult, 0) << "the program must accept what the tool packs";
  EXPECT_EQ(image.ImageBuffer, ValidImage());

  ASSERT_EQ(Run("unpack " + Path("container.bin") + " " + Path("unpacked.bin")), 0);
  EXPECT_EQ(Read(dir / "unpacked.bin"), ValidImage());
  EXPECT_EQ(FilesInDir(), 3u) << "a temporary file was left behind";
}

TEST_F(PackToolTest, RefusesBadInputAndLeavesFilesAlone) {
  auto lowerCase = ValidImage();
  lowerCase[0] = 'f';
  auto nonZeroByte4 = ValidImage();
  nonZeroByte4[4] = 1;
  auto shortImage = ValidImage();
  shortImage.pop_back();
  auto longImage = ValidImage();
  longImage.push_back(0);

  struct Case {
    const char* name;
    Bytes input;
    const char* command;
    int status;
  };
  const Case cases[] = {
      {"short image", shortImage, "pack", 1},
      {"long image", longImage, "pack", 1},
      {"signature", lowerCase, "pack", 1},
      {"byte 4", nonZeroByte4, "pack", 1},
      {"short container", Bytes(kContainerSize - 1, 0), "unpack", 1},
      {"unknown command", ValidImage(), "scramble", 2},
  };
  const Bytes previousOutput(7, 0x42);
  for (const Case& c : cases) {
    Write(dir / "in.bin", c.input);
    Write(dir / "out.bin", previousOutput);
    EXPECT_EQ(Run(std::string(c.command) + " " + Path("in.bin") + " " + Path("out.bin")), c.status)
        << c.name;
    EXPECT_EQ(Read(dir / "in.bin"), c.input) << c.name;
    EXPECT_EQ(Read(dir / "out.bin"), previousOutput) << c.name;
    EXPECT_EQ(FilesInDir(), 2u) << c.name;
  }
}

TEST_F(PackToolTest, NeverOverwritesItsInput) {
  const Bytes plain = ValidImage();
  Write(dir / "plain.bin", plain);
  fs::create_symlink(dir / "plain.bin", dir / "link.bin");
  fs::create_directory(dir / "sub");
  const std::string sameFile[] = {Path("plain.bin"), Path("link.bin"),
                                  "'" + (dir / "sub" / ".." / "plain.bin").string() + "'"};
  for (const auto& output : sameFile) {
    EXPECT_EQ(Run("pack " + Path("plain.bin") + " " + output), 1) << output;
    EXPECT_EQ(Run("unpack " + Path("plain.bin") + " " + output), 1) << output;
    EXPECT_EQ(Read(dir / "plain.bin"), plain) << output;
  }
}

TEST_F(PackToolTest, ReportsInputAndOutputFailures) {
  Write(dir / "plain.bin", ValidImage());
  EXPECT_EQ(Run("pack " + Path("missing.bin") + " " + Path("out.bin")), 1);
  EXPECT_EQ(Run("pack " + Path("plain.bin") + " " + Path("no-such-dir/out.bin")), 1);
  EXPECT_EQ(Run("pack " + Path("plain.bin")), 2);
  EXPECT_EQ(FilesInDir(), 1u);
}

}  // namespace
}  // namespace qvx
