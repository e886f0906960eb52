#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/fixtures.h"
#include "update/stages.h"

namespace qvx::test {
namespace {

using board::Call;

// Index into kStages of the latest stage whose blocks reached the board; -1 for none.
int LastStageTouched(const Rig& rig) {
  int last = -1;
  for (const auto& c : rig.board.Commands()) {
    for (int i = 0; i < static_cast<int>(kStages.size()); ++i) {
      if ((c.mnemonic == "WF" || c.mnemonic == "RF") && kStages[i].Contains(c.address)) {
        last = std::max(last, i);
      }
    }
  }
  return last;
}

TEST(FlashDevice, WritesTheStagesThatRunForTheBoardsFirmwareEveryTime) {
  struct Case {
    std::uint8_t firmware;
    int lastBarValue;
    std::vector<std::int32_t> execs;
  };
  const Case cases[] = {{0x11, 54, {0x07CE, 0x042C}}, {0x0F, 54, {0x07CE, 0x042C}}, {0x12, 52, {}}};
  for (const auto& c : cases) {
    Rig rig(c.firmware);
    // The bar is set to 0 twice, then each pass continues it from where the last one left it.
    std::vector<int> bar{0, 0};
    for (const Stage& stage : kStages) {
      if (stage.bootloader && c.execs.empty()) continue;
      for (int pass = 0; pass < 2; ++pass) {
        const int first = bar.back();
        for (int block = 0; block < stage.Blocks(); ++block) bar.push_back(first + block);
      }
    }
    for (int update = 0; update < 2; ++update) {  // the second without a restart
      ASSERT_TRUE(rig.Found());
      rig.view.values.clear();
      rig.Click(Button::FlashDevice);
      EXPECT_EQ(rig.form.OpResult, op::kSuccess);
      EXPECT_EQ(rig.board.Flash(), FlashAfterUpdate(TestImage(), c.firmware));
      EXPECT_EQ(rig.view.values, bar);
      EXPECT_EQ(std::make_pair(rig.view.values.back(), rig.view.maximum),
                std::make_pair(c.lastBarValue, 55));
    }
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_EQ(rig.Sent("EX").size(), 2 * c.execs.size());
    EXPECT_TRUE(std::equal(c.execs.begin(), c.execs.end(), rig.Sent("EX").begin()));
  }
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

// Message pumps of a clean update with the bootloader stage: one before each block.
// Step 2 write 1-4, verify 5-8; Step 3 9, 10; Step 4 11-12, 13-14; Step 1 15-38, 39-62.
TEST(FlashDevice, EachFailureShowsItsOneMessageAndTheWindowStartsAgain) {
  const char* const kBootloader =
      "Step 4 - Device communication error!  Data is corrupted!  ** DO "
      "NOT POWER OFF BOARD!! **  Re-try update!";
  struct Case {
    const char* name;
    std::uint8_t firmware;
    int armAtPump;  // 0: before the update
    std::function<void(board::VirtualBoard&)> arm;
    std::int16_t result;
    const char* title;
    std::string_view text;
    int lastStage;  // of the blocks the board saw
    std::size_t execs;
  };
  const auto& s = kStages;
  const Case cases[] = {
      {"step 2 write", 0x11, 1, Fail(Call::Write), -2, "Update Failure!", s[0].communicationText,
       -1, 0},
      {"step 2 verify", 0x11, 0, Corrupt(2 * 4096 + 100), -1, "Verify Failure!", s[0].verifyText, 0,
       0},
      {"step 3 write", 0x11, 9, Fail(Call::Write), -2, "Update Failure!", s[1].communicationText, 0,
       0},
      {"step 3 verify", 0x11, 0, Corrupt(10), -1, "Verify Failure!", s[1].verifyText, 1, 0},
      // After the last block of Step 3 come its "RF", then "EX" and "SI".
      {"first SI not sent", 0x11, 10, Fail(Call::Write, 3), -2, "Bootloader Failure!", kBootloader,
       1, 1},
      {"unplugged at EX", 0x11, 0, Unplug("EX", 1), -2, "Bootloader Failure!", kBootloader, 1, 1},
      {"step 4 write", 0x11, 11, Fail(Call::Write), -2, "Update Failure!", s[2].communicationText,
       1, 1},
      {"step 4 verify", 0x11, 0, Corrupt(2 * 1024 + 2048 + 5), -1, "Verify Failure!",
       s[2].verifyText, 2, 1},
      {"second SI not sent", 0x11, 14, Fail(Call::Write, 3), -2, "Bootloader Failure!", kBootloader,
       2, 2},
      {"step 1 write", 0x11, 15, Fail(Call::Write), -2, "Update Failure!", s[3].communicationText,
       2, 2},
      {"step 1 unplugged in the read-back", 0x12, 0, Unplug("RF", 20), -2, "Update Failure!",
       s[3].communicationText, 3, 0},
      {"step 1 verify", 0x12, 0, Corrupt(65535), -1, "Verify Failure!", s[3].verifyText, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.firmware);
    ASSERT_TRUE(rig.Found());
    const int pumpsBefore = rig.view.pumps;
    if (c.armAtPump == 0) c.arm(rig.board);
    rig.view.onPump = [&] {
      if (rig.view.pumps - pumpsBefore == c.armAtPump) c.arm(rig.board);
    };
    rig.Click(Button::FlashDevice);
    EXPECT_EQ(rig.form.OpResult, c.result);
    ASSERT_EQ(rig.view.boxes.size(), 1u);
    EXPECT_EQ(rig.view.boxes[0], (Message{std::string(c.text), c.title}));
    EXPECT_EQ(LastStageTouched(rig), c.lastStage);
    EXPECT_EQ(rig.Sent("EX").size(), c.execs);
    EXPECT_EQ(rig.view.shown, (Shown{{true, false, false, false}, false, "", ""}));
  }
}

// The operator closes the window mid-update: the unload closes the link, and nothing may touch
// the board or the window again.
TEST(FlashDevice, ACloseEndsTheUpdateAtThatPump) {
  const std::pair<int, std::function<void(board::VirtualBoard&)>> cases[] = {
      {1, nullptr},
      {2, Fail(Call::Write, 1)},
      // Step 2 reads back wrong: pump 9 is the one after its first comparison.
      {9, Corrupt(2 * 4096 + 9)},
      {62, nullptr},
  };
  for (const auto& [pump, fault] : cases) {
    SCOPED_TRACE(pump);
    Rig rig(0x11);
    ASSERT_TRUE(rig.Found());
    if (fault) fault(rig.board);
    rig.view.closeAtPump = rig.view.pumps + pump;
    std::size_t commands = 0;
    int purges = 0;
    rig.view.onPump = [&] {
      commands = rig.board.Commands().size();
      purges = rig.board.Purges();
    };
    rig.Click(Button::FlashDevice);
    EXPECT_NE(rig.form.OpResult, op::kSuccess);
    EXPECT_EQ(rig.view.callsAfterClose, 0);
    EXPECT_TRUE(rig.view.boxes.empty());
    EXPECT_FALSE(rig.board.IsOpen());
    EXPECT_EQ(std::make_pair(rig.board.Commands().size(), rig.board.Purges()),
              std::make_pair(commands, purges));
    EXPECT_EQ(rig.view.ended, 0);
  }
}

// Random transient faults in every update, and on some boards one persistent fault: every
// update either truly succeeds (the flash holds the image where it should, no box) or shows one
// box naming the stage it was in.
TEST(FaultCampaign, EveryUpdateSucceedsTrulyOrNamesItsStage) {
  constexpr int kSchedules = 1000;
  constexpr double kFaultsPerCall = 0.005;  // about one per update
  int wrong = 0;
  for (int seed = 0; seed < kSchedules; ++seed) {
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    const std::uint8_t firmware = std::array<std::uint8_t, 4>{0x11, 0x0F, 0x12, 0x05}[random() % 4];
    Rig rig(firmware);
    ASSERT_TRUE(rig.Found());
    rig.board.InjectRandomFaults(static_cast<std::uint32_t>(seed), kFaultsPerCall);
    bool corrupted = false;
    switch (random() % 6) {
      case 0: {
        const Stage& stage = kStages[random() % 4];
        corrupted = !stage.bootloader || RunsBootloader(firmware >> 4, firmware & 0x0F);
        rig.board.CorruptReadBack(2 * stage.address + random() % (4 * stage.words), true);
        break;
      }
      case 1:
        rig.board.UnplugAfter(random() % 2 ? "WF" : "RF", 1 + static_cast<int>(random() % 30));
        break;
      case 2:
        rig.board.SplitReplies(256 + random() % 1793);
        break;
      default:
        break;
    }
    int stageAtPump = -1;  // the stage of the block the engine was at when it last pumped
    rig.view.onPump = [&] {
      for (int i = 0; i < 4; ++i) {
        if (kStages[i].Contains(rig.form.Link.FlashAddress)) stageAtPump = i;
      }
    };
    rig.Click(Button::FlashDevice);

    const auto& boxes = rig.view.boxes;
    bool right;
    if (rig.form.OpResult == op::kSuccess) {
      right = !corrupted && boxes.empty() &&
              rig.board.Flash() == FlashAfterUpdate(TestImage(), firmware);
    } else if (boxes.size() != 1 || stageAtPump < 0) {
      right = false;
    } else {
      const bool bootloader = boxes[0].title == "Bootloader Failure!";
      right = bootloader
                  ? (stageAtPump == 1 || stageAtPump == 2)
                  : (boxes[0].text.starts_with(kStages[stageAtPump].step) &&
                     rig.form.RetryBudget == 0 &&
                     (boxes[0].title == "Verify Failure!") == (rig.form.OpResult == op::kFailure));
    }
    if (!right) {
      ++wrong;
      ADD_FAILURE() << "seed " << seed << ": OpResult " << rig.form.OpResult << ", " << boxes.size()
                    << " boxes" << (boxes.empty() ? "" : ": " + boxes[0].text);
    }
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace qvx::test
