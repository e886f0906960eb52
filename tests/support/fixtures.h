#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "app/fm_start.h"
#include "board/virtual_board.h"
#include "support/fake_view.h"

namespace qvx::test {

using Bytes = std::vector<std::uint8_t>;

// The test firmware, version 1.6: a valid "FW" header and content that never holds 0xFF, so an
// erased flash byte never passes for a written one.
const Bytes& TestImage();
// A scrambled container around `image`.
Bytes ContainerOf(const Bytes& image);
// A loader that serves `container` as the firmware resource, or nothing.
ResourceLoader LoaderOf(std::optional<Bytes> container);

// The flash a whole update leaves on an erased board: every region the engine's stage table
// runs for that firmware holds the image's bytes, everything else stays erased.
Bytes FlashAfterUpdate(const Bytes& image, std::uint8_t boardFirmware);

// A board and the form's logic around it, wired as the program wires them; the form loaded
// when asked.
struct Rig {
  explicit Rig(std::uint8_t boardFirmware = 0x11,
               ResourceLoader loader = LoaderOf(ContainerOf(TestImage())));

  board::VirtualBoard board;
  FakeView view;
  fmStart form;

  // Form_Load, then Find Device; true when the update is offered.
  bool Found();
  void Click(Button button) { form.Button_Click(static_cast<std::int16_t>(button)); }
  // The address of every "RF"/"WF", or the operand of every "EX", the board has parsed since
  // its command number `from`.
  std::vector<std::int32_t> Sent(const char* mnemonic, std::size_t from = 0) const;
};

}  // namespace qvx::test
