#include "board/virtual_board.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <functional>

#include "board_fixture.h"

namespace qvx::board {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Every call but the open refuses a handle the board did not hand out, or no longer honours.
TEST(VirtualBoardHandle, CallsNeedTheOpenHandle) {
  VirtualBoard board;
  std::uint8_t byte = 0;
  DWORD count = 0;
  const std::vector<std::function<FT_STATUS(FT_HANDLE)>> calls = {
      [&](FT_HANDLE h) { return board.FT_SetTimeouts(h, 100, 0); },
      [&](FT_HANDLE h) { return board.FT_SetLatencyTimer(h, 2); },
      [&](FT_HANDLE h) { return board.FT_SetUSBParameters(h, 65536, 65536); },
      [&](FT_HANDLE h) { return board.FT_Purge(h, 3); },
      [&](FT_HANDLE h) { return board.FT_Write(h, &byte, 1, &count); },
      [&](FT_HANDLE h) { return board.FT_Read(h, &byte, 1, &count); },
      [&](FT_HANDLE h) { return board.FT_Close(h); },
  };
  FT_HANDLE handle = nullptr;
  for (const auto& call : calls) EXPECT_EQ(call(nullptr), ft::INVALID_HANDLE) << "before open";

  ASSERT_EQ(board.FT_OpenEx("Quorvex", 2, &handle), ft::OK);
  ASSERT_NE(handle, nullptr);
  int other = 0;
  for (const auto& call : calls) EXPECT_EQ(call(&other), ft::INVALID_HANDLE) << "foreign";

  ASSERT_EQ(board.FT_Close(handle), ft::OK);
  for (const auto& call : calls) EXPECT_EQ(call(handle), ft::INVALID_HANDLE) << "after close";
  EXPECT_TRUE(board.Commands().empty());
  EXPECT_EQ(board.Opens(), 1);
  EXPECT_EQ(board.Closes(), 1);
}

TEST(VirtualBoardHandle, OpenMatchesDescriptionAndFlagsExactly) {
  struct Case {
    const char* description;
    DWORD flags;
    FT_STATUS expected;
  };
  const Case cases[] = {
      {"Quorvex", 2, ft::OK},
      {"quorvex", 2, ft::DEVICE_NOT_FOUND},
      {"Quorvex ", 2, ft::DEVICE_NOT_FOUND},
      {"Quorve", 2, ft::DEVICE_NOT_FOUND},
      {"Quorvex", 1, ft::DEVICE_NOT_FOUND},
  };
  for (const Case& c : cases) {
    VirtualBoard board;
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(board.FT_OpenEx(c.description, c.flags, &handle), c.expected) << c.description;
    EXPECT_EQ(handle != nullptr, c.expected == ft::OK) << c.description;
  }
}

TEST(VirtualBoardHandle, RefusesASecondOpenAndADetachedBoard) {
  VirtualBoard board;
  board.SetDescription("Bench");
  FT_HANDLE first = nullptr;
  FT_HANDLE second = nullptr;
  ASSERT_EQ(board.FT_OpenEx("Bench", 2, &first), ft::OK);
  EXPECT_EQ(board.FT_OpenEx("Bench", 2, &second), ft::DEVICE_NOT_OPENED);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(board.FT_Close(first), ft::OK);

  board.SetAttached(false);
  EXPECT_EQ(board.FT_OpenEx("Bench", 2, &second), ft::DEVICE_NOT_FOUND);
  EXPECT_EQ(board.FT_OpenEx("Bench", 2, nullptr), ft::INVALID_PARAMETER);
}

using VirtualBoardDriver = OpenBoard;

TEST_F(VirtualBoardDriver, FailedWriteDeliversNothingAndDropsThePartialBlock) {
  ASSERT_EQ(Send(WfHeader(0x0400)), ft::OK);
  board.FailCall(Call::Write, 1, ft::IO_ERROR);
  const Bytes first(VirtualBoard::kBlockBytes, 0x11);
  EXPECT_EQ(Send(first), ft::IO_ERROR);

  // The retry starts clean: header and data again, nothing of the first try survives.
  Bytes retry = WfHeader(0x0400);
  retry.resize(retry.size() + VirtualBoard::kBlockBytes, 0x22);
  ASSERT_EQ(Send(retry), ft::OK);
  EXPECT_EQ(board.Flash()[0x800], 0x22);
  EXPECT_EQ(board.Flash()[0x800 + 2047], 0x22);
  EXPECT_EQ(board.Flash()[0x800 + 2048], 0xFF);
  EXPECT_EQ(board.IgnoredBytes(), 0u);
  ASSERT_EQ(board.Commands().size(), 1u);
  EXPECT_EQ(board.FaultLog(),
            (std::vector<std::string>{"write #2 failed with 4",
                                      "board dropped 5 bytes of a partial command"}));
}

TEST_F(VirtualBoardDriver, ExcessBytesWaitForTheNextReadOrAPurge) {
  ASSERT_EQ(board.FT_SetTimeouts(handle, 20, 0), ft::OK);
  ASSERT_EQ(Send("SISI"), ft::OK);
  EXPECT_EQ(Receive(3), (Bytes{'K', 'R', 0x21}));
  EXPECT_EQ(Receive(2), (Bytes{0x11, 'K'}));
  EXPECT_EQ(board.FT_Purge(handle, ft::PURGE_TX), ft::OK);
  EXPECT_EQ(board.PendingReplyBytes(), 3u);  // a transmit purge leaves the receive side
  EXPECT_EQ(board.FT_Purge(handle, ft::PURGE_RX | ft::PURGE_TX), ft::OK);
  EXPECT_TRUE(Receive(4).empty());
  EXPECT_EQ(board.Purges(), 2);
}

TEST_F(VirtualBoardDriver, ReadReturnsAtOnceWhenTheCountIsThereElseAtTheTimeout) {
  ASSERT_EQ(board.FT_SetTimeouts(handle, 200, 0), ft::OK);
  ASSERT_EQ(Send("SI"), ft::OK);
  auto start = Clock::now();
  EXPECT_EQ(Receive(4).size(), 4u);
  EXPECT_LT(Clock::now() - start, 100ms);

  ASSERT_EQ(Send("SI"), ft::OK);
  start = Clock::now();
  FT_STATUS status = 1;
  EXPECT_EQ(Receive(8, &status).size(), 4u);  // what arrived, after the timeout
  EXPECT_EQ(status, ft::OK);
  EXPECT_GE(Clock::now() - start, 200ms);
}

TEST_F(VirtualBoardDriver, WithoutATimeoutAReadNeverWaitsForBytesThatWillNotCome) {
  ASSERT_EQ(Send("SI"), ft::OK);
  const auto start = Clock::now();
  EXPECT_EQ(Receive(8).size(), 4u);
  EXPECT_LT(Clock::now() - start, 100ms);
}

TEST_F(VirtualBoardDriver, RepliesTakeTheirTransferTime) {
  board.SetTiming(Timing{2ms, 0, 20000, 0ms});  // a 2,048-byte reply takes about 100 ms
  ASSERT_EQ(Send(Rf(0, 512)), ft::OK);
  ASSERT_EQ(board.FT_SetTimeouts(handle, 20, 0), ft::OK);
  const std::size_t early = Receive(2048).size();
  EXPECT_GT(early, 0u);
  EXPECT_LT(early, 2048u);
  ASSERT_EQ(board.FT_SetTimeouts(handle, 500, 0), ft::OK);
  EXPECT_EQ(Receive(2048 - early).size(), 2048 - early);
}

TEST_F(VirtualBoardDriver, ProgrammingABlockDelaysTheNextReply) {
  Timing slowFlash;
  slowFlash.blockProgramTime = 50ms;
  board.SetTiming(slowFlash);
  ASSERT_EQ(board.FT_SetTimeouts(handle, 200, 0), ft::OK);
  Bytes wf = WfHeader(0);
  wf.resize(wf.size() + VirtualBoard::kBlockBytes, 0);
  ASSERT_EQ(Send(wf), ft::OK);
  ASSERT_EQ(Send("SI"), ft::OK);
  const auto start = Clock::now();
  EXPECT_EQ(Receive(4).size(), 4u);
  EXPECT_GE(Clock::now() - start, 40ms);
}

// Waiting is sleeping: a second of simulated transfer costs almost no processor time.
TEST_F(VirtualBoardDriver, WaitingCostsUnderFivePercentCpu) {
  Timing slow;
  slow.bytesPerSecondIn = 2048;  // the 2,048-byte block takes one second
  board.SetTiming(slow);
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
  EXPECT_EQ(board.FT_SetTimeouts(handle, 100, 0), ft::IO_ERROR);
  EXPECT_EQ(board.FT_Purge(handle, 3), ft::IO_ERROR);
  EXPECT_EQ(Send("SI"), ft::IO_ERROR);
  FT_STATUS status = ft::OK;
  EXPECT_TRUE(Receive(4, &status).empty());
  EXPECT_EQ(status, ft::IO_ERROR);
  EXPECT_EQ(board.FT_Close(handle), ft::OK);
  FT_HANDLE again = nullptr;
  EXPECT_EQ(board.FT_OpenEx("Quorvex", 2, &again), ft::DEVICE_NOT_FOUND);
  EXPECT_EQ(board.FaultLog(), (std::vector<std::string>{"unplugged after EX #1"}));
}

}  // namespace
}  // namespace qvx::board
