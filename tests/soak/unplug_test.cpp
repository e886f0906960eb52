#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <iostream>
#include <string>

#include "bench_rig.h"
#include "update/expected_messages.h"

namespace qvx::test {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The retry budget lets a pass wait at most 50 read timeouts of 100 ms for a board that has gone;
// anything near a second more than that is a hang, not a slow board.
constexpr auto kPassBound = 6s;

constexpr const char* kUpdateFailure = "Update Failure!";
constexpr const char* kBootloaderFailure = "Bootloader Failure!";

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

struct Unplug {
  const char* where;
  const char* mnemonic;  // the board goes after this command of the update...
  int nth;               // ...counted from the update's start
  const char* title;
  const char* text;
};

void PrintTo(const Unplug& u, std::ostream* os) {
  *os << u.where;
}

class Unplugged : public ::testing::TestWithParam<Unplug> {};

// A board on a full-speed link, found, then unplugged at one point of the update: the update
// ends with that stage's communication message in bounded time, and the program can close the
// link, take the board back and update it.
TEST_P(Unplugged, EndsWithItsStagesMessageInBoundedTimeAndRecovers) {
  const Unplug& u = GetParam();
  const Firmware firmware;
  Program program(firmware);
  board::VirtualBoard& board = program.socket.Plug();
  board.SetVersions(0x21, 0x11);  // old firmware: every stage runs
  board.SetTiming(board::Timing::FullSpeed());
  program.link.OpenDevice();
  ASSERT_TRUE(program.FindDevice());
  ASSERT_EQ(program.opResult, 0);
  board.UnplugAfter(u.mnemonic, u.nth);

  const Clock::time_point start = Clock::now();
  program.Flash();
  const auto took = Clock::now() - start;

  std::cout << "unplug " << u.where << ": update ended after " << Milliseconds(took) << " ms\n";
  EXPECT_EQ(program.opResult, UpdateEngine::kCommFailure);
  ASSERT_EQ(program.window.boxes.size(), 1u);
  EXPECT_EQ(program.window.boxes[0].title, u.title);
  EXPECT_EQ(program.window.boxes[0].text, u.text);
  // The whole update, not just the pass the board left in, stays within one pass's bound.
  EXPECT_LT(took, kPassBound);

  program.link.CloseDevice();
  EXPECT_EQ(board.Closes(), 1);
  board.SetAttached(true);
  board.SetTiming({});
  program.link.OpenDevice();
  ASSERT_EQ(program.link.FtStatus, 0);
  ASSERT_TRUE(program.FindDevice());
  program.window.boxes.clear();
  program.Flash();
  EXPECT_EQ(program.opResult, UpdateEngine::kSuccess);
  EXPECT_TRUE(FlashRight(board, firmware.plain, true));
}

// With firmware 1.1 the update sends "WF" and "RF" blocks 1-4 (Step 2), 5 (Step 3), 6-7 (Step 4),
// 8-31 (Step 1), and "EX" before and after Step 4.
INSTANTIATE_TEST_SUITE_P(
    EachStage, Unplugged,
    ::testing::Values(Unplug{"Step 2 write", "WF", 2, kUpdateFailure, kStep2Comm},
                      Unplug{"Step 2 verify", "RF", 3, kUpdateFailure, kStep2Comm},
                      Unplug{"Step 3 write", "WF", 5, kUpdateFailure, kStep3Comm},
                      Unplug{"Step 3 verify", "RF", 5, kUpdateFailure, kStep3Comm},
                      Unplug{"entering the bootloader", "EX", 1, kBootloaderFailure, kBootloader},
                      Unplug{"Step 4 write", "WF", 6, kUpdateFailure, kStep4Comm},
                      Unplug{"Step 4 verify", "RF", 7, kUpdateFailure, kStep4Comm},
                      Unplug{"leaving the bootloader", "EX", 2, kBootloaderFailure, kBootloader},
                      Unplug{"Step 1 write", "WF", 20, kUpdateFailure, kStep1Comm},
                      Unplug{"Step 1 verify", "RF", 30, kUpdateFailure, kStep1Comm}),
    [](const ::testing::TestParamInfo<Unplug>& info) {
      std::string name = info.param.where;
      for (char& c : name) {
        if (std::isalnum(static_cast<unsigned char>(c)) == 0) c = '_';
      }
      return name;
    });

// The slowest way a board can go: still attached, but silent. Every read-back then waits out the
// read timeout, and the budget ends the pass after 50 of them.
TEST(Unplugged, SilentBoardEndsThePassWithinTheBudgetsTime) {
  const Firmware firmware;
  Program program(firmware);
  board::VirtualBoard& board = program.socket.Plug();
  program.link.OpenDevice();
  ASSERT_TRUE(program.FindDevice());
  board.SwallowReply("RF", 0);

  const Clock::time_point start = Clock::now();
  program.Flash();
  const auto took = Clock::now() - start;

  std::cout << "silent board: update ended after " << Milliseconds(took) << " ms\n";
  EXPECT_EQ(program.opResult, UpdateEngine::kCommFailure);
  ASSERT_EQ(program.window.boxes.size(), 1u);
  EXPECT_EQ(program.window.boxes[0].text, kStep2Comm);
  EXPECT_GE(took, 50 * 100ms);
  EXPECT_LT(took, kPassBound);
}

}  // namespace
}  // namespace qvx::test
