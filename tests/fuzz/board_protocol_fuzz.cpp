// Arbitrary byte streams into the virtual board's command parser, cut into fuzzer-chosen pieces
// with the receive timeout (DropPartial) between some of them. Every command the board completes
// must be the tail of the bytes it received since the last drop, encoded exactly; it answers only
// those; and its flash changes only by the blocks of the "WF" commands it completed.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "board/board_protocol.h"
#include "fuzz_check.h"

namespace {

using qvx::board::BoardProtocol;

class Harness {
 public:
  explicit Harness(FuzzedDataProvider& fuzz) : fuzz_(fuzz), shadow_(board_.Flash()) {
    hardware_ = fuzz.ConsumeIntegral<std::uint8_t>();
    firmware_ = fuzz.ConsumeIntegral<std::uint8_t>();
    board_.SetVersions(hardware_, firmware_);
  }

  void Step() {
    if (fuzz_.ConsumeIntegralInRange(0, 15) == 0) {
      board_.DropPartial();
      received_.clear();
      return;
    }
    const std::vector<std::uint8_t> piece =
        fuzz_.ConsumeBytes<std::uint8_t>(fuzz_.ConsumeIntegralInRange<std::size_t>(1, 4096));
    std::span<const std::uint8_t> rest(piece);
    for (;;) {
      const std::size_t before = rest.size();
      const std::size_t ignoredBefore = board_.IgnoredBytes();
      const auto done = board_.Next(rest);
      received_.insert(received_.end(), piece.end() - static_cast<std::ptrdiff_t>(before),
                       piece.end() - static_cast<std::ptrdiff_t>(rest.size()));
      FUZZ_CHECK(board_.IgnoredBytes() >= ignoredBefore);
      FUZZ_CHECK(board_.Flash().size() == BoardProtocol::kFlashBytes);
      if (!done) {
        FUZZ_CHECK(rest.empty());
        break;
      }
      FUZZ_CHECK(board_.Commands().size() == ++commands_);
      Completed(*done);
    }
  }

  void Finish() { FUZZ_CHECK(board_.Flash() == shadow_); }

 private:
  // The last `count` bytes received, or nothing when fewer arrived since the last drop.
  const std::uint8_t* Tail(std::size_t count) const {
    return received_.size() >= count ? received_.data() + received_.size() - count : nullptr;
  }

  static std::uint32_t BigEndian(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
  }

  void Completed(const BoardProtocol::Completed& done) {
    const auto& command = done.command;
    if (command.mnemonic == "SI") {
      const std::uint8_t* tail = Tail(2);
      FUZZ_CHECK(tail != nullptr && tail[0] == 'S' && tail[1] == 'I');
      FUZZ_CHECK((done.reply == std::vector<std::uint8_t>{'K', 'R', hardware_, firmware_}));
    } else if (command.mnemonic == "EX") {
      const std::uint8_t* tail = Tail(4);
      FUZZ_CHECK(tail != nullptr && tail[0] == 'E' && tail[1] == 'X');
      FUZZ_CHECK(command.operand == static_cast<std::int32_t>(BigEndian(tail + 2, 2)));
      FUZZ_CHECK(done.reply.empty());
    } else if (command.mnemonic == "RF") {
      const std::uint8_t* tail = Tail(7);
      FUZZ_CHECK(tail != nullptr && tail[0] == 'R' && tail[1] == 'F');
      FUZZ_CHECK(command.address == static_cast<std::int32_t>(BigEndian(tail + 2, 3)));
      FUZZ_CHECK(command.words == static_cast<std::int32_t>(BigEndian(tail + 5, 2)));
      const std::size_t first = 2 * static_cast<std::size_t>(command.address);
      const std::size_t bytes = 4 * static_cast<std::size_t>(command.words);
      FUZZ_CHECK(bytes > 0 && first + bytes <= BoardProtocol::kFlashBytes);
      FUZZ_CHECK(done.replyFlashByte == first && done.reply.size() == bytes);
      FUZZ_CHECK(std::equal(done.reply.begin(), done.reply.end(), shadow_.begin() + first));
    } else {
      FUZZ_CHECK(command.mnemonic == "WF");
      const std::uint8_t* tail = Tail(5 + BoardProtocol::kBlockBytes);
      FUZZ_CHECK(tail != nullptr && tail[0] == 'W' && tail[1] == 'F');
      FUZZ_CHECK(command.address == static_cast<std::int32_t>(BigEndian(tail + 2, 3)));
      const std::size_t first = 2 * static_cast<std::size_t>(command.address);
      FUZZ_CHECK(first + BoardProtocol::kBlockBytes <= BoardProtocol::kFlashBytes);
      FUZZ_CHECK(done.reply.empty());
      std::copy_n(tail + 5, BoardProtocol::kBlockBytes, shadow_.begin() + first);
      FUZZ_CHECK(board_.Flash() == shadow_);
    }
  }

  FuzzedDataProvider& fuzz_;
  BoardProtocol board_;
  std::vector<std::uint8_t> shadow_;  // what the flash must hold
  std::vector<std::uint8_t> received_;
  std::size_t commands_ = 0;
  std::uint8_t hardware_ = 0;
  std::uint8_t firmware_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fuzz(data, size);
  Harness harness(fuzz);
  while (fuzz.remaining_bytes() > 0) harness.Step();
  harness.Finish();
  return 0;
}
