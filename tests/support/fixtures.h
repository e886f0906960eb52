#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "app/board_session.h"
#include "app/fm_start.h"
#include "board/virtual_board.h"
#include "support/fake_view.h"

namespace qvx::test {

using Bytes = std::vector<std::uint8_t>;

// The test firmware, version 1.6: a valid "FW" header and content that never holds 0xFF, so an
// erased flash byte never passes for a written one.
const Bytes& TestImage();
// A scrambled container around `image`; the test image's, made once.
Bytes ContainerOf(const Bytes& image);
const Bytes& TestContainer();
// A loader that serves `container` as the firmware resource, or nothing.
ResourceLoader LoaderOf(std::optional<Bytes> container);

// The flash regions an update writes, as flash addresses [first, end): Step 2, Step 3, the
// bootloader stage (Step 4, for firmware up to 1.1) and Step 1. Addresses 3,072 to 4,095 belong to
// none.
struct Region {
  int step;
  std::int32_t first, end;
};
inline constexpr Region kRegions[] = {
    {2, 4096, 8192}, {3, 0, 1024}, {4, 1024, 3072}, {1, 8192, 32768}};
// The regions an update writes to a board reporting that firmware.
std::vector<Region> RegionsFor(std::uint8_t boardFirmware);
// Whether the flash holds the image's bytes over every one of the regions.
bool Holds(const Bytes& flash, const Bytes& image, const std::vector<Region>& regions);

// The flash a whole update leaves on an erased board: every region the update for that firmware
// writes holds the image's bytes, everything else stays erased.
Bytes FlashAfterUpdate(const Bytes& image, std::uint8_t boardFirmware);

// The address of every "RF"/"WF", or the operand of every "EX", the board has parsed since its
// command number `from`.
std::vector<std::int32_t> Sent(const board::VirtualBoard& board, const char* mnemonic,
                               std::size_t from = 0);

// What the engine told, and a StopNow that answers as told.
struct Recorder : UpdateEvents {
  std::vector<int> values;  // every block number, in order
  std::vector<int> steps;   // every stage started
  int blocks = 0;           // as Started gave them
  int done = 0;
  int asks = 0;    // StopNow calls
  int stopAt = 0;  // the ask that answers true; 0: none
  std::function<void()> onAsk;

  void Started(Purpose, int all, int /*maximum*/) override { blocks = all, done = 0; }
  void StageStarted(const Stage& stage) override { steps.push_back(stage.step); }
  void BlockStarted(int number) override { values.push_back(number); }
  void BlockDone() override { ++done; }
  bool StopNow() override {
    ++asks;
    if (onAsk) onAsk();
    return asks == stopAt;
  }
};

// A board and a session over it, as the command line wires one. The board reports the test
// image's version once written to, and its clock runs only as it waits.
struct Board {
  explicit Board(std::uint8_t boardFirmware = 0x11,
                 ResourceLoader loader = LoaderOf(TestContainer()));

  board::VirtualBoard board;
  Recorder events;
  BoardSession session;

  // Open, then Identify; true when both are done.
  bool Found();
};

// A board and the form's logic around it, wired as the program wires them.
struct Rig {
  explicit Rig(std::uint8_t boardFirmware = 0x11,
               ResourceLoader loader = LoaderOf(TestContainer()));

  board::VirtualBoard board;
  FakeView view;
  fmStart form;

  // Form_Load, then Find Device; true when the update is offered.
  bool Found();
  void Click(Button button) { form.Button_Click(static_cast<std::int16_t>(button)); }
};

}  // namespace qvx::test
