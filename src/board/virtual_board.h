#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "board/board_protocol.h"
#include "board/fault_plan.h"
#include "link/d2xx.h"

namespace qvx::board {

// How long the simulated link and flash take. All zero: answers are instant (the tests' default).
struct Timing {
  std::chrono::microseconds latency{0};           // per transfer, each way
  double bytesPerSecondOut = 0;                   // host to board; 0 = unlimited
  double bytesPerSecondIn = 0;                    // board to host; 0 = unlimited
  std::chrono::microseconds blockProgramTime{0};  // per "WF" block

  // A full-speed link: 2 ms latency, 300 kB/s each way, 1 ms to program a block.
  static Timing FullSpeed();
  // Slow enough for a person to watch the bar: a whole update takes about six seconds.
  static Timing Demo();
};

// A simulated Quorvex board behind the eight driver calls: flash, command parser, driver-side
// buffering and timing, and scriptable faults. Single-threaded; time passes by sleeping.
//
// Driver side: a write is delivered whole (after its transfer time) or, when it fails, not at
// all, and then the board drops any partly received command. Each reply byte gets the moment it
// reaches the host; a read returns once the asked count has arrived, else at the read timeout
// with what has. Without FT_SetTimeouts (or with 0, the driver's "no timeout") a read waits for
// whatever the board has still to send and returns then instead of hanging.
// Unplugged (UnplugAfter, SetAttached(false)): every call on the handle fails with IO_ERROR
// except FT_Close, which still releases it; opening finds no device.
class VirtualBoard : public D2xx {
 public:
  static constexpr std::size_t kFlashBytes = BoardProtocol::kFlashBytes;
  static constexpr std::size_t kBlockBytes = BoardProtocol::kBlockBytes;

  VirtualBoard();

  // --- Configuration -------------------------------------------------------------------
  void SetDescription(std::string description);    // default "Quorvex"
  void SetSerialNumber(std::string serialNumber);  // default "QVX00001"
  void SetPort(std::string port);  // where it is plugged in, default "1-1"; opens by its location
  // Default 0x21, 0x11; the firmware version holds while the flash carries none of its own.
  void SetVersions(std::uint8_t hardware, std::uint8_t firmware);
  // The firmware version it reports once written to, over what the flash carries; unset, the
  // flash tells.
  void SetWrittenFirmware(std::optional<std::uint8_t> firmware);
  void SetTiming(const Timing& timing);
  // Commands() stays empty: for a board that serves a long run rather than a test.
  void KeepNoLog() { protocol_.KeepCommands(false); }
  // Time passes only as the board waits: a read that times out returns at once, its timeout
  // counted on the board's own clock. For tests that run many silent reads.
  void UseVirtualTime();
  std::vector<std::uint8_t>& Flash();  // 65,536 bytes, erased to 0xFF
  // A detached board is not found by FT_OpenEx; detaching an open one unplugs it, and its link
  // stays dead until it is closed, even when the board is attached again.
  void SetAttached(bool attached);

  // --- Faults (each one that fires is written to the fault log) --------------------------
  // Fails the nth call of that kind (1-based, counted from now) with status; nth 0 = every call.
  // The failed call has no effect: a write delivers nothing, a read takes nothing.
  void FailCall(Call call, int nth, FT_STATUS status);
  // Read-back of flash byte offset `byte` (0..65,535) comes back altered: once, or always.
  void CorruptReadBack(std::size_t byte, bool persistent);
  // Replies arrive in pieces of at most this many bytes per read call (0 = whole).
  void SplitReplies(std::size_t pieceBytes);
  // The reply to the nth command of that mnemonic (1-based, counted from now; 0 = every one) is
  // never sent.
  void SwallowReply(const std::string& mnemonic, int nth);
  // After the nth command of that mnemonic (counted from now), the board is unplugged: that
  // command takes effect but is not answered, the rest of its write is lost, every later call
  // fails with the I/O-error status and reads deliver nothing.
  void UnplugAfter(const std::string& mnemonic, int nth);
  // "SI" answers with this signature instead of "KR" (any length: a short one makes a short
  // reply).
  void SetSignature(std::string signature);
  // Random transient faults of every kind, from a seed; probability per driver call. Purges
  // fail; writes fail, lose their replies or corrupt one read-back byte; reads fail or split.
  void InjectRandomFaults(std::uint32_t seed, double probability);
  // Not a fault: runs `action` inside the write that completes the nth command of that mnemonic
  // (counted from now; 0 = every one), before the board answers it.
  void AfterCommand(const std::string& mnemonic, int nth, std::function<void()> action);

  // --- Inspection ------------------------------------------------------------------------
  const std::vector<Command>& Commands() const;
  const std::vector<std::string>& FaultLog() const;
  std::size_t IgnoredBytes() const;  // bytes it could not parse, or addressed beyond its flash
  int Purges()
      const;  // calls that took effect; each is in Commands() too, as "PURGE" with its mask
  std::uint8_t ReportedFirmware() const { return protocol_.Firmware(); }  // what "SI" answers now
  int Opens() const;
  int Closes() const;
  bool IsOpen() const;
  const std::string& SerialNumber() const { return serialNumber_; }
  const std::string& Port() const { return port_; }
  bool Attached() const { return attached_; }
  // Whether FT_OpenEx would look at this board for that description or serial number.
  bool Answers(const char* name, DWORD flags) const;
  // Whether the handle is this board's, open or not.
  bool Owns(FT_HANDLE handle) const { return handle == &handleToken_; }

  // --- D2xx ------------------------------------------------------------------------------
  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override;
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  // A list of one board, or of none while it is detached.
  FT_STATUS FT_CreateDeviceInfoList(DWORD* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                   void* serialNumber, void* description,
                                   FT_HANDLE* handle) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct InFlight {
    std::uint8_t byte;
    Clock::time_point arrives;
  };

  // INVALID_HANDLE, IO_ERROR when unplugged, a fault's status, or OK.
  FT_STATUS Enter(FT_HANDLE handle, Call call);
  FT_STATUS Usable(FT_HANDLE handle) const;
  void Schedule(const std::vector<std::uint8_t>& reply, Clock::time_point ready);
  void NoteOddIdentity(const BoardProtocol::Completed& done);
  static Clock::duration Transfer(std::size_t bytes, double bytesPerSecond);
  Clock::time_point Now() const;
  void WaitUntil(Clock::time_point moment);

  BoardProtocol protocol_;
  FaultPlan faults_;
  Timing timing_;
  std::string description_ = "Quorvex";
  std::string serialNumber_ = "QVX00001";
  std::string port_ = "1-1";
  bool attached_ = true;
  bool open_ = false;
  bool pulled_ = false;   // unplugged while open
  char handleToken_ = 0;  // its address is the handle
  std::optional<Clock::duration> readTimeout_;
  std::deque<InFlight> rx_;
  Clock::time_point inLineFreeAt_{};
  Clock::time_point busyUntil_{};
  std::optional<Clock::time_point> virtualNow_;
  int purges_ = 0;
  int opens_ = 0;
  int closes_ = 0;
};

}  // namespace qvx::board
