#include "board/board_protocol.h"

#include <gtest/gtest.h>

#include "board_fixture.h"

namespace qvx::board {
namespace {

// However the host cuts the stream into writes, "WF" takes exactly one block and the next
// command parses right after it.
TEST(BoardProtocol, FramesWfDataByBlockSizeAcrossAnyCuts) {
  Bytes stream = WfHeader(0x1000);
  for (int i = 0; i < 2048; ++i) stream.push_back(static_cast<std::uint8_t>(i % 251));
  const Bytes rf = Rf(0x1000, 1);
  stream.insert(stream.end(), rf.begin(), rf.end());
  for (const std::size_t piece : {1, 2, 5, 1000, 2052, 2060}) {
    SCOPED_TRACE(piece);
    BoardProtocol board;
    Bytes replies;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      const Bytes reply = board.Feed({stream.data() + at, std::min(piece, stream.size() - at)});
      replies.insert(replies.end(), reply.begin(), reply.end());
    }
    EXPECT_EQ(replies, (Bytes{0, 1, 2, 3}));
    EXPECT_EQ(board.Flash()[0x2000 + 2047], 2047 % 251);
    EXPECT_EQ(board.Flash()[0x2000 + 2048], 0xFF);
    EXPECT_EQ(board.Commands().size(), 2u);
    EXPECT_EQ(board.IgnoredBytes(), 0u);
  }
}

// Noise and out-of-range requests are dropped whole and counted, and parsing resumes right
// after them.
TEST(BoardProtocol, IgnoresAndCountsWhatItCannotServe) {
  Bytes wfPastEnd = WfHeader(0x7E01);
  wfPastEnd.resize(5 + 2048, 0);
  const std::pair<Bytes, std::size_t> cases[] = {
      {{0x00}, 1},     {{'s', 'i'}, 2},       {{'S'}, 1},  // "S" then "SI": one lost
      {{'R', 'X'}, 2}, {Rf(0x7FFF, 2), 7},    {Rf(0x10000, 1), 7},
      {Rf(0, 0), 7},   {wfPastEnd, 5 + 2048},
  };
  for (const auto& [input, ignored] : cases) {
    SCOPED_TRACE(testing::PrintToString(input.size() < 8 ? input : Bytes{}));
    BoardProtocol board;
    Bytes stream = input;
    stream.insert(stream.end(), {'S', 'I'});
    EXPECT_EQ(board.Feed(stream), (Bytes{'K', 'R', 0x21, 0x11}));
    EXPECT_EQ(board.IgnoredBytes(), ignored);
    EXPECT_EQ(board.Flash(), Bytes(BoardProtocol::kFlashBytes, 0xFF));
    EXPECT_EQ(board.Commands().size(), 1u);
  }
}

}  // namespace
}  // namespace qvx::board
