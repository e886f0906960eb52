#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "link/d2xx.h"

namespace qvx::board {

// How long the simulated link and flash take. All zero: answers are instant (the tests' default).
struct Timing {
  std::chrono::microseconds latency{0};          // per transfer, each way
  double bytesPerSecondOut = 0;                  // host to board; 0 = unlimited
  double bytesPerSecondIn = 0;                   // board to host; 0 = unlimited
  std::chrono::microseconds blockProgramTime{0}; // per "WF" block

  // A full-speed link: 2 ms latency, 300 kB/s each way, 1 ms to program a block.
  static Timing FullSpeed();
};

// The driver calls a fault can be attached to.
enum class Call { Open, SetTimeouts, SetLatency, SetUSBParameters, Purge, Write, Read, Close };

// One command the board parsed, with its parameters.
struct Command {
  std::string mnemonic;  // "SI", "RF", "WF", "EX"
  std::int32_t address = 0;
  std::int32_t words = 0;
  std::int32_t operand = 0;
};

// A simulated Quorvex board behind the eight driver calls: flash, command parser, driver-side
// buffering and timing, and scriptable faults. Single-threaded; time passes by sleeping.
class VirtualBoard : public D2xx {
 public:
  static constexpr std::size_t kFlashBytes = 65536;  // 32,768 address units of 2 bytes
  static constexpr std::size_t kBlockBytes = 2048;   // the board's fixed "WF" block

  VirtualBoard();

  // --- Configuration -------------------------------------------------------------------
  void SetDescription(std::string description);  // default "Quorvex"
  void SetVersions(std::uint8_t hardware, std::uint8_t firmware);  // default 0x21, 0x11
  void SetTiming(const Timing& timing);
  std::vector<std::uint8_t>& Flash();  // 65,536 bytes, erased to 0xFF

  // --- Faults (each one that fires is written to the fault log) --------------------------
  // Fails the nth call of that kind (1-based, counted from now) with status; nth 0 = every call.
  void FailCall(Call call, int nth, FT_STATUS status);
  // Read-back of flash byte offset `byte` (0..65,535) comes back altered: once, or always.
  void CorruptReadBack(std::size_t byte, bool persistent);
  // Replies arrive in pieces of at most this many bytes per read call (0 = whole).
  void SplitReplies(std::size_t pieceBytes);
  // The reply to the nth command of that mnemonic (1-based) is never sent.
  void SwallowReply(const std::string& mnemonic, int nth);
  // After the nth command of that mnemonic, the board is unplugged: every later call fails
  // with the I/O-error status and reads deliver nothing.
  void UnplugAfter(const std::string& mnemonic, int nth);
  // "SI" answers with this signature instead of "KR".
  void SetSignature(std::string signature);
  // Random transient faults of every kind, from a seed; probability per driver call.
  void InjectRandomFaults(std::uint32_t seed, double probability);

  // --- Inspection ------------------------------------------------------------------------
  const std::vector<Command>& Commands() const;
  const std::vector<std::string>& FaultLog() const;
  std::size_t IgnoredBytes() const;  // bytes it could not parse, or addressed beyond its flash
  int Purges() const;
  int Opens() const;
  int Closes() const;
  bool IsOpen() const;
  bool InBootloader() const;

  // --- D2xx ------------------------------------------------------------------------------
  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override;
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
};

}  // namespace qvx::board
