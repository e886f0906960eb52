#include "board/virtual_board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "board_fixture.h"
#include "support/d2xx_calls.h"

namespace qvx::board {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every call but the open refuses a handle the board did not hand out, or no longer honours.
TEST(VirtualBoardHandle, CallsNeedTheOpenHandle) {
  VirtualBoard board;
  const std::vector<FT_STATUS> refused(7, ft::INVALID_HANDLE);
  FT_HANDLE handle = nullptr;
  EXPECT_EQ(test::EveryCallButOpen(board, nullptr), refused) << "before open";
  EXPECT_EQ(board.FT_OpenEx("quorvex", 2, &handle), ft::DEVICE_NOT_FOUND);
  EXPECT_EQ(board.FT_OpenEx("Quorvex", 1, &handle), ft::DEVICE_NOT_FOUND);
  ASSERT_EQ(board.FT_OpenEx("Quorvex", 2, &handle), ft::OK);
  FT_HANDLE second = nullptr;
  EXPECT_EQ(board.FT_OpenEx("Quorvex", 2, &second), ft::DEVICE_NOT_OPENED);
  int other = 0;
  EXPECT_EQ(test::EveryCallButOpen(board, &other), refused) << "foreign";
  ASSERT_EQ(board.FT_Close(handle), ft::OK);
  EXPECT_EQ(test::EveryCallButOpen(board, handle), refused) << "after close";
  EXPECT_EQ(board.Opens(), 1);
  EXPECT_EQ(board.Closes(), 1);
}

using VirtualBoardDriver = OpenBoard;

TEST_F(VirtualBoardDriver, FailedWriteDeliversNothingAndDropsThePartialBlock) {
  ASSERT_EQ(Send(WfHeader(0x0400)), ft::OK);
  board.FailCall(Call::Write, 1, ft::IO_ERROR);
  EXPECT_EQ(Send(Bytes(2048, 0x11)), ft::IO_ERROR);
  // The retry starts clean: nothing of the first try survives.
  Bytes retry = WfHeader(0x0400);
  retry.resize(5 + 2048, 0x22);
  ASSERT_EQ(Send(retry), ft::OK);
  EXPECT_EQ(board.Flash()[0x800], 0x22);
  EXPECT_EQ(board.Flash()[0x800 + 2048], 0xFF);
  EXPECT_EQ(board.IgnoredBytes(), 0u);
  EXPECT_EQ(board.FaultLog(),
            (std::vector<std::string>{"write #2 failed with 4",
                                      "board dropped 5 bytes of a partial command"}));
}

TEST_F(VirtualBoardDriver, ExcessBytesWaitForTheNextReadOrAPurge) {
  ASSERT_EQ(board.FT_SetTimeouts(handle, 20, 0), ft::OK);
  ASSERT_EQ(Send("SISI"), ft::OK);
  EXPECT_EQ(Receive(3), (Bytes{'K', 'R', 0x21}));
  EXPECT_EQ(Receive(2), (Bytes{0x11, 'K'}));
  EXPECT_EQ(board.FT_Purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
  EXPECT_TRUE(Receive(4).empty());
  EXPECT_EQ(board.Purges(), 1);
}

TEST_F(VirtualBoardDriver, ReadReturnsAtOnceWhenTheCountIsThereElseAtTheTimeout) {
  ASSERT_EQ(board.FT_SetTimeouts(handle, 200, 0), ft::OK);
  ASSERT_EQ(Send("SISI"), ft::OK);
  auto start = Clock::now();
  EXPECT_EQ(Receive(4).size(), 4u);
  EXPECT_LT(Clock::now() - start, 100ms);
  start = Clock::now();
  EXPECT_EQ(Receive(8).size(), 4u);  // what arrived, after the timeout
  EXPECT_GE(Clock::now() - start, 200ms);
}

// Waiting is sleeping: a second of simulated transfer costs almost no processor time.
TEST_F(VirtualBoardDriver, WaitingCostsUnderFivePercentCpu) {
  board.SetTiming(Timing{0ms, 0, 2048, 0ms});  // the 2,048-byte block takes one second
  ASSERT_EQ(board.FT_SetTimeouts(handle, 2000, 0), ft::OK);
  ASSERT_EQ(Send(Rf(0, 512)), ft::OK);
  const std::clock_t cpuStart = std::clock();
  const auto wallStart = Clock::now();
  EXPECT_EQ(Receive(2048).size(), 2048u);
  const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  EXPECT_GE(wall, 0.95);
  EXPECT_LT(cpu, 0.05 * wall) << "cpu " << cpu << " s over " << wall << " s";
  RecordProperty("cpu_seconds", std::to_string(cpu));
}

TEST_F(VirtualBoardDriver, UnpluggedBoardFailsEverythingButTheClose) {
  board.UnplugAfter("EX", 1);
  ASSERT_EQ(Send(Bytes{'E', 'X', 0x07, 0xCE, 'S', 'I'}), ft::OK);
  EXPECT_TRUE(board.InBootloader());       // the command itself took effect
  EXPECT_EQ(board.Commands().size(), 1u);  // the "SI" behind it was lost
  EXPECT_EQ(board.FT_Purge(handle, 3), ft::IO_ERROR);
  FT_STATUS status = ft::OK;
  EXPECT_TRUE(Receive(4, &status).empty());
  EXPECT_EQ(status, ft::IO_ERROR);
  EXPECT_EQ(board.FT_Close(handle), ft::OK);
  EXPECT_EQ(board.FT_OpenEx("Quorvex", 2, &handle), ft::DEVICE_NOT_FOUND);
  EXPECT_EQ(board.FaultLog(), (std::vector<std::string>{"unplugged after EX #1"}));
}

}  // namespace
}  // namespace qvx::board
