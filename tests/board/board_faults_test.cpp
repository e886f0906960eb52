#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "board_fixture.h"
#include "support/d2xx_calls.h"

namespace qvx::board {
namespace {

// One call of the kind on an open board; the open and the close cycle the board to reach it.
FT_STATUS Invoke(VirtualBoard& board, FT_HANDLE& handle, Call call) {
  if (call == Call::Open) {
    board.FT_Close(handle);
    return board.FT_OpenEx("Quorvex", 2, &handle);
  }
  const FT_STATUS status = test::CallOfKind(board, handle, static_cast<int>(call));
  if (!board.IsOpen()) board.FT_OpenEx("Quorvex", 2, &handle);
  return status;
}

// The nth call of a kind (counted from the script) fails with the scripted status, the calls
// around it do not, and the log names the one that did; nth 0 fails them all.
TEST(BoardScriptedFaults, NthCallOfEachKindFailsAndOnlyThatOne) {
  const std::pair<Call, std::string> kinds[] = {
      {Call::Open, "open #4"},  // the first open was #1
      {Call::SetTimeouts, "set-timeouts #3"},
      {Call::SetLatency, "set-latency #3"},
      {Call::SetUSBParameters, "set-usb-parameters #3"},
      {Call::Purge, "purge #3"},
      {Call::Write, "write #3"},
      {Call::Read, "read #3"},
      {Call::Close, "close #3"},
  };
  for (const auto& [call, name] : kinds) {
    SCOPED_TRACE(name);
    VirtualBoard board;
    FT_HANDLE h = nullptr;
    ASSERT_EQ(board.FT_OpenEx("Quorvex", 2, &h), ft::OK);
    Invoke(board, h, call);
    board.FailCall(call, 2, ft::OTHER_ERROR);
    EXPECT_EQ(Invoke(board, h, call), ft::OK);
    EXPECT_EQ(Invoke(board, h, call), ft::OTHER_ERROR);
    EXPECT_EQ(Invoke(board, h, call), ft::OK);
    EXPECT_EQ(board.FaultLog(), (std::vector<std::string>{name + " failed with 18"}));
    board.FailCall(call, 0, ft::IO_ERROR);
    EXPECT_EQ(Invoke(board, h, call), ft::IO_ERROR);
    EXPECT_EQ(Invoke(board, h, call), ft::IO_ERROR);
  }
}

TEST(BoardScriptedFaults, CorruptsTheReadBackOnceOrAlways) {
  for (const bool persistent : {false, true}) {
    SCOPED_TRACE(persistent);
    VirtualBoard board;
    FT_HANDLE h = nullptr;
    ASSERT_EQ(board.FT_OpenEx("Quorvex", 2, &h), ft::OK);
    board.CorruptReadBack(0x2010, persistent);
    std::vector<int> altered;
    for (const std::uint32_t address : {0x0000u, 0x1000u, 0x1000u}) {  // bytes 0x0, 0x2000
      const Bytes rf = Rf(address, 512);
      Bytes back(2048);
      DWORD n = 0;
      board.FT_Write(h, rf.data(), 7, &n);
      board.FT_Read(h, back.data(), 2048, &n);
      altered.push_back(static_cast<int>(2048 - std::count(back.begin(), back.end(), 0xFF)));
    }
    EXPECT_EQ(altered, (std::vector<int>{0, 1, persistent ? 1 : 0}));
    EXPECT_EQ(board.FaultLog().front(), "read-back corrupted at 0x2010");
    EXPECT_EQ(board.Flash()[0x2010], 0xFF);  // the flash itself is sound
  }
}

using BoardFaults = OpenBoard;

TEST_F(BoardFaults, SwallowsOnlyTheNamedReplyAndSplitsTheOthers) {
  ASSERT_EQ(board.FT_SetTimeouts(handle, 10, 0), ft::OK);
  board.SwallowReply("SI", 2);
  board.SplitReplies(3);
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Send("SI"), ft::OK);
    sizes.push_back(Receive(4).size());
    sizes.push_back(Receive(4).size());
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{3, 1, 0, 0, 3, 1}));
  EXPECT_EQ(board.FaultLog(),
            (std::vector<std::string>{"read #1 split: 3 of 4 bytes", "reply to SI #2 swallowed",
                                      "read #5 split: 3 of 4 bytes"}));
}

// A session of the engine's shape: identify, then per block purge, write it, read it back.
std::vector<std::string> RandomSession(std::uint32_t seed, double probability) {
  VirtualBoard board;
  FT_HANDLE h = nullptr;
  board.FT_OpenEx("Quorvex", 2, &h);
  board.FT_SetTimeouts(h, 1, 0);
  board.InjectRandomFaults(seed, probability);
  Bytes buffer(2048, 0x5A);
  DWORD n = 0;
  for (std::uint32_t address = 0; address < 0x8000; address += 0x400) {
    board.FT_Write(h, "SI", 2, &n);
    board.FT_Read(h, buffer.data(), 4, &n);
    board.FT_Purge(h, 3);
    if (board.FT_Write(h, WfHeader(address).data(), 5, &n) == ft::OK) {
      board.FT_Write(h, buffer.data(), 2048, &n);
    }
    board.FT_Write(h, Rf(address, 512).data(), 7, &n);
    board.FT_Read(h, buffer.data(), 2048, &n);
  }
  return board.FaultLog();
}

TEST(BoardRandomFaults, SameSeedSameScheduleAndEveryKindTurnsUp) {
  EXPECT_TRUE(RandomSession(7, 0.0).empty());
  EXPECT_EQ(RandomSession(7, 0.2), RandomSession(7, 0.2));
  EXPECT_NE(RandomSession(7, 0.2), RandomSession(8, 0.2));

  const std::regex number("#[0-9]+|0x[0-9A-F]+|[0-9]+");
  std::set<std::string> kinds;
  for (std::uint32_t seed = 1; seed <= 10; ++seed) {
    for (const std::string& line : RandomSession(seed, 0.2)) {
      kinds.insert(std::regex_replace(line, number, "N"));
    }
  }
  EXPECT_EQ(kinds,
            (std::set<std::string>{
                "purge N failed with N (random)", "write N failed with N (random)",
                "board dropped N bytes of a partial command", "read N failed with N (random)",
                "read N split: N of N bytes", "reply to SI N swallowed (random)",
                "reply to RF N swallowed (random)", "read-back corrupted at N"}));
}

}  // namespace
}  // namespace qvx::board
