#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "update_rig.h"

namespace qvx::test {
namespace {

using board::Call;

constexpr int kSchedules = 1000;
// Per driver call. About one random fault per update; a few of them are swallowed replies,
// each costing the link's full 100 ms read timeout.
constexpr double kRandomFaultProbability = 0.005;

// A persistent fault for this schedule, if any; returns the stage whose region it hits for a
// read-back corruption (which must not pass), else -1.
int AddPersistentFault(UpdateRig& rig, std::mt19937& random, std::uint8_t firmware) {
  switch (random() % 8) {
    case 0:
    case 1: {  // read-back corruption in a stage that runs
      int stage = static_cast<int>(random() % 4);
      if (stage == 2 && !RunsBootloader(firmware)) stage = 3;
      const Region r = kStages[stage].region;
      const std::size_t first = 2 * static_cast<std::size_t>(r.address);
      const std::size_t bytes = 4 * static_cast<std::size_t>(r.words);
      rig.board.CorruptReadBack(first + random() % bytes, true);
      return stage;
    }
    case 2: {
      // Every write, or every read, from some block on fails.
      const int pump = 1 + static_cast<int>(random() % 58);
      const Call call = random() % 2 == 0 ? Call::Write : Call::Read;
      rig.window.onPump = [&rig, pump, call] {
        if (rig.window.pumps == pump) rig.board.FailCall(call, 0, ft::IO_ERROR);
      };
      return -1;
    }
    case 3: {
      const char* mnemonics[] = {"WF", "RF", "EX", "SI"};
      const std::string mnemonic = mnemonics[random() % 4];
      const int count = mnemonic.size() == 2 && mnemonic[1] == 'F' ? 30 : 2;
      rig.board.UnplugAfter(mnemonic, 1 + static_cast<int>(random() % count));
      return -1;
    }
    case 4:
      rig.board.SplitReplies(256 + random() % 1793);
      return -1;
    default:
      return -1;
  }
}

TEST(FaultCampaign, EveryUpdateSucceedsTrulyOrNamesItsStage) {
  int successes = 0, falseSuccesses = 0, wrongOutcomes = 0, faultsFired = 0, timeouts = 0;
  std::map<std::string, int> failures;  // by title and step
  for (int seed = 0; seed < kSchedules; ++seed) {
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    const std::uint8_t firmwares[] = {0x11, 0x0F, 0x12, 0x05};
    const std::uint8_t firmware = firmwares[random() % 4];
    UpdateRig rig(firmware);
    rig.board.InjectRandomFaults(static_cast<std::uint32_t>(seed), kRandomFaultProbability);
    const int corruptedStage = AddPersistentFault(rig, random, firmware);

    // The stage of the block the engine was at when it last let the window run.
    int stageAtPump = -1;
    const auto armFault = rig.window.onPump;
    rig.window.onPump = [&] {
      if (armFault) armFault();
      stageAtPump = StageOf(rig.link.FlashAddress);
    };
    rig.engine.FlashDevice();
    for (const auto& line : rig.board.FaultLog()) {
      ++faultsFired;
      if (line.find("swallowed") != std::string::npos) ++timeouts;
    }

    const auto& boxes = rig.window.boxes;
    bool truly = true;
    if (rig.opResult == 0) {
      ++successes;
      truly = rig.Updated(firmware) && boxes.empty() && corruptedStage < 0;
      if (!truly) ++falseSuccesses;
    } else if (boxes.size() != 1) {
      truly = false;
    } else {
      const auto& box = boxes[0];
      ++failures[box.title + " " + box.text.substr(0, 6)];
      if (box.title == "Bootloader Failure!") {
        truly = rig.opResult == -2 && RunsBootloader(firmware) &&
                (stageAtPump == 1 || stageAtPump == 2) && box.text.starts_with("Step 4");
      } else {
        truly = stageAtPump >= 0 && box.text.starts_with(kStages[stageAtPump].step) &&
                rig.engine.RetryBudget == 0 && rig.LastStageTouched() <= stageAtPump &&
                (box.title == "Verify Failure!") == (rig.opResult == -1);
      }
    }
    if (!truly) {
      ++wrongOutcomes;
      ADD_FAILURE() << "seed " << seed << ": OpResult " << rig.opResult << ", " << boxes.size()
                    << " boxes" << (boxes.empty() ? "" : ": " + boxes[0].text);
    }
  }

  std::cout << "fault campaign: " << kSchedules << " updates, " << faultsFired << " faults fired ("
            << timeouts << " read timeouts), " << successes << " successes (" << falseSuccesses
            << " of them false), " << wrongOutcomes << " wrong outcomes\n";
  for (const auto& [kind, count] : failures) std::cout << "  " << count << " x " << kind << "\n";
  EXPECT_EQ(falseSuccesses, 0);
  EXPECT_EQ(wrongOutcomes, 0);
}

}  // namespace
}  // namespace qvx::test
