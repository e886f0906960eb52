// The session's board operations through the virtual board: what an update sends, in what order,
// and the words each failure ends in.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/fixtures.h"

namespace qvx::test {
namespace {

using board::Call;
using Kind = Outcome::Kind;
using Cause = Outcome::Cause;

// What the board saw from `from` on, a word each: "P3" a purge with its mask, "WF 4096", "SI".
std::vector<std::string> Seen(const board::VirtualBoard& board, std::size_t from) {
  std::vector<std::string> seen;
  for (std::size_t i = from; i < board.Commands().size(); ++i) {
    const board::Command& c = board.Commands()[i];
    // Appended piece by piece: MinGW's GCC 12 takes `"P" + std::string` for an overlapping copy.
    std::string word = c.mnemonic == "PURGE" ? std::string("P") : c.mnemonic;
    if (c.mnemonic == "PURGE") {
      word.append(std::to_string(c.operand));
    } else if (c.mnemonic == "EX") {
      word.append(" ").append(std::to_string(c.operand));
    } else if (c.mnemonic != "SI") {
      word.append(" ").append(std::to_string(c.address));
    }
    seen.push_back(std::move(word));
  }
  return seen;
}

// An update as the board must see it: a purge of both buffers first and before every block,
// Step 1 purged once more between its write and its read-back, and the bootloader stage between
// "EX 1998" (purged after) and "EX 1068" (purged before), each followed by "SI".
std::vector<std::string> UpdateAsSeen(bool bootloader) {
  std::vector<std::string> seen{"P3"};
  const auto stage = [&seen](int first, int blocks, bool purgeBeforeReadBack) {
    for (const char* command : {"WF ", "RF "}) {
      if (purgeBeforeReadBack && command[0] == 'R') seen.push_back("P3");
      for (int b = 0; b < blocks; ++b) {
        seen.insert(seen.end(), {"P3", command + std::to_string(first + 1024 * b)});
      }
    }
  };
  stage(4096, 4, false);
  stage(0, 1, false);
  if (bootloader) {
    seen.insert(seen.end(), {"EX 1998", "P3", "SI"});
    stage(1024, 2, false);
    seen.insert(seen.end(), {"P3", "EX 1068", "SI"});
  }
  stage(8192, 24, true);
  return seen;
}

// Old firmware gets the bootloader stage, newer firmware none; the bar runs as the stages' table
// numbers it; a second update in the same session starts the bar at 0 again; a verify then reads
// back the plan for the firmware the board now reports and finds the image there.
TEST(Operations, AnUpdateSendsThePlanForTheBoardsFirmwareInOrder) {
  using Bar = std::vector<std::pair<int, int>>;  // each pass's first and last block number
  const Bar withStep4{{0, 3}, {3, 6}, {6, 6}, {6, 6}, {6, 7}, {7, 8}, {8, 31}, {31, 54}};
  const Bar withoutStep4{{0, 3}, {3, 6}, {6, 6}, {6, 6}, {6, 29}, {29, 52}};
  for (const std::uint8_t firmware : {0x11, 0x0F, 0x12}) {
    SCOPED_TRACE(firmware);
    const bool bootloader = firmware <= 0x11;
    Board b(firmware);
    std::vector<int> values;
    for (const auto& [first, last] : bootloader ? withStep4 : withoutStep4) {
      for (int n = first; n <= last; ++n) values.push_back(n);
    }
    for (int update = 0; update < 2; ++update) {
      b.board.SetWrittenFirmware(firmware);  // as it was before the first
      ASSERT_TRUE(b.Found());
      b.board.SetWrittenFirmware(0x16);
      b.events.values.clear();
      b.events.steps.clear();
      const std::size_t from = b.board.Commands().size();
      EXPECT_EQ(b.session.Update({}).kind(), Kind::Done);
      EXPECT_EQ(Seen(b.board, from), UpdateAsSeen(bootloader));
      EXPECT_EQ(b.board.Flash(), FlashAfterUpdate(TestImage(), firmware));
      EXPECT_EQ(b.events.values, values);
      EXPECT_EQ(b.events.steps, (bootloader ? std::vector{2, 3, 4, 1} : std::vector{2, 3, 1}));
    }
    // The board now runs 1.6, whose update has no bootloader stage, and neither has its check.
    b.events.steps.clear();
    const std::size_t from = b.board.Commands().size();
    EXPECT_EQ(b.session.Verify().kind(), Kind::Done);
    EXPECT_EQ(b.events.steps, (std::vector{2, 3, 1}));
    EXPECT_EQ(Sent(b.board, "RF", from).size(), 29U);
  }
}

// The stop questions of a clean update with the bootloader stage: one before each block.
// Step 2 write 1-4, verify 5-8; Step 3 9, 10; Step 4 11-12, 13-14; Step 1 15-38, 39-62. The
// failures of one update each end it with one message; the last step whose blocks reached the
// board tells that no later stage ran.
TEST(Operations, EachFailureEndsInItsOutcomeAndWords) {
  const std::string update = "Update Failure!", verify = "Verify Failure!",
                    boot = "Bootloader Failure!", none = "";
  const std::string comm = " - Device communication error - Corruption possible!  ",
                    differs = " - Device verify error!  Data is corrupted!  ",
                    noPowerOff = "** DO NOT POWER OFF BOARD!! **  ", retry = "Re-try update!",
                    bootText = "Step 4 - Device communication error!  Data is corrupted!  ",
                    written = " (FT_Write returned FT_IO_ERROR)",
                    read = " (FT_Read returned FT_IO_ERROR and no bytes within the read timeout)";
  const auto fail = [](Call call, int nth) {
    return [=](board::VirtualBoard& b) { b.FailCall(call, nth, ft::IO_ERROR); };
  };
  const auto corrupt = [](std::size_t byte) {
    return [=](board::VirtualBoard& b) { b.CorruptReadBack(byte, true); };
  };
  const auto dump = std::filesystem::temp_directory_path() /
                    ("qvx-dump-" + std::to_string(std::random_device{}()));
  enum class Run { Update, Verify, Dump };
  struct Case {
    Run run;
    std::uint8_t firmware;
    int armAtAsk;  // 0: before the operation
    std::function<void(board::VirtualBoard&)> arm;
    Cause cause;
    int step;
    std::string title, text;
    int lastStep;  // of the blocks the board saw; 0 none
    std::size_t execs;
  };
  const Case cases[] = {
      {Run::Update, 0x11, 1, fail(Call::Write, 0), Cause::Communication, 2, update,
       "Step 2" + comm + retry + written, 0, 0},
      {Run::Update, 0x11, 0, corrupt(2 * 4096 + 100), Cause::Differs, 2, verify,
       "Step 2" + differs + retry, 2, 0},
      {Run::Update, 0x11, 9, fail(Call::Write, 0), Cause::Communication, 3, update,
       "Step 3" + comm + noPowerOff + retry + written, 2, 0},
      {Run::Update, 0x11, 0, corrupt(10), Cause::Differs, 3, verify,
       "Step 3" + differs + noPowerOff + retry, 3, 0},
      // After the last block of Step 3 come its "RF", then "EX" and "SI".
      {Run::Update, 0x11, 10, fail(Call::Write, 3), Cause::Bootloader, 4, boot,
       bootText + noPowerOff + retry + written, 3, 1},
      {Run::Update, 0x11, 11, fail(Call::Write, 0), Cause::Communication, 4, update,
       "Step 2" + comm + retry + written, 3, 1},
      {Run::Update, 0x11, 0, corrupt(2 * 1024 + 2048 + 5), Cause::Differs, 4, verify,
       "Step 4" + differs + retry, 4, 1},
      {Run::Update, 0x11, 14, fail(Call::Write, 3), Cause::Bootloader, 4, boot,
       bootText + noPowerOff + retry + written, 4, 2},
      {Run::Update, 0x11, 15, fail(Call::Write, 0), Cause::Communication, 1, update,
       "Step 1" + comm + retry + written, 4, 2},
      {Run::Update, 0x12, 0, corrupt(65535), Cause::Differs, 1, verify, "Step 1" + differs + retry,
       1, 0},
      {Run::Verify, 0x11, 0, fail(Call::Read, 0), Cause::Communication, 2, none,
       "Step 2 - Device communication error while reading back!" + read, 2, 0},
      {Run::Dump, 0x11, 0, fail(Call::Read, 0), Cause::Communication, 0, none,
       "Device communication error while reading the flash!" + read, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Board b(c.firmware);
    ASSERT_TRUE(b.Found());
    if (c.armAtAsk == 0) c.arm(b.board);
    b.events.onAsk = [&] {
      if (b.events.asks == c.armAtAsk) c.arm(b.board);
    };
    const Outcome ended = c.run == Run::Update   ? b.session.Update({})
                          : c.run == Run::Verify ? b.session.Verify()
                                                 : b.session.Dump(dump, true);
    EXPECT_EQ(std::make_tuple(ended.kind(), ended.cause(), ended.step()),
              std::make_tuple(Kind::Failed, c.cause, c.step));
    EXPECT_EQ(std::make_pair(ended.message().title, ended.Text()), std::make_pair(c.title, c.text));
    int lastStep = 0;
    for (const auto& command : b.board.Commands()) {
      for (const Region& r : kRegions) {
        const bool block = command.mnemonic == "WF" || command.mnemonic == "RF";
        if (block && command.address >= r.first && command.address < r.end) lastStep = r.step;
      }
    }
    EXPECT_EQ(std::make_pair(lastStep, Sent(b.board, "EX").size()),
              std::make_pair(c.lastStep, c.execs));
    EXPECT_FALSE(std::filesystem::exists(dump));
  }
}

// A verify names every stage that differs, with its first address and its blocks.
TEST(Operations, AVerifyNamesEveryStageThatDiffers) {
  Board b(0x11);
  ASSERT_TRUE(b.Found());
  ASSERT_EQ(b.session.Update({}).kind(), Kind::Done);
  b.board.SetWrittenFirmware(0x11);  // so that the check takes in the bootloader stage
  ASSERT_TRUE(b.Found());
  for (const int byte : {2 * 0x0402, 2 * 0x2403 + 1, 2 * 0x7C00}) b.board.Flash()[byte] ^= 0xFF;
  const Outcome verified = b.session.Verify();
  EXPECT_EQ(verified.cause(), Cause::Differs);
  EXPECT_EQ(verified.Text(),
            "Step 4: first difference at 0x0402, 1 block differs; "
            "Step 1: first difference at 0x2403, 2 blocks differ");
  EXPECT_EQ(verified.differences(), (std::vector<Difference>{{4, 0x0402, 1}, {1, 0x2403, 2}}));
}

// The check after an update reads back only what an "EX" could have changed since the update
// compared it: the stages before the last "EX", none at all without the bootloader stage.
TEST(Operations, TheCheckAfterReadsWhatAnExCouldChangeAndCatchesIt) {
  UpdatePolicy checked;
  checked.checkAfter = true;
  for (const auto& [firmware, changedAtEx, readBack, cause] :
       {std::tuple{0x12, false, std::size_t{29}, Cause::None},
        {0x11, false, std::size_t{38}, Cause::None},
        {0x11, true, std::size_t{38}, Cause::Differs}}) {
    Board b(static_cast<std::uint8_t>(firmware));
    ASSERT_TRUE(b.Found());
    if (changedAtEx) b.board.AfterCommand("EX", 2, [&b] { b.board.Flash()[2 * 4096 + 5] ^= 1; });
    const Outcome updated = b.session.Update(checked);
    EXPECT_EQ(std::make_pair(updated.cause(), Sent(b.board, "RF").size()),
              std::make_pair(cause, readBack));
    if (changedAtEx) {
      EXPECT_EQ(updated.Text(), "Step 2: first difference at 0x1002, 1 block differs");
    }
  }
}

// An image refused at a later Find Device is refused for the update too: the session never
// writes one it decoded before.
TEST(Operations, AnImageRefusedLaterIsNeverWritten) {
  int loads = 0;
  Board b(0x12, [&loads](std::string_view, int) {
    return ++loads == 1 ? std::optional(TestContainer()) : std::nullopt;
  });
  ASSERT_TRUE(b.Found());
  EXPECT_EQ(b.session.Identify().cause(), Cause::ImageRefused);
  EXPECT_EQ(b.session.Update({}).cause(), Cause::ImageRefused);
  EXPECT_TRUE(Sent(b.board, "WF").empty());
}

}  // namespace
}  // namespace qvx::test
