#include <gtest/gtest.h>

#include <chrono>
#include <numeric>
#include <vector>

#include "board/virtual_board.h"
#include "link/qvx_module.h"

namespace qvx::board {
namespace {

using namespace std::chrono_literals;

// The real link against the virtual board.
class LinkOnBoard : public ::testing::Test {
 protected:
  void Open() {
    link.OpenDevice();
    ASSERT_EQ(link.FtStatus, 0);
  }
  void At(std::int32_t address) {
    link.FlashAddress = address;
    link.BlockWords = 512;
    link.BufferOffset = 8 + 2 * address;
  }

  VirtualBoard board;
  std::vector<std::uint8_t> image = std::vector<std::uint8_t>(65544, 0);
  QVXModule link{board, image};
};

TEST_F(LinkOnBoard, OpensAndDecodesTheIdentity) {
  board.SetVersions(0x21, 0x13);
  Open();
  EXPECT_NE(link.DeviceHandle, nullptr);
  link.QueryDeviceInfo();
  EXPECT_EQ(link.FtStatus, 0);
  EXPECT_EQ((std::vector<int>{link.HwMajor, link.HwMinor, link.FwMajor, link.FwMinor}),
            (std::vector<int>{2, 1, 1, 3}));
  link.CloseDevice();
  EXPECT_FALSE(board.IsOpen());
}

TEST_F(LinkOnBoard, OpenFailsWithoutABoardAndClosesAfterAFailedConfiguration) {
  board.SetAttached(false);
  link.OpenDevice();
  EXPECT_EQ(link.FtStatus, static_cast<std::int32_t>(ft::DEVICE_NOT_FOUND));
  EXPECT_EQ(link.DeviceHandle, nullptr);

  board.SetAttached(true);
  board.FailCall(Call::SetLatency, 1, ft::IO_ERROR);
  link.OpenDevice();
  EXPECT_EQ(link.FtStatus, static_cast<std::int32_t>(ft::IO_ERROR));
  EXPECT_EQ(link.DeviceHandle, nullptr);
  EXPECT_EQ(board.Closes(), 1);
  EXPECT_FALSE(board.IsOpen());
}

// Whole-block round trip, also when the reply dribbles in over many read calls.
TEST_F(LinkOnBoard, AWrittenBlockReadsBackIdentical) {
  for (const std::size_t piece : {std::size_t{0}, std::size_t{7}}) {
    SCOPED_TRACE(piece);
    board.SplitReplies(piece);
    Open();
    At(0x7C00);
    std::iota(image.begin() + link.BufferOffset, image.end(), std::uint8_t{3});
    const std::vector<std::uint8_t> sent(image.begin() + link.BufferOffset, image.end());
    link.WriteFlashBlock();
    ASSERT_EQ(link.FtStatus, 0);
    std::fill(image.begin(), image.end(), 0);
    link.ReadFlashBlock();
    ASSERT_EQ(link.FtStatus, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + link.BufferOffset, image.end()), sent);
    EXPECT_EQ(link.ReadTotal, 2048);
    EXPECT_EQ(board.IgnoredBytes(), 0u);
    link.CloseDevice();
  }
  const Command& last = board.Commands().back();
  EXPECT_EQ(last.mnemonic, "RF");
  EXPECT_EQ(last.address, 0x7C00);
  EXPECT_EQ(last.words, 512);
}

TEST_F(LinkOnBoard, ASwallowedReplyTimesOutAfterTheLinksTimeout) {
  Open();
  board.SwallowReply("SI", 1);
  const auto start = std::chrono::steady_clock::now();
  link.QueryDeviceInfo();
  EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
  EXPECT_EQ(link.FtStatus, QVXModule::kReadIncomplete);
  EXPECT_TRUE(link.ReadTimedOut);
  EXPECT_EQ(link.HwMajor, 0);
}

TEST_F(LinkOnBoard, ARetriedBlockWriteAfterAFailedDataWriteStoresCleanly) {
  Open();
  At(0x1000);
  std::fill(image.begin() + link.BufferOffset, image.begin() + link.BufferOffset + 2048, 0x42);
  board.FailCall(Call::Write, 2, ft::IO_ERROR);  // the data of the first "WF"
  link.WriteFlashBlock();
  EXPECT_EQ(link.FtStatus, static_cast<std::int32_t>(ft::IO_ERROR));
  link.PurgeDevice();
  link.WriteFlashBlock();
  ASSERT_EQ(link.FtStatus, 0);
  EXPECT_EQ(board.Flash()[0x2000], 0x42);
  EXPECT_EQ(board.Flash()[0x2000 + 2047], 0x42);
  EXPECT_EQ(board.IgnoredBytes(), 0u);
  EXPECT_EQ(board.Commands().size(), 1u);
}

TEST_F(LinkOnBoard, AnUnpluggedBoardShowsAsFailingStatuses) {
  Open();
  board.UnplugAfter("EX", 1);
  link.ExecOperand = 0x07CE;
  link.SendExecute();
  EXPECT_EQ(link.FtStatus, 0);
  link.QueryDeviceInfo();
  EXPECT_EQ(link.FtStatus, static_cast<std::int32_t>(ft::IO_ERROR));
  link.CloseDevice();
  EXPECT_FALSE(board.IsOpen());
}

}  // namespace
}  // namespace qvx::board
