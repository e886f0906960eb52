#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include "support/fixtures.h"
#include "update/stages.h"

namespace qvx::test {
namespace {

using board::Call;
const Stage& kStep2 = kStages[0];

// After Find Device, sets up one pass of `stage` as FlashDevice does.
void Prepare(Board& b, const Stage& stage, std::int32_t words) {
  BoardSession& s = b.session;
  s.Image.ReferenceImage = s.Image.ImageBuffer;
  s.Link.BlockWords = kBlockWords;
  s.Engine.RegionAddress = stage.address;
  s.Link.BufferOffset = stage.ImageOffset();
  s.Link.WriteLength = s.Engine.VerifyLength = words;
}

// Fails `perBlock[i]` attempts in a row at block i, through the first call of that kind each
// attempt makes: the command write (which ends the attempt) or the reply read.
void FailAttempts(board::VirtualBoard& board, Call call, const std::vector<int>& perBlock) {
  const int callsOfSuccess = call == Call::Write ? 2 : 1;  // a write also sends its data
  int number = 0;
  for (int failures : perBlock) {
    for (int i = 0; i < failures; ++i) board.FailCall(call, ++number, ft::IO_ERROR);
    number += callsOfSuccess;
  }
}

// One budget per pass. Failed writes are each followed by a stop question; failed reads are
// retried at once, without one.
TEST(RegionPasses, EndAtTheFiftiethFailedAttemptWhereverItFalls) {
  struct Case {
    std::vector<int> failuresPerBlock;  // over the four blocks of Step 2
    std::int16_t result;
    int failedBlock;  // where the pass stopped, when it failed
  };
  const Case cases[] = {
      {{12, 12, 12, 13}, op::kSuccess, -1},
      {{12, 12, 12, 14}, op::kCommFailure, 3},
      {{25, 24, 0, 1}, op::kCommFailure, 3},
      {{0, 50, 0, 0}, op::kCommFailure, 1},
  };
  for (const Call call : {Call::Write, Call::Read}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::PrintToString(c.failuresPerBlock) + (call == Call::Read ? " RF" : ""));
      Board b;
      ASSERT_TRUE(b.Found());
      UpdateEngine& engine = b.session.Engine;
      Prepare(b, kStep2, kStep2.words);
      if (call == Call::Read) engine.WriteRegion();
      const int asksBefore = b.events.asks;
      FailAttempts(b.board, call, c.failuresPerBlock);
      Prepare(b, kStep2, kStep2.words);
      call == Call::Write ? engine.WriteRegion() : engine.VerifyRegion();
      EXPECT_EQ(engine.OpResult, c.result);
      const int blocks = c.result == op::kSuccess ? 4 : c.failedBlock + 1;
      const int failures =
          std::min(50, std::accumulate(c.failuresPerBlock.begin(), c.failuresPerBlock.end(), 0));
      EXPECT_EQ(b.events.asks - asksBefore, blocks + (call == Call::Write ? failures : 0));
      if (c.result != op::kSuccess) {
        EXPECT_EQ(b.session.Link.FlashAddress, kStep2.address + 1024 * c.failedBlock);
        EXPECT_EQ(b.session.Link.BufferOffset, kStep2.ImageOffset() + 2048 * c.failedBlock);
      }
    }
  }
}

// A block that reads back wrong is read again, alone and into its own place; nothing beyond
// the region is read or compared, even where the buffer differs from the reference there.
TEST(RegionPasses, VerifyReadsOnlyTheDifferingBlockAgain) {
  struct Case {
    bool persistent;
    std::vector<int> readFailures;
    std::int16_t result;
    std::size_t rereads;
  };
  const Case cases[] = {
      {false, {}, op::kSuccess, 1},
      {true, {}, op::kFailure, 49},
      {true, {10, 0, 0, 0}, op::kFailure, 39},
      {false, {49, 0, 0, 0}, op::kFailure, 0},
  };
  const std::size_t kBadByte = 2 * kStep2.address + 2048 * 3 + 77;  // in the last block
  for (const auto& c : cases) {
    Board b;
    ASSERT_TRUE(b.Found());
    BoardSession& s = b.session;
    Prepare(b, kStep2, kStep2.words);
    s.Engine.WriteRegion();
    const std::size_t before = b.board.Commands().size();
    b.board.CorruptReadBack(kBadByte, c.persistent);
    FailAttempts(b.board, Call::Read, c.readFailures);
    Prepare(b, kStep2, kStep2.words);
    const std::size_t regionEnd = kStep2.ImageOffset() + 4 * kStep2.words;
    s.Image.ImageBuffer[regionEnd] ^= 0x01;
    s.Engine.VerifyRegion();
    EXPECT_EQ(s.Engine.OpResult, c.result);
    std::vector<std::int32_t> expected;
    for (std::size_t block = 0; block < 4; ++block) {
      const int failures = block < c.readFailures.size() ? c.readFailures[block] : 0;
      expected.insert(expected.end(), 1 + failures, kStep2.address + 1024 * block);
    }
    expected.insert(expected.end(), c.rereads, kStep2.address + 1024 * 3);
    EXPECT_EQ(Sent(b.board, "RF", before), expected);
    if (c.result == op::kSuccess) {
      EXPECT_EQ(s.Link.FlashAddress, kStep2.address);
      EXPECT_TRUE(std::equal(s.Image.ImageBuffer.begin(), s.Image.ImageBuffer.begin() + 16392,
                             TestImage().begin()));
    }
  }
}

}  // namespace
}  // namespace qvx::test
