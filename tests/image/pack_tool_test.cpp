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

#include "test_image.h"

namespace qvx::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

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
  Write(dir / "plain.bin", PlainImage());
  Write(dir / "container.bin", Bytes(10, 0));  // replaced, not appended to
  ASSERT_EQ(Run("pack " + Path("plain.bin") + " " + Path("container.bin")), 0);

  std::int16_t opResult = 0;
  FirmwareImage image([&](std::string_view, int) { return FileBytes(dir / "container.bin"); },
                      opResult);
  image.CreateArrays();
  image.LoadFirmwareImage();
  EXPECT_EQ(opResult, 0) << "the program must accept what the tool packs";
  EXPECT_EQ(image.ImageBuffer, PlainImage());

  ASSERT_EQ(Run("unpack " + Path("container.bin") + " " + Path("unpacked.bin")), 0);
  EXPECT_EQ(FileBytes(dir / "unpacked.bin"), PlainImage());
  EXPECT_EQ(FilesInDir(), 3u) << "a temporary file was left behind";
}

TEST_F(PackToolTest, RefusesBadInputAndLeavesFilesAlone) {
  struct Case {
    const char* command;
    std::size_t size, at;  // the input: a valid image that long, with byte `at` changed
    int status;
  };
  const Case cases[] = {
      {"pack", kImageSize - 1, kImageSize, 1},
      {"pack", kImageSize + 1, kImageSize, 1},
      {"pack", kImageSize, 0, 1},
      {"pack", kImageSize, 4, 1},
      {"unpack", kContainerSize - 1, 0, 1},
      {"scramble", kImageSize, kImageSize, 2},
  };
  const Bytes previousOutput(7, 0x42);
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Bytes input = PlainImage();
    input.resize(c.size);
    if (c.at < c.size) input[c.at] ^= 0x20;
    Write(dir / "in.bin", input);
    Write(dir / "out.bin", previousOutput);
    EXPECT_EQ(Run(std::string(c.command) + " " + Path("in.bin") + " " + Path("out.bin")), c.status);
    EXPECT_EQ(FileBytes(dir / "in.bin"), input);
    EXPECT_EQ(FileBytes(dir / "out.bin"), previousOutput);
    EXPECT_EQ(FilesInDir(), 2u);
  }
}

TEST_F(PackToolTest, NeverOverwritesItsInput) {
  const Bytes plain = PlainImage();
  Write(dir / "plain.bin", plain);
  fs::create_symlink(dir / "plain.bin", dir / "link.bin");
  fs::create_directory(dir / "sub");
  const std::string sameFile[] = {Path("plain.bin"), Path("link.bin"),
                                  "'" + (dir / "sub" / ".." / "plain.bin").string() + "'"};
  for (const auto& output : sameFile) {
    EXPECT_EQ(Run("pack " + Path("plain.bin") + " " + output), 1) << output;
    EXPECT_EQ(Run("unpack " + Path("plain.bin") + " " + output), 1) << output;
    EXPECT_EQ(FileBytes(dir / "plain.bin"), plain) << output;
  }
}

TEST_F(PackToolTest, ReportsInputAndOutputFailures) {
  Write(dir / "plain.bin", PlainImage());
  EXPECT_EQ(Run("pack " + Path("missing.bin") + " " + Path("out.bin")), 1);
  EXPECT_EQ(Run("pack " + Path("plain.bin") + " " + Path("no-such-dir/out.bin")), 1);
  EXPECT_EQ(Run("pack " + Path("plain.bin")), 2);
  EXPECT_EQ(FilesInDir(), 1u);
}

}  // namespace
}  // namespace qvx::test
