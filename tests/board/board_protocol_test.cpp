#include "board/board_protocol.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace qvx::board {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Of(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Block(std::uint8_t seed) {
  Bytes block(BoardProtocol::kBlockBytes);
  std::iota(block.begin(), block.end(), seed);
  return block;
}

Bytes Wf(std::uint32_t address, const Bytes& data) {
  return Concat(
      {'W', 'F', std::uint8_t(address >> 16), std::uint8_t(address >> 8), std::uint8_t(address)},
      data);
}

Bytes Rf(std::uint32_t address, std::uint16_t words) {
  return {'R',
          'F',
          std::uint8_t(address >> 16),
          std::uint8_t(address >> 8),
          std::uint8_t(address),
          std::uint8_t(words >> 8),
          std::uint8_t(words)};
}

TEST(BoardProtocol, AnswersSiWithSignatureAndVersions) {
  BoardProtocol board;
  EXPECT_EQ(board.Feed(Of("SI")), (Bytes{'K', 'R', 0x21, 0x11}));
  board.SetVersions(0x00, 0x13);
  board.SetSignature("kr");
  EXPECT_EQ(board.Feed(Of("SI")), (Bytes{'k', 'r', 0x00, 0x13}));
}

// However the host cuts the stream into writes, "WF" takes exactly one block and the next
// command parses after it.
TEST(BoardProtocol, FramesWfDataByBlockSizeAcrossAnyCuts) {
  const Bytes stream = Concat(Wf(0x1000, Block(7)), Rf(0x1000, 1));
  for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{1000},
                            std::size_t{2052}, stream.size()}) {
    SCOPED_TRACE(piece);
    BoardProtocol board;
    Bytes replies;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      const std::size_t n = std::min(piece, stream.size() - at);
      replies = Concat(replies, board.Feed({stream.data() + at, n}));
    }
    EXPECT_EQ(replies, (Bytes{7, 8, 9, 10}));
    const Bytes block = Block(7);
    EXPECT_TRUE(std::equal(block.begin(), block.end(), board.Flash().begin() + 0x2000));
    ASSERT_EQ(board.Commands().size(), 2u);
    EXPECT_EQ(board.Commands()[0].mnemonic, "WF");
    EXPECT_EQ(board.Commands()[0].address, 0x1000);
    EXPECT_EQ(board.IgnoredBytes(), 0u);
  }
}

TEST(BoardProtocol, ReadsFlashWordsFromAddressUnits) {
  BoardProtocol board;
  board.Flash()[2 * 0x7C00] = 0x42;
  const Bytes reply = board.Feed(Rf(0x7C00, 512));
  ASSERT_EQ(reply.size(), 2048u);
  EXPECT_EQ(reply[0], 0x42);
  EXPECT_EQ(reply[1], 0xFF);  // erased
  const Command& rf = board.Commands().at(0);
  EXPECT_EQ(rf.address, 0x7C00);
  EXPECT_EQ(rf.words, 512);
}

TEST(BoardProtocol, ExOperandsMoveInAndOutOfTheBootloader) {
  BoardProtocol board;
  board.Feed(Bytes{'E', 'X', 0x07, 0xCE});
  EXPECT_TRUE(board.InBootloader());
  EXPECT_EQ(board.Feed(Of("SI")).size(), 4u);  // still answers in the bootloader
  board.Feed(Bytes{'E', 'X', 0x12, 0x34});
  EXPECT_TRUE(board.InBootloader());
  board.Feed(Bytes{'E', 'X', 0x04, 0x2C});
  EXPECT_FALSE(board.InBootloader());
  EXPECT_EQ(board.Commands()[2].operand, 0x1234);
  EXPECT_EQ(board.IgnoredBytes(), 0u);
}

// Noise and out-of-range requests are dropped whole and counted, and parsing resumes right
// after them.
TEST(BoardProtocol, IgnoresAndCountsWhatItCannotServe) {
  struct Case {
    const char* name;
    Bytes input;
    std::size_t ignored;
  };
  const Case cases[] = {
      {"noise byte", {0x00}, 1},
      {"lower case", Of("si"), 2},
      {"wrong pair, second starts a command", Of("S"), 1},
      {"unknown mnemonic", Of("RX"), 2},
      {"RF past the end", Rf(0x7FFF, 2), 7},
      {"RF beyond 16 bits", Rf(0x10000, 1), 7},
      {"RF of no words", Rf(0, 0), 7},
      {"WF past the end", Wf(0x7E01, Block(0)), 5 + 2048},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardProtocol board;
    const Bytes before = board.Flash();
    EXPECT_EQ(board.Feed(Concat(c.input, Of("SI"))), (Bytes{'K', 'R', 0x21, 0x11}));
    EXPECT_EQ(board.IgnoredBytes(), c.ignored);
    EXPECT_EQ(board.Flash(), before);
    ASSERT_EQ(board.Commands().size(), 1u);
    EXPECT_EQ(board.Commands()[0].mnemonic, "SI");
  }
}

TEST(BoardProtocol, LastBlockOfFlashFits) {
  BoardProtocol board;
  board.Feed(Wf(0x7C00, Block(1)));
  EXPECT_EQ(board.IgnoredBytes(), 0u);
  EXPECT_EQ(board.Flash().back(), Block(1).back());
}

TEST(BoardProtocol, DropPartialForgetsAHalfReceivedBlock) {
  BoardProtocol board;
  const Bytes first = Wf(0x0400, Block(3));
  board.Feed({first.data(), 900});
  EXPECT_EQ(board.DropPartial(), 900u);
  // The rest of the old block would now be parsed as commands, so resend it whole instead.
  board.Feed(Wf(0x0400, Block(9)));
  EXPECT_EQ(board.Flash()[0x800], 9);
  EXPECT_EQ(board.IgnoredBytes(), 0u);
  EXPECT_EQ(board.DropPartial(), 0u);
}

}  // namespace
}  // namespace qvx::board
