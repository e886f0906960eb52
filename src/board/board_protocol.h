#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvx::board {

// One command the board parsed, with its parameters.
struct Command {
  std::string mnemonic;  // "SI", "RF", "WF", "EX"
  std::int32_t address = 0;
  std::int32_t words = 0;
  std::int32_t operand = 0;
};

// The board's side of the command set, as a byte stream: bytes in, reply bytes out. It knows
// nothing of drivers, handles or time, so it can sit behind any transport.
//
//   "SI"                       -> signature (default "KR"), hardware byte, firmware byte: the
//                                 version the firmware in its flash carries, as a real board's
//   "RF" addr24 words16        -> 4 * words bytes of flash from byte 2 * addr
//   "WF" addr24 + 2,048 bytes  -> the block is stored at byte 2 * addr; no reply
//   "EX" operand16             -> logged with its operand; no reply
//
// Numbers travel most significant byte first. "WF" data are framed by the fixed block size,
// however the stream was cut into writes. A byte that cannot start or continue a command, and
// a whole "RF"/"WF" whose range leaves the flash (or asks for no words), is ignored: nothing
// stored, nothing answered, its bytes counted in IgnoredBytes().
class BoardProtocol {
 public:
  static constexpr std::size_t kFlashBytes = 65536;  // 32,768 address units of 2 bytes
  static constexpr std::size_t kBlockBytes = 2048;   // the board's fixed "WF" block

  // What one completed command did.
  struct Completed {
    Command command;
    std::vector<std::uint8_t> reply;  // empty for "WF" and "EX"
    std::size_t replyFlashByte = 0;   // for "RF": the flash byte offset of reply[0]
  };

  BoardProtocol();

  // Consumes bytes from the front of `bytes` up to the end of the next complete command and
  // returns it; returns nothing once `bytes` is used up with no command completed (a partial
  // command stays pending for the next call).
  std::optional<Completed> Next(std::span<const std::uint8_t>& bytes);
  // All replies to `bytes`, in order. For transports that need no per-command view.
  std::vector<std::uint8_t> Feed(std::span<const std::uint8_t> bytes);
  // Forgets a partly received command or "WF" block (the receive timeout); returns how many of
  // its bytes were dropped. These are not counted as ignored: they were well formed.
  std::size_t DropPartial();

  // Firmware carries its version at the start of the region every update writes last (flash
  // address 8,192): this mark, then the version byte. "SI" reads it there each time.
  static constexpr std::size_t kFirmwareMarkByte = std::size_t{2} * 8192;
  static constexpr std::string_view kFirmwareMark = "QVXFW";

  // The firmware version for a flash without the mark (blank, or another image's).
  void SetVersions(std::uint8_t hardware, std::uint8_t firmware);
  // The firmware version "SI" reports once the flash has been written to, whatever it holds:
  // for a board that reports another version after an update than the image's.
  void SetWrittenFirmware(std::optional<std::uint8_t> firmware) { firmwareWritten_ = firmware; }
  void SetSignature(std::string signature);
  const std::string& Signature() const { return signature_; }
  std::uint8_t Hardware() const { return hardware_; }
  // What "SI" reports now.
  std::uint8_t Firmware() const;

  // A purge of the driver's buffers, in the log of commands as "PURGE" with its mask as operand.
  void NotePurge(std::uint32_t mask) {
    if (keepCommands_) commands_.push_back({"PURGE", 0, 0, static_cast<std::int32_t>(mask)});
  }
  // A board that runs for days keeps no log of its commands.
  void KeepCommands(bool keep) { keepCommands_ = keep; }

  std::vector<std::uint8_t>& Flash() { return flash_; }
  const std::vector<Command>& Commands() const { return commands_; }
  std::size_t IgnoredBytes() const { return ignored_; }

 private:
  enum class State { Idle, Mnemonic, Params, Data };

  std::optional<Completed> Take(std::uint8_t byte);
  std::optional<Completed> Finish();
  bool InFlash(std::size_t firstByte, std::size_t bytes) const;
  void Reset();

  std::vector<std::uint8_t> flash_;
  std::string signature_ = "KR";
  std::uint8_t hardware_ = 0x21;
  std::uint8_t firmware_ = 0x11;
  std::optional<std::uint8_t> firmwareWritten_;
  bool written_ = false;  // a "WF" has taken effect
  std::vector<Command> commands_;
  bool keepCommands_ = true;
  std::size_t ignored_ = 0;

  State state_ = State::Idle;
  std::string mnemonic_;
  std::vector<std::uint8_t> pending_;  // parameter bytes, then "WF" data
  std::size_t received_ = 0;           // bytes of the command so far, mnemonic included
  std::uint32_t wfAddress_ = 0;
};

}  // namespace qvx::board
