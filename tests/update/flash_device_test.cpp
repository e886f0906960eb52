#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "expected_messages.h"
#include "update_rig.h"

namespace qvx::test {
namespace {

using board::Call;

// The update's block addresses, in the order the stages run.
std::vector<std::int32_t> BlockAddresses(std::uint8_t firmware) {
  std::vector<std::int32_t> addresses;
  for (const Stage& stage : kStages) {
    if (stage.region.address == kStep4.address && !RunsBootloader(firmware)) continue;
    for (std::int32_t a = 0; a < 2 * stage.region.words; a += 1024) {
      addresses.push_back(stage.region.address + a);
    }
  }
  return addresses;
}

TEST(FlashDevice, WritesAndVerifiesEveryStage) {
  const std::pair<std::uint8_t, int> cases[] = {{0x11, 54}, {0x0F, 54}, {0x12, 52}};
  for (const auto& [firmware, barEnd] : cases) {
    SCOPED_TRACE(firmware);
    UpdateRig rig(firmware);
    rig.engine.FlashDevice();
    EXPECT_EQ(rig.opResult, 0);
    EXPECT_TRUE(rig.window.boxes.empty());
    EXPECT_FALSE(rig.window.buttons[1] || rig.window.buttons[2]);
    EXPECT_TRUE(rig.window.progressVisible);
    EXPECT_EQ(rig.window.maximum, 55);
    EXPECT_EQ(rig.window.status, "Flashing device...");
    EXPECT_EQ(rig.window.value, barEnd);
    EXPECT_TRUE(rig.Updated(firmware));
    // Stage order, and no block outside the stages (the header would go to none).
    EXPECT_EQ(rig.Sent("WF", &board::Command::address), BlockAddresses(firmware));
    EXPECT_EQ(rig.Sent("RF", &board::Command::address), BlockAddresses(firmware));
    const std::vector<std::int32_t> execs = RunsBootloader(firmware)
                                                ? std::vector<std::int32_t>{0x07CE, 0x042C}
                                                : std::vector<std::int32_t>{};
    EXPECT_EQ(rig.Sent("EX", &board::Command::operand), execs);
    EXPECT_FALSE(rig.board.InBootloader());
  }
}

TEST(FlashDevice, SecondUpdateStartsTheBarAtZero) {
  UpdateRig rig(0x11);
  rig.engine.FlashDevice();
  const auto first = rig.window.values;
  rig.window.values.clear();
  rig.image.ImageBuffer = rig.decoded;  // "Find Device" decodes the image afresh
  rig.engine.FlashDevice();
  EXPECT_EQ(rig.opResult, 0);
  EXPECT_EQ(rig.window.values, first);
  EXPECT_EQ(first.front(), 0);
}

auto FailEvery(Call call) {
  return [call](board::VirtualBoard& b) { b.FailCall(call, 0, ft::IO_ERROR); };
}
auto Corrupt(std::size_t flashByte) {
  return [flashByte](board::VirtualBoard& b) { b.CorruptReadBack(flashByte, true); };
}

// Message pumps of a clean update with the bootloader stage: one before each block.
// Step 2 write 1-4, verify 5-8; Step 3 9, 10; Step 4 11-12, 13-14; Step 1 15-38, 39-62.
TEST(FlashDevice, EachFailureShowsItsOneMessage) {
  struct Case {
    const char* name;
    std::uint8_t firmware;
    int armAtPump;  // 0: arm before the update
    std::function<void(board::VirtualBoard&)> arm;
    std::int16_t result;
    const char* title;
    const char* text;
    int lastStage;  // of the blocks the board saw; a failed write delivers nothing
    std::size_t execs;
  };
  const Case cases[] = {
      {"step 2 write", 0x11, 1, FailEvery(Call::Write), -2, "Update Failure!", kStep2Comm, -1, 0},
      {"step 2 verify", 0x11, 0, Corrupt(2 * 4096 + 100), -1, "Verify Failure!",
       "Step 2 - Device verify error!  Data is corrupted!  Re-try update!", 0, 0},
      {"step 3 write", 0x11, 9, FailEvery(Call::Write), -2, "Update Failure!", kStep3Comm, 0, 0},
      {"step 3 verify", 0x11, 0, Corrupt(10), -1, "Verify Failure!",
       "Step 3 - Device verify error!  Data is corrupted!  ** DO NOT POWER OFF BOARD!! **  "
       "Re-try update!",
       1, 0},
      // After the last block of Step 3 come its "RF", then "EX" and "SI".
      {"first SI not sent", 0x11, 10,
       [](board::VirtualBoard& b) { b.FailCall(Call::Write, 3, ft::IO_ERROR); }, -2,
       "Bootloader Failure!", kBootloader, 1, 1},
      {"first SI unanswered", 0x0F, 10, [](board::VirtualBoard& b) { b.SwallowReply("SI", 1); }, -2,
       "Bootloader Failure!", kBootloader, 1, 1},
      {"step 4 write", 0x11, 11, FailEvery(Call::Write), -2, "Update Failure!", kStep4Comm, 1, 1},
      {"step 4 verify", 0x11, 0, Corrupt(2 * 1024 + 2048 + 5), -1, "Verify Failure!",
       "Step 4 - Device verify error!  Data is corrupted!  Re-try update!", 2, 1},
      {"second SI not sent", 0x11, 14,
       [](board::VirtualBoard& b) { b.FailCall(Call::Write, 3, ft::IO_ERROR); }, -2,
       "Bootloader Failure!", kBootloader, 2, 2},
      {"step 1 write", 0x11, 15, FailEvery(Call::Write), -2, "Update Failure!", kStep1Comm, 2, 2},
      {"step 1 read-back", 0x12, 35, FailEvery(Call::Read), -2, "Update Failure!", kStep1Comm, 3,
       0},
      {"step 1 verify", 0x12, 0, Corrupt(65535), -1, "Verify Failure!",
       "Step 1 - Device verify error!  Data is corrupted!  Re-try update!", 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateRig rig(c.firmware);
    if (c.armAtPump == 0) c.arm(rig.board);
    rig.window.onPump = [&] {
      if (rig.window.pumps == c.armAtPump) c.arm(rig.board);
    };
    std::size_t commandsAtBox = 0;
    rig.window.onBox = [&] { commandsAtBox = rig.board.Commands().size(); };
    rig.engine.FlashDevice();
    EXPECT_EQ(rig.opResult, c.result);
    ASSERT_EQ(rig.window.boxes.size(), 1u);
    EXPECT_EQ(rig.window.boxes[0].title, c.title);
    EXPECT_EQ(rig.window.boxes[0].text, c.text);
    EXPECT_EQ(rig.board.Commands().size(), commandsAtBox);
    EXPECT_EQ(rig.LastStageTouched(), c.lastStage);
    EXPECT_EQ(rig.Sent("EX", &board::Command::operand).size(), c.execs);
  }
}

// The operator closes the window mid-update. The unload closes the link, so the engine must
// not touch the board again: any driver call would show up as a purge or a command.
TEST(FlashDevice, CloseEndsTheUpdateAtThatPump) {
  const std::pair<int, std::function<void(board::VirtualBoard&)>> cases[] = {
      {1, nullptr},
      {2, [](board::VirtualBoard& b) { b.FailCall(Call::Write, 1, ft::IO_ERROR); }},
      // Step 2 reads back wrong: pump 9 is the one after its first comparison.
      {9, [](board::VirtualBoard& b) { b.CorruptReadBack(2 * 4096 + 9, true); }},
      {13, nullptr},
      {62, nullptr},
  };
  for (const auto& [pump, fault] : cases) {
    SCOPED_TRACE(pump);
    UpdateRig rig(0x11);
    if (fault) fault(rig.board);
    rig.window.closeAtPump = pump;
    std::size_t commands = 0;
    int purges = 0;
    rig.window.onPump = [&] {
      commands = rig.board.Commands().size();
      purges = rig.board.Purges();
    };
    rig.engine.FlashDevice();
    EXPECT_NE(rig.opResult, 0);
    EXPECT_EQ(rig.window.pumps, pump);
    EXPECT_EQ(rig.window.callsAfterClose, 0);
    EXPECT_TRUE(rig.window.boxes.empty());
    EXPECT_EQ(rig.board.Commands().size(), commands);
    EXPECT_EQ(rig.board.Purges(), purges);
  }
}

}  // namespace
}  // namespace qvx::test
