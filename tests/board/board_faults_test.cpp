#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "board_fixture.h"

namespace qvx::board {
namespace {

using BoardFaults = OpenBoard;

// One call of each kind on an open board; the open and the close cycle the board to reach it.
FT_STATUS Invoke(VirtualBoard& board, FT_HANDLE& handle, Call call) {
  std::uint8_t byte = 0;
  DWORD count = 0;
  switch (call) {
    case Call::Open:
      board.FT_Close(handle);
      return board.FT_OpenEx("Quorvex", 2, &handle);
    case Call::SetTimeouts:
      return board.FT_SetTimeouts(handle, 100, 0);
    case Call::SetLatency:
      return board.FT_SetLatencyTimer(handle, 2);
    case Call::SetUSBParameters:
      return board.FT_SetUSBParameters(handle, 65536, 65536);
    case Call::Purge:
      return board.FT_Purge(handle, 3);
    case Call::Write:
      return board.FT_Write(handle, &byte, 1, &count);
    case Call::Read:
      return board.FT_Read(handle, &byte, 1, &count);
    case Call::Close: {
      const FT_STATUS status = board.FT_Close(handle);
      if (!board.IsOpen()) board.FT_OpenEx("Quorvex", 2, &handle);
      return status;
    }
  }
  return ft::OTHER_ERROR;
}

// The nth call of a kind fails with the scripted status, the calls around it do not, and the
// log names the one that did.
TEST(BoardScriptedFaults, NthCallOfEachKindFailsAndOnlyThatOne) {
  const std::pair<Call, const char*> kinds[] = {
      {Call::Open, "open"},
      {Call::SetTimeouts, "set-timeouts"},
      {Call::SetLatency, "set-latency"},
      {Call::SetUSBParameters, "set-usb-parameters"},
      {Call::Purge, "purge"},
      {Call::Write, "write"},
      {Call::Read, "read"},
      {Call::Close, "close"},
  };
  for (const auto& [call, name] : kinds) {
    SCOPED_TRACE(name);
    VirtualBoard fresh;
    FT_HANDLE h = nullptr;
    ASSERT_EQ(fresh.FT_OpenEx("Quorvex", 2, &h), ft::OK);
    Invoke(fresh, h, call);  // counted from the script on, not from the start
    fresh.FailCall(call, 2, ft::OTHER_ERROR);
    EXPECT_EQ(Invoke(fresh, h, call), ft::OK);
    EXPECT_EQ(Invoke(fresh, h, call), ft::OTHER_ERROR);
    EXPECT_EQ(Invoke(fresh, h, call), ft::OK);
    const std::string number = call == Call::Open ? "4" : "3";  // the first open was #1
    EXPECT_EQ(fresh.FaultLog(),
              (std::vector<std::string>{std::string(name) + " #" + number + " failed with 18"}));
  }
}

TEST_F(BoardFaults, NthZeroFailsEveryCall) {
  board.FailCall(Call::Purge, 0, ft::IO_ERROR);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(board.FT_Purge(handle, 3), ft::IO_ERROR);
  EXPECT_EQ(board.Purges(), 0);
  EXPECT_EQ(board.FaultLog().size(), 3u);
}

TEST(BoardScriptedFaults, CorruptsTheReadBackOnceOrAlways) {
  for (const bool persistent : {false, true}) {
    SCOPED_TRACE(persistent);
    VirtualBoard fresh;
    FT_HANDLE h = nullptr;
    ASSERT_EQ(fresh.FT_OpenEx("Quorvex", 2, &h), ft::OK);
    fresh.CorruptReadBack(0x2010, persistent);
    std::vector<int> altered;
    for (const std::uint32_t address : {0x0000u, 0x1000u, 0x1000u}) {  // bytes 0x0, 0x2000
      const Bytes rf = Rf(address, 512);
      DWORD n = 0;
      ASSERT_EQ(fresh.FT_Write(h, rf.data(), 7, &n), ft::OK);
      Bytes back(2048);
      ASSERT_EQ(fresh.FT_Read(h, back.data(), 2048, &n), ft::OK);
      int count = 0;
      for (std::size_t i = 0; i < back.size(); ++i) count += back[i] != 0xFF;
      altered.push_back(count);
      if (address == 0x1000 && count == 1) {
        EXPECT_NE(back[0x10], 0xFF);
      }
    }
    EXPECT_EQ(altered, (std::vector<int>{0, 1, persistent ? 1 : 0}));
    EXPECT_EQ(fresh.FaultLog().front(), "read-back corrupted at 0x2010");
    EXPECT_EQ(fresh.Flash()[0x2010], 0xFF);  // the flash itself is sound
  }
}

TEST_F(BoardFaults, SplitRepliesArriveInPieces) {
  board.SplitReplies(3);
  ASSERT_EQ(Send("SI"), ft::OK);
  EXPECT_EQ(Receive(4), (Bytes{'K', 'R', 0x21}));
  EXPECT_EQ(Receive(4), (Bytes{0x11}));
  EXPECT_EQ(board.FaultLog(), (std::vector<std::string>{"read #1 split: 3 of 4 bytes"}));
}

TEST_F(BoardFaults, SwallowsOnlyTheNamedReply) {
  ASSERT_EQ(board.FT_SetTimeouts(handle, 10, 0), ft::OK);
  board.SwallowReply("SI", 2);
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Send("SI"), ft::OK);
    sizes.push_back(Receive(4).size());
  }
  EXPECT_EQ(sizes, (std::vector<std::size_t>{4, 0, 4}));
  EXPECT_EQ(board.Commands().size(), 3u);  // parsed, just not answered
  EXPECT_EQ(board.FaultLog(), (std::vector<std::string>{"reply to SI #2 swallowed"}));
}

TEST_F(BoardFaults, OddIdentityIsAnsweredAndRecorded) {
  board.SetSignature("K");
  board.SetVersions(0x00, 0x11);
  ASSERT_EQ(Send("SI"), ft::OK);
  EXPECT_EQ(Receive(4), (Bytes{'K', 0x00, 0x11}));  // a short reply
  EXPECT_EQ(board.FaultLog(), (std::vector<std::string>{"SI answered with signature \"K\"",
                                                        "SI answered with hardware 0.0"}));
}

// A session of the engine's shape: identify, then purge, write a block, read it back.
std::vector<std::string> RandomSession(std::uint32_t seed, double probability) {
  VirtualBoard board;
  FT_HANDLE h = nullptr;
  EXPECT_EQ(board.FT_OpenEx("Quorvex", 2, &h), ft::OK);
  board.FT_SetTimeouts(h, 1, 0);
  board.InjectRandomFaults(seed, probability);
  Bytes block(2048, 0x5A);
  for (std::uint32_t address = 0; address < 0x8000; address += 0x400) {
    DWORD n = 0;
    Bytes reply(4);
    board.FT_Write(h, "SI", 2, &n);
    board.FT_Read(h, reply.data(), 4, &n);
    board.FT_Purge(h, 3);
    const Bytes wf = WfHeader(address);
    if (board.FT_Write(h, wf.data(), 5, &n) == ft::OK) {
      board.FT_Write(h, block.data(), 2048, &n);
    }
    const Bytes rf = Rf(address, 512);
    board.FT_Write(h, rf.data(), 7, &n);
    Bytes back(2048);
    board.FT_Read(h, back.data(), 2048, &n);
  }
  return board.FaultLog();
}

TEST(BoardRandomFaults, SameSeedSameScheduleAndEveryKindTurnsUp) {
  EXPECT_TRUE(RandomSession(7, 0.0).empty());
  EXPECT_EQ(RandomSession(7, 0.2), RandomSession(7, 0.2));
  EXPECT_NE(RandomSession(7, 0.2), RandomSession(8, 0.2));

  std::set<std::string> kinds;
  for (std::uint32_t seed = 1; seed <= 20; ++seed) {
    for (const std::string& line : RandomSession(seed, 0.2)) {
      kinds.insert(line.substr(0, line.find_first_of("#0123456789")));
    }
  }
  EXPECT_EQ(kinds,
            (std::set<std::string>{"purge ", "write ", "read ", "reply to SI ", "reply to RF ",
                                   "read-back corrupted at ", "board dropped "}));
}

}  // namespace
}  // namespace qvx::board
