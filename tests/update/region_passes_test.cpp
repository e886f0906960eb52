#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "update_rig.h"

namespace qvx::test {
namespace {

using board::Call;

int Sum(const std::vector<int>& v) {
  return std::accumulate(v.begin(), v.end(), 0);
}

// Fails `perBlock[i]` attempts in a row at block i, through the first call of that kind each
// attempt makes: the command write (which ends the attempt, so the board never sees half a
// block) or the reply read.
void FailAttempts(board::VirtualBoard& board, Call call, const std::vector<int>& perBlock) {
  const int callsOfSuccess = call == Call::Write ? 2 : 1;  // a write also sends its data
  int number = 0;
  for (int failures : perBlock) {
    for (int i = 0; i < failures; ++i) board.FailCall(call, ++number, ft::IO_ERROR);
    number += callsOfSuccess;
  }
}

TEST(RegionPasses, ContinueTheBarFromWhereItStands) {
  struct Case {
    Region region;
    int start;
    std::vector<int> writeValues, verifyValues;
  };
  const Case cases[] = {
      {kStep2, 0, {0, 1, 2, 3}, {3, 4, 5, 6}},
      {kStep3, 6, {6}, {6}},
      {{kStep3.address, 0}, 5, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.region.words);
    UpdateRig rig;
    const auto commandsBefore = rig.board.Commands().size();
    rig.window.value = c.start;
    rig.PrepareWrite(c.region);
    rig.engine.WriteRegion();
    EXPECT_EQ(rig.opResult, 0);
    EXPECT_EQ(rig.window.values, c.writeValues);
    rig.window.values.clear();
    rig.PrepareVerify(c.region);
    rig.engine.VerifyRegion();
    EXPECT_EQ(rig.opResult, 0);
    EXPECT_EQ(rig.window.values, c.verifyValues);
    EXPECT_TRUE(rig.Written(c.region));
    if (c.region.words == 0) {
      EXPECT_EQ(rig.board.Commands().size(), commandsBefore);
    }
  }
}

// One budget per pass. Failed writes are each followed by a message pump; failed reads are
// retried at once, without one.
TEST(RegionPasses, Budget) {
  struct Case {
    const char* name;
    std::vector<int> failuresPerBlock;  // over the four blocks of the region
    std::int16_t result;
    int failedBlock;  // where the pass stopped, when it failed
  };
  const Case cases[] = {
      {"49 spread", {12, 12, 12, 13}, 0, -1},
      {"50th in a block that failed before", {12, 12, 12, 14}, -2, 3},
      {"50th is the block's first", {25, 24, 0, 1}, -2, 3},
      {"50 on one block", {0, 50, 0, 0}, -2, 1},
  };
  for (const Call call : {Call::Write, Call::Read}) {
    SCOPED_TRACE(call == Call::Write ? "write pass" : "verify pass");
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      UpdateRig rig;
      rig.PrepareWrite(kStep2);
      if (call == Call::Read) {
        rig.engine.WriteRegion();
        rig.window.pumps = 0;
      }
      FailAttempts(rig.board, call, c.failuresPerBlock);
      if (call == Call::Write) {
        rig.engine.WriteRegion();
      } else {
        rig.PrepareVerify(kStep2);
        rig.engine.VerifyRegion();
      }
      EXPECT_EQ(rig.opResult, c.result);
      const int blocksReached = c.result == 0 ? 4 : c.failedBlock + 1;
      const int failures = std::min(50, Sum(c.failuresPerBlock));
      EXPECT_EQ(rig.window.pumps, blocksReached + (call == Call::Write ? failures : 0));
      EXPECT_EQ(rig.Written(kStep2), c.result == 0 || call == Call::Read);
      if (c.result != 0) {
        EXPECT_EQ(rig.link.FlashAddress, kStep2.address + 1024 * c.failedBlock);
        EXPECT_EQ(rig.link.BufferOffset, ImageOffset(kStep2.address) + 2048 * c.failedBlock);
        EXPECT_EQ(rig.engine.RetryBudget, 0);
      }
    }
  }
}

// A block that reads back wrong is read again, alone and into its own place.
TEST(RegionPasses, VerifyReadsDifferingBlocksAgain) {
  struct Case {
    const char* name;
    bool persistent;
    std::vector<int> readFailures;
    std::int16_t result;
    int rereads, differencesFound;
  };
  const Case cases[] = {
      {"transient", false, {}, 0, 1, 1},
      {"persistent", true, {}, -1, 49, 50},
      {"persistent after failed reads", true, {10, 0, 0, 0}, -1, 39, 40},
      {"transient after 49 failed reads", false, {49, 0, 0, 0}, -1, 0, 1},
  };
  constexpr std::size_t kBadByte = 2 * 4096 + 2048 * 2 + 77;  // in the third block
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateRig rig;
    rig.PrepareWrite(kStep2);
    rig.engine.WriteRegion();
    rig.window.pumps = 0;
    const auto commandsBefore = rig.board.Commands().size();
    rig.board.CorruptReadBack(kBadByte, c.persistent);
    FailAttempts(rig.board, Call::Read, c.readFailures);
    rig.PrepareVerify(kStep2);
    rig.engine.VerifyRegion();
    EXPECT_EQ(rig.opResult, c.result);
    EXPECT_EQ(rig.window.pumps, 4 + c.differencesFound);
    // The first read-back of the region, then the re-reads of the bad block only.
    const auto& commands = rig.board.Commands();
    ASSERT_EQ(commands.size(), commandsBefore + 4 + Sum(c.readFailures) + c.rereads);
    for (auto i = commands.size() - c.rereads; i < commands.size(); ++i) {
      EXPECT_EQ(commands[i].mnemonic, "RF");
      EXPECT_EQ(commands[i].address, 4096 + 2048);
    }
    // Nothing lands outside the region.
    const auto begin = rig.decoded.begin(), now = rig.image.ImageBuffer.begin();
    const auto first = ImageOffset(kStep2.address), end = ImageOffset(kStep2.address + 4096);
    EXPECT_TRUE(std::equal(begin, begin + first, now));
    EXPECT_TRUE(std::equal(begin + end, rig.decoded.end(), now + end));
    if (c.result == 0) {
      EXPECT_EQ(rig.link.FlashAddress, kStep2.address);
      EXPECT_EQ(rig.link.BufferOffset, end);
      EXPECT_EQ(rig.image.ImageBuffer, rig.decoded);
    }
  }
}

// A board that holds other data than the image must not pass, whichever region it is.
TEST(RegionPasses, VerifyComparesTheRegionItRead) {
  for (const Region region : {kStep3, kStep4, kStep2, kStep1}) {
    SCOPED_TRACE(region.address);
    UpdateRig rig;
    rig.PrepareWrite(region);
    rig.engine.WriteRegion();
    auto& flash = rig.board.Flash();
    flash[static_cast<std::size_t>(2 * region.address + 4 * region.words - 1)] ^= 0x01;
    rig.PrepareVerify(region);
    rig.engine.VerifyRegion();
    EXPECT_EQ(rig.opResult, -1);
  }
}

}  // namespace
}  // namespace qvx::test
