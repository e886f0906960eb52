#pragma once

#include <chrono>

#include "board/board_protocol.h"
#include "usb/ftdi_chip.h"

namespace qvx::usbemu {

// The board's protocol behind a chip's UART. The board is busy programming for
// `blockProgramTime` after each "WF" block and reads nothing meanwhile.
UartPeer BoardPeer(board::BoardProtocol& board,
                   std::chrono::microseconds blockProgramTime = std::chrono::microseconds{0});

}  // namespace qvx::usbemu
