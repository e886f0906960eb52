#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qvx::usbemu {

// What the chip reports about itself on the bus.
struct ChipIdentity {
  std::uint16_t productId = 0x6001;  // FT232R
  std::uint16_t release = 0x0600;    // bcdDevice: tells libftdi1 the chip type
  std::string manufacturer = "FTDI";
  std::string description = "Quorvex";
  std::string serial = "QV000001";
};

// What the far side of the chip's UART makes of some bytes: its reply, and how long it then
// takes before it reads its UART again (a board programming its flash, say).
struct PeerAnswer {
  std::vector<std::uint8_t> reply;
  std::chrono::steady_clock::duration busy{};
};
using UartPeer = std::function<PeerAnswer(std::span<const std::uint8_t>)>;

// The 8-byte setup stage of a control transfer.
struct Setup {
  std::uint8_t requestType = 0;
  std::uint8_t request = 0;
  std::uint16_t value = 0;
  std::uint16_t index = 0;
  std::uint16_t length = 0;

  static Setup Parse(std::span<const std::uint8_t, 8> bytes);
};

// An FT232R-class chip as the host sees it at the USB level: descriptors, the vendor control
// requests, bulk OUT into the UART and bulk IN packets that carry two modem status bytes ahead
// of up to 62 data bytes. Not thread-safe; its owner serialises access.
class FtdiChip {
 public:
  using Clock = std::chrono::steady_clock;

  static constexpr std::size_t kPacketBytes = 64;
  static constexpr std::size_t kStatusBytes = 2;
  static constexpr std::uint8_t kModemStatus = 0x01;  // low nibble always 1 on this family
  static constexpr std::uint8_t kLineStatus = 0x60;   // transmitter empty
  static constexpr std::uint8_t kEndpointIn = 0x81;
  static constexpr std::uint8_t kEndpointOut = 0x02;
  static constexpr std::uint8_t kDefaultLatencyMs = 16;

  FtdiChip(ChipIdentity identity, UartPeer peer);

  const ChipIdentity& Identity() const { return identity_; }

  // Device descriptor followed by the configuration, as sysfs "descriptors" holds them.
  std::vector<std::uint8_t> Descriptors() const;

  // A control transfer with its OUT data stage, if any. Returns the IN data stage (empty for
  // OUT requests), or nothing when the chip stalls the request.
  std::optional<std::vector<std::uint8_t>> Control(const Setup& setup);

  // Bytes the host sent on the bulk OUT endpoint, at `now`. Returns when the last of them has
  // gone through the UART: the chip takes no more from the host before then.
  Clock::time_point BulkOut(std::span<const std::uint8_t> bytes, Clock::time_point now);

  // The bulk IN endpoint, polled by a transfer of `capacity` bytes. The chip sends whole
  // packets at once and a short one (down to the bare status bytes) when its latency timer
  // runs out; the transfer completes on a short packet or when it is full. Returns the bytes
  // of a completed transfer, or nothing while it is still waiting.
  std::optional<std::vector<std::uint8_t>> BulkIn(std::size_t capacity, Clock::time_point now);
  // When BulkIn, polled with the same capacity, will next complete a transfer.
  Clock::time_point BulkInDue(std::size_t capacity) const;

  // How fast bytes cross the UART, each way; 0 = at once.
  void SetUartBytesPerSecond(double rate) { uartBytesPerSecond_ = rate; }

  // What the host configured.
  std::uint8_t LatencyMs() const { return latencyMs_; }
  int HostBoundFlushes() const { return hostBoundFlushes_; }

 private:
  std::optional<std::vector<std::uint8_t>> Standard(const Setup& setup) const;
  std::optional<std::vector<std::uint8_t>> Vendor(const Setup& setup);
  std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const;

  ChipIdentity identity_;
  UartPeer peer_;
  std::size_t ArrivedBy(Clock::time_point now) const;
  void FlushToHost();

  std::deque<std::uint8_t> toHost_;
  std::deque<Clock::time_point> arrivals_;  // when each byte of toHost_ is through the UART
  double uartBytesPerSecond_ = 0;
  Clock::time_point peerFreeAt_{};  // the far side reads its UART again from then on
  Clock::time_point lastPacket_{};
  std::uint8_t latencyMs_ = kDefaultLatencyMs;
  int hostBoundFlushes_ = 0;
};

}  // namespace qvx::usbemu
