// The session's board operations through the virtual board: what each writes and reads, and how
// each ends, for every failure the board can produce.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/image_format.h"
#include "support/fixtures.h"
#include "update/stages.h"

namespace qvx::test {
namespace {

using board::Call;
using Kind = Outcome::Kind;
using Cause = Outcome::Cause;

// Index into kStages of the latest stage whose blocks reached the board; -1 for none.
int LastStageTouched(const board::VirtualBoard& board) {
  int last = -1;
  for (const auto& c : board.Commands()) {
    for (int i = 0; i < static_cast<int>(kStages.size()); ++i) {
      if ((c.mnemonic == "WF" || c.mnemonic == "RF") && kStages[i].Contains(c.address)) {
        last = std::max(last, i);
      }
    }
  }
  return last;
}

// Old firmware gets the bootloader stage between two "EX", newer firmware neither; a verify
// reads back exactly the stages an update writes, so each board verifies clean after its update.
TEST(Operations, FlashAndVerifyRunThePlanForTheBoardsFirmware) {
  struct Case {
    std::uint8_t firmware;
    std::vector<int> steps;
    std::vector<std::int32_t> execs;
  };
  const Case cases[] = {{0x11, {2, 3, 4, 1}, {0x07CE, 0x042C}},
                        {0x0F, {2, 3, 4, 1}, {0x07CE, 0x042C}},
                        {0x12, {2, 3, 1}, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firmware);
    Board b(c.firmware);
    // Each pass numbers its blocks on from where the last one ended.
    std::vector<int> numbers;
    int blocks = 0;
    for (const Stage& stage : kStages) {
      if (stage.bootloader && c.execs.empty()) continue;
      blocks += stage.Blocks();
      for (int pass = 0; pass < 2; ++pass) {
        const int first = numbers.empty() ? 0 : numbers.back();
        for (int block = 0; block < stage.Blocks(); ++block) numbers.push_back(first + block);
      }
    }
    // "EX" is followed by a purge when it enters the bootloader, preceded by one when it leaves.
    int purgesAtExec = -1;
    std::vector<int> purgesBetweenExecAndSI;
    b.board.AfterCommand("EX", 0, [&] { purgesAtExec = b.board.Purges(); });
    b.board.AfterCommand("SI", 0, [&] {
      if (purgesAtExec >= 0) purgesBetweenExecAndSI.push_back(b.board.Purges() - purgesAtExec);
      purgesAtExec = -1;
    });
    for (int update = 0; update < 2; ++update) {  // the second in the same session
      ASSERT_TRUE(b.Found());
      b.events.values.clear();
      b.events.steps.clear();
      EXPECT_EQ(b.session.Flash().kind, Kind::Done);
      EXPECT_EQ(b.board.Flash(), FlashAfterUpdate(TestImage(), c.firmware));
      EXPECT_EQ(b.events.values, numbers);
      EXPECT_EQ(b.events.steps, c.steps);
      EXPECT_EQ(std::make_pair(b.events.blocks, b.events.done),
                std::make_pair(2 * blocks, 2 * blocks));
    }
    const std::vector<int> aroundExec{1, 0, 1, 0};
    EXPECT_EQ(purgesBetweenExecAndSI, c.execs.empty() ? std::vector<int>{} : aroundExec);
    EXPECT_EQ(Sent(b.board, "EX").size(), 2 * c.execs.size());
    EXPECT_TRUE(std::equal(c.execs.begin(), c.execs.end(), Sent(b.board, "EX").begin()));

    b.events.steps.clear();
    EXPECT_EQ(b.session.Verify().kind, Kind::Done);
    EXPECT_EQ(b.events.steps, c.steps);
    EXPECT_EQ(std::make_pair(b.events.blocks, b.events.done), std::make_pair(blocks, blocks));
  }
  // A verify names every stage that differs, with its first address and its blocks.
  Board b(0x11);
  ASSERT_TRUE(b.Found());
  ASSERT_EQ(b.session.Flash().kind, Kind::Done);
  b.board.Flash()[2 * 0x0402] ^= 0xFF;
  b.board.Flash()[2 * 0x2403 + 1] ^= 0xFF;
  b.board.Flash()[2 * 0x7C00] ^= 0xFF;
  const Outcome verified = b.session.Verify();
  EXPECT_EQ(std::make_pair(verified.kind, verified.cause),
            std::make_pair(Kind::Failed, Cause::Differs));
  EXPECT_EQ(verified.Text(),
            "Step 4: first difference at 0x0402, 1 block differs; "
            "Step 1: first difference at 0x2403, 2 blocks differ");
  EXPECT_EQ(verified.differences, (std::vector<Difference>{{4, 0x0402, 1}, {1, 0x2403, 2}}));
}

// Fails the `nth` call of a kind, or with 0 every one.
auto Fail(Call call, int nth = 0) {
  return [=](board::VirtualBoard& b) { b.FailCall(call, nth, ft::IO_ERROR); };
}
auto Corrupt(std::size_t flashByte) {
  return [flashByte](board::VirtualBoard& b) { b.CorruptReadBack(flashByte, true); };
}
auto Unplug(const char* mnemonic, int nth) {
  return [=](board::VirtualBoard& b) { b.UnplugAfter(mnemonic, nth); };
}

// The stop questions of a clean update with the bootloader stage: one before each block.
// Step 2 write 1-4, verify 5-8; Step 3 9, 10; Step 4 11-12, 13-14; Step 1 15-38, 39-62.
TEST(Operations, EachFailureOfAnUpdateEndsInItsOutcomeAndWords) {
  const char* const kStep2Comm =
      "Step 2 - Device communication error - Corruption possible!  Re-try update!";
  const char* const kBootloader =
      "Step 4 - Device communication error!  Data is corrupted!  ** DO NOT POWER OFF BOARD!! **  "
      "Re-try update!";
  const char* const kWriteFailed = "FT_Write returned FT_IO_ERROR";
  struct Case {
    const char* name;
    std::uint8_t firmware;
    int armAtAsk;  // 0: before the update
    std::function<void(board::VirtualBoard&)> arm;
    Cause cause;
    int step;
    const char* title;
    const char* text;
    const char* call;  // "": none
    int lastStage;     // of the blocks the board saw
    std::size_t execs;
  };
  const Case cases[] = {
      {"step 2 write", 0x11, 1, Fail(Call::Write), Cause::Communication, 2, "Update Failure!",
       kStep2Comm, kWriteFailed, -1, 0},
      {"step 2 verify", 0x11, 0, Corrupt(2 * 4096 + 100), Cause::Differs, 2, "Verify Failure!",
       "Step 2 - Device verify error!  Data is corrupted!  Re-try update!", "", 0, 0},
      {"step 3 write", 0x11, 9, Fail(Call::Write), Cause::Communication, 3, "Update Failure!",
       "Step 3 - Device communication error - Corruption possible!  ** DO NOT POWER OFF BOARD!! "
       "**  Re-try update!",
       kWriteFailed, 0, 0},
      {"step 3 verify", 0x11, 0, Corrupt(10), Cause::Differs, 3, "Verify Failure!",
       "Step 3 - Device verify error!  Data is corrupted!  ** DO NOT POWER OFF BOARD!! **  "
       "Re-try update!",
       "", 1, 0},
      // After the last block of Step 3 come its "RF", then "EX" and "SI".
      {"first SI not sent", 0x11, 10, Fail(Call::Write, 3), Cause::Bootloader, 4,
       "Bootloader Failure!", kBootloader, kWriteFailed, 1, 1},
      {"unplugged at EX", 0x11, 0, Unplug("EX", 1), Cause::Bootloader, 4, "Bootloader Failure!",
       kBootloader, kWriteFailed, 1, 1},
      {"step 4 write", 0x11, 11, Fail(Call::Write), Cause::Communication, 4, "Update Failure!",
       kStep2Comm, kWriteFailed, 1, 1},
      {"step 4 verify", 0x11, 0, Corrupt(2 * 1024 + 2048 + 5), Cause::Differs, 4, "Verify Failure!",
       "Step 4 - Device verify error!  Data is corrupted!  Re-try update!", "", 2, 1},
      {"second SI not sent", 0x11, 14, Fail(Call::Write, 3), Cause::Bootloader, 4,
       "Bootloader Failure!", kBootloader, kWriteFailed, 2, 2},
      {"step 1 write", 0x11, 15, Fail(Call::Write), Cause::Communication, 1, "Update Failure!",
       "Step 1 - Device communication error - Corruption possible!  Re-try update!", kWriteFailed,
       2, 2},
      {"step 1 unplugged in the read-back", 0x12, 0, Unplug("RF", 20), Cause::Communication, 1,
       "Update Failure!",
       "Step 1 - Device communication error - Corruption possible!  Re-try update!", kWriteFailed,
       3, 0},
      {"step 1 verify", 0x12, 0, Corrupt(65535), Cause::Differs, 1, "Verify Failure!",
       "Step 1 - Device verify error!  Data is corrupted!  Re-try update!", "", 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Board b(c.firmware);
    ASSERT_TRUE(b.Found());
    if (c.armAtAsk == 0) c.arm(b.board);
    b.events.onAsk = [&] {
      if (b.events.asks == c.armAtAsk) c.arm(b.board);
    };
    const Outcome flashed = b.session.Flash();
    EXPECT_EQ(std::make_tuple(flashed.kind, flashed.cause, flashed.step),
              std::make_tuple(Kind::Failed, c.cause, c.step));
    EXPECT_EQ(flashed.message, Message(c.text, c.title));
    EXPECT_EQ(flashed.call ? flashed.call->Text() : "", c.call);
    EXPECT_EQ(b.session.Engine.OpResult,
              c.cause == Cause::Differs ? op::kFailure : op::kCommFailure);
    EXPECT_EQ(LastStageTouched(b.board), c.lastStage);
    EXPECT_EQ(Sent(b.board, "EX").size(), c.execs);
  }
}

// Reading back fails for good in a verify and in a dump; a stop ends any operation at the
// question it answers, with no driver call after it.
TEST(Operations, ReadFailuresAndStopsEndEveryOperationAsTheyShould) {
  const auto dump = std::filesystem::temp_directory_path() /
                    ("qvx-dump-" + std::to_string(std::random_device{}()));
  using Run = std::function<Outcome(Board&)>;
  const Run flash = [](Board& b) { return b.session.Flash(); };
  const Run verify = [](Board& b) { return b.session.Verify(); };
  const Run dumpTo = [&dump](Board& b) { return b.session.Dump(dump, true); };
  struct Case {
    const char* name;
    Run run;
    int stopAt;  // 0: the board fails instead
    Kind kind;
    std::string text;
  };
  const Case cases[] = {
      {"verify, reads fail", verify, 0, Kind::Failed,
       "Step 2 - Device communication error while reading back! (FT_Read returned "
       "FT_IO_ERROR and no bytes within the read timeout)"},
      {"dump, reads fail", dumpTo, 0, Kind::Failed,
       "Device communication error while reading the flash! (FT_Read returned FT_IO_ERROR and "
       "no bytes within the read timeout)"},
      {"flash, stopped in step 2", flash, 3, Kind::Cancelled, ""},
      {"flash, stopped in step 3", flash, 10, Kind::Cancelled, ""},
      {"flash, stopped in step 4", flash, 12, Kind::Cancelled, ""},
      {"flash, stopped in step 1", flash, 50, Kind::Cancelled, ""},
      {"verify, stopped", verify, 8, Kind::Cancelled, ""},
      {"dump, stopped", dumpTo, 31, Kind::Cancelled, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Board b;
    ASSERT_TRUE(b.Found());
    if (c.stopAt == 0) b.board.FailCall(Call::Read, 0, ft::IO_ERROR);
    b.events.stopAt = c.stopAt;
    std::size_t commands = 0;
    int purges = 0;
    b.events.onAsk = [&] {
      commands = b.board.Commands().size();
      purges = b.board.Purges();
    };
    const Outcome ended = c.run(b);
    EXPECT_EQ(ended.kind, c.kind);
    EXPECT_EQ(ended.Text(), c.text);
    if (c.stopAt != 0) {
      EXPECT_EQ(b.events.asks, c.stopAt);
      EXPECT_EQ(std::make_pair(b.board.Commands().size(), b.board.Purges()),
                std::make_pair(commands, purges));
    }
    EXPECT_FALSE(std::filesystem::exists(dump));
  }
}

// Random transient faults in every update, and on some boards one persistent fault: every
// update either truly succeeds (the flash holds the image where it should) or fails naming the
// stage it was in.
TEST(FaultCampaign, EveryUpdateSucceedsTrulyOrNamesItsStage) {
  constexpr int kSchedules = 1000;
  constexpr double kFaultsPerCall = 0.005;  // about one per update
  int wrong = 0;
  int faulted = 0;
  for (int seed = 0; seed < kSchedules; ++seed) {
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    const std::uint8_t firmware = std::array<std::uint8_t, 4>{0x11, 0x0F, 0x12, 0x05}[random() % 4];
    Board b(firmware);
    ASSERT_TRUE(b.Found());
    b.board.InjectRandomFaults(static_cast<std::uint32_t>(seed), kFaultsPerCall);
    bool corrupted = false;
    switch (random() % 6) {
      case 0: {
        const Stage& stage = kStages[random() % 4];
        const auto plan = PlanFor(firmware >> 4, firmware & 0x0F);
        corrupted = std::ranges::count(plan, stage.step, &Stage::step) > 0;
        b.board.CorruptReadBack(2 * stage.address + random() % (4 * stage.words), true);
        break;
      }
      case 1:
        b.board.UnplugAfter(random() % 2 ? "WF" : "RF", 1 + static_cast<int>(random() % 30));
        break;
      case 2:
        b.board.SplitReplies(256 + random() % 1793);
        break;
      default:
        break;
    }
    int stepAtAsk = -1;  // the step of the block the engine was at when it last asked
    b.events.onAsk = [&] {
      for (const Stage& stage : kStages) {
        if (stage.Contains(b.session.Link.FlashAddress)) stepAtAsk = stage.step;
      }
    };
    const Outcome flashed = b.session.Flash();
    faulted += b.board.FaultLog().empty() ? 0 : 1;

    bool right;
    if (flashed.kind == Kind::Done) {
      right = !corrupted && b.board.Flash() == FlashAfterUpdate(TestImage(), firmware);
    } else if (flashed.kind != Kind::Failed) {
      right = false;
    } else if (flashed.cause == Cause::Bootloader) {
      right = stepAtAsk == 3 || stepAtAsk == 4;
    } else {
      right = flashed.step == stepAtAsk && b.session.Engine.RetryBudget == 0 &&
              (flashed.cause == Cause::Differs) == (b.session.Engine.OpResult == op::kFailure);
    }
    if (!right) {
      ++wrong;
      ADD_FAILURE() << "seed " << seed << ": " << flashed.Text();
    }
  }
  EXPECT_GT(faulted, kSchedules / 2);  // the campaign did meet faults
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace qvx::test
