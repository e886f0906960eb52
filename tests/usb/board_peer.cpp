#include "usb/board_peer.h"

namespace qvx::usbemu {

UartPeer BoardPeer(board::BoardProtocol& board, std::chrono::microseconds blockProgramTime) {
  return [&board, blockProgramTime](std::span<const std::uint8_t> bytes) {
    PeerAnswer answer;
    while (auto done = board.Next(bytes)) {
      answer.reply.insert(answer.reply.end(), done->reply.begin(), done->reply.end());
      if (done->command.mnemonic == "WF") answer.busy += blockProgramTime;
    }
    return answer;
  };
}

}  // namespace qvx::usbemu
