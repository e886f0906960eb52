#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include "support/fixtures.h"

namespace qvx::test {
namespace {

using board::Call;

// The engine over its own image arrays and link to a board, as the session wires them.
struct Passes {
  Passes() {
    board.UseVirtualTime();
    link.OpenDevice();
    image.ImageBuffer = image.ReferenceImage = TestImage();
  }
  // One pass over the Step 2 region (flash 4,096, image offset 8,200, 2,048 words), as the update
  // sets it up.
  void Prepare() {
    link.BlockWords = 512;
    engine.RegionAddress = 4096;
    link.BufferOffset = 8200;
    link.WriteLength = engine.VerifyLength = 2048;
  }

  board::VirtualBoard board;
  FirmwareImage image;
  QVXModule link{board, image.ImageBuffer};
  Recorder events;
  UpdateEngine engine{image, link, events};
};

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
      Passes b;
      UpdateEngine& engine = b.engine;
      b.Prepare();
      if (call == Call::Read) engine.WriteRegion();
      const int asksBefore = b.events.asks;
      FailAttempts(b.board, call, c.failuresPerBlock);
      b.Prepare();
      call == Call::Write ? engine.WriteRegion() : engine.VerifyRegion();
      EXPECT_EQ(engine.OpResult, c.result);
      const int blocks = c.result == op::kSuccess ? 4 : c.failedBlock + 1;
      const int failures =
          std::min(50, std::accumulate(c.failuresPerBlock.begin(), c.failuresPerBlock.end(), 0));
      EXPECT_EQ(b.events.asks - asksBefore, blocks + (call == Call::Write ? failures : 0));
      if (c.result != op::kSuccess) {
        EXPECT_EQ(b.link.FlashAddress, 4096 + 1024 * c.failedBlock);
        EXPECT_EQ(b.link.BufferOffset, 8200 + 2048 * c.failedBlock);
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
  const std::size_t kBadByte = 2 * 4096 + 2048 * 3 + 77;  // in the last block
  for (const auto& c : cases) {
    Passes b;
    b.Prepare();
    b.engine.WriteRegion();
    const std::size_t before = b.board.Commands().size();
    b.board.CorruptReadBack(kBadByte, c.persistent);
    FailAttempts(b.board, Call::Read, c.readFailures);
    b.Prepare();
    b.image.ImageBuffer[8200 + 8192] ^= 0x01;  // just past the region
    b.engine.VerifyRegion();
    EXPECT_EQ(b.engine.OpResult, c.result);
    std::vector<std::int32_t> expected;
    for (std::size_t block = 0; block < 4; ++block) {
      const int failures = block < c.readFailures.size() ? c.readFailures[block] : 0;
      expected.insert(expected.end(), 1 + failures, 4096 + 1024 * block);
    }
    expected.insert(expected.end(), c.rereads, 4096 + 1024 * 3);
    EXPECT_EQ(Sent(b.board, "RF", before), expected);
    // Each block read and each block read again follows a purge (a failed read call is retried
    // at once), so no stale reply is taken for it.
    for (std::size_t i = before; c.readFailures.empty() && i < b.board.Commands().size(); ++i) {
      if (b.board.Commands()[i].mnemonic == "RF") {
        EXPECT_EQ(b.board.Commands()[i - 1].mnemonic, "PURGE") << i;
      }
    }
    if (c.result == op::kSuccess) {
      EXPECT_EQ(b.link.FlashAddress, 4096);
      EXPECT_TRUE(std::equal(b.image.ImageBuffer.begin(), b.image.ImageBuffer.begin() + 16392,
                             TestImage().begin()));
    }
  }
}

}  // namespace
}  // namespace qvx::test
