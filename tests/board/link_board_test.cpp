#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <vector>

#include "board/virtual_board.h"
#include "link/qvx_module.h"

namespace qvx::board {
namespace {

// The real link against the virtual board.
class LinkOnBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    board.SetVersions(0x21, 0x13);
    link.OpenDevice();
    ASSERT_EQ(link.FtStatus, 0);
  }

  VirtualBoard board;
  std::vector<std::uint8_t> image = std::vector<std::uint8_t>(65544, 0);
  QVXModule link{board, image};
};

TEST_F(LinkOnBoard, DecodesTheIdentityUntilAReplyIsSwallowed) {
  link.QueryDeviceInfo();
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ((std::vector<int>{link.HwMajor, link.HwMinor, link.FwMajor, link.FwMinor}),
            (std::vector<int>{2, 1, 1, 3}));

  board.SwallowReply("SI", 1);
  const auto start = std::chrono::steady_clock::now();
  link.QueryDeviceInfo();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(link.FtStatus, QVXModule::kReadIncomplete);
  EXPECT_TRUE(link.ReadTimedOut);
}

// Whole-block round trip, also when the reply dribbles in over many read calls.
TEST_F(LinkOnBoard, AWrittenBlockReadsBackIdentical) {
  link.FlashAddress = 0x7C00;
  link.BlockWords = 512;
  link.BufferOffset = 8 + 2 * 0x7C00;
  std::iota(image.begin() + link.BufferOffset, image.end(), std::uint8_t{3});
  const std::vector<std::uint8_t> sent(image.begin() + link.BufferOffset, image.end());
  link.WriteFlashBlock();
  ASSERT_EQ(link.FtStatus, 0);
  for (const std::size_t piece : {0, 7}) {
    board.SplitReplies(piece);
    std::fill(image.begin(), image.end(), 0);
    link.ReadFlashBlock();
    ASSERT_EQ(link.FtStatus, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + link.BufferOffset, image.end()), sent);
  }
  EXPECT_EQ(board.IgnoredBytes(), 0u);
  EXPECT_EQ(board.Commands().back().address, 0x7C00);
}

}  // namespace
}  // namespace qvx::board
