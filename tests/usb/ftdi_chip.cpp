#include "usb/ftdi_chip.h"

#include <algorithm>
#include <utility>

namespace qvx::usbemu {
namespace {

constexpr std::uint16_t kVendorFtdi = 0x0403;

// bmRequestType values.
constexpr std::uint8_t kStandardIn = 0x80;
constexpr std::uint8_t kStandardOut = 0x00;
constexpr std::uint8_t kVendorOut = 0x40;
constexpr std::uint8_t kVendorIn = 0xC0;

// The chip's vendor requests.
enum : std::uint8_t {
  kReset = 0,
  kModemCtrl = 1,
  kSetFlowCtrl = 2,
  kSetBaudRate = 3,
  kSetData = 4,
  kPollModemStatus = 5,
  kSetEventChar = 6,
  kSetErrorChar = 7,
  kSetLatencyTimer = 9,
  kGetLatencyTimer = 10,
  kSetBitmode = 11,
  kReadPins = 12,
};

// Values of the reset request: the whole chip, or one of its two FIFOs.
enum : std::uint16_t { kResetChip = 0, kFlushHostToChip = 1, kFlushChipToHost = 2 };

void PutWord(std::vector<std::uint8_t>& out, std::uint16_t word) {
  out.push_back(static_cast<std::uint8_t>(word & 0xFF));
  out.push_back(static_cast<std::uint8_t>(word >> 8));
}

}  // namespace

Setup Setup::Parse(std::span<const std::uint8_t, 8> b) {
  auto word = [&](std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); };
  return Setup{b[0], b[1], word(2), word(4), word(6)};
}

FtdiChip::FtdiChip(ChipIdentity identity, UartPeer peer)
    : identity_(std::move(identity)), peer_(std::move(peer)) {}

std::vector<std::uint8_t> FtdiChip::Descriptors() const {
  std::vector<std::uint8_t> d{18, 1};  // device
  PutWord(d, 0x0200);                  // USB 2.0
  d.insert(d.end(), {0x00, 0x00, 0x00, 8});
  PutWord(d, kVendorFtdi);
  PutWord(d, identity_.productId);
  PutWord(d, identity_.release);
  d.insert(d.end(), {1, 2, 3, 1});  // manufacturer, product, serial strings; one configuration
  // One configuration, bus powered at 90 mA, one vendor-specific interface with two bulk
  // endpoints of 64 bytes (full speed).
  d.insert(d.end(), {9, 2, 32, 0, 1, 1, 0, 0xA0, 45});
  d.insert(d.end(), {9, 4, 0, 0, 2, 0xFF, 0xFF, 0xFF, 2});
  d.insert(d.end(), {7, 5, kEndpointIn, 2, kPacketBytes, 0, 0});
  d.insert(d.end(), {7, 5, kEndpointOut, 2, kPacketBytes, 0, 0});
  return d;
}

std::vector<std::uint8_t> FtdiChip::StringDescriptor(std::uint8_t index) const {
  if (index == 0) return {4, 3, 0x09, 0x04};  // English (US) only
  const std::string* text = index == 1   ? &identity_.manufacturer
                            : index == 2 ? &identity_.description
                            : index == 3 ? &identity_.serial
                                         : nullptr;
  if (text == nullptr) return {};
  std::vector<std::uint8_t> d{static_cast<std::uint8_t>(2 + 2 * text->size()), 3};
  for (char c : *text) PutWord(d, static_cast<std::uint8_t>(c));
  return d;
}

std::optional<std::vector<std::uint8_t>> FtdiChip::Control(const Setup& setup) {
  std::optional<std::vector<std::uint8_t>> reply;
  if ((setup.requestType & 0x60) == 0x40) {
    reply = Vendor(setup);
  } else {
    reply = Standard(setup);
  }
  if (reply && reply->size() > setup.length) reply->resize(setup.length);
  return reply;
}

std::optional<std::vector<std::uint8_t>> FtdiChip::Standard(const Setup& setup) const {
  constexpr std::uint8_t kGetStatus = 0, kGetDescriptor = 6, kGetConfiguration = 8,
                         kSetConfiguration = 9;
  if (setup.requestType == kStandardOut && setup.request == kSetConfiguration) return {{}};
  if (setup.requestType != kStandardIn) return std::nullopt;
  switch (setup.request) {
    case kGetStatus:
      return {{0, 0}};
    case kGetConfiguration:
      return {{1}};
    case kGetDescriptor: {
      const auto all = Descriptors();
      switch (setup.value >> 8) {
        case 1:
          return std::vector<std::uint8_t>(all.begin(), all.begin() + 18);
        case 2:
          return std::vector<std::uint8_t>(all.begin() + 18, all.end());
        case 3: {
          auto s = StringDescriptor(static_cast<std::uint8_t>(setup.value & 0xFF));
          if (s.empty()) return std::nullopt;
          return s;
        }
        default:
          return std::nullopt;
      }
    }
    default:
      return std::nullopt;
  }
}

std::optional<std::vector<std::uint8_t>> FtdiChip::Vendor(const Setup& setup) {
  const bool in = setup.requestType == kVendorIn;
  if (!in && setup.requestType != kVendorOut) return std::nullopt;
  switch (setup.request) {
    case kReset:
      if (in) return std::nullopt;
      if (setup.value == kResetChip) {
        FlushToHost();
      } else if (setup.value == kFlushChipToHost) {
        ++hostBoundFlushes_;
        FlushToHost();
      } else if (setup.value != kFlushHostToChip) {
        return std::nullopt;
      }
      // Bytes from the host reach the UART at once, so there is never a host-to-chip FIFO
      // left to flush.
      return {{}};
    case kSetLatencyTimer:
      if (in) return std::nullopt;
      // The chip counts in whole milliseconds and cannot run without a timer.
      latencyMs_ = static_cast<std::uint8_t>(std::max(1, setup.value & 0xFF));
      return {{}};
    case kModemCtrl:
    case kSetFlowCtrl:
    case kSetBaudRate:  // the UART's pace is the test's to set
    case kSetData:
    case kSetEventChar:
    case kSetErrorChar:
    case kSetBitmode:
      if (in) return std::nullopt;
      return {{}};
    case kPollModemStatus:
      if (!in) return std::nullopt;
      return {{kModemStatus, kLineStatus}};
    case kGetLatencyTimer:
      if (!in) return std::nullopt;
      return {{latencyMs_}};
    case kReadPins:
      if (!in) return std::nullopt;
      return {{0xFF}};
    default:
      return std::nullopt;
  }
}

FtdiChip::Clock::time_point FtdiChip::BulkOut(std::span<const std::uint8_t> bytes,
                                              Clock::time_point now) {
  const auto perByte = uartBytesPerSecond_ > 0
                           ? std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(1.0 / uartBytesPerSecond_))
                           : Clock::duration::zero();
  const Clock::time_point received =
      std::max(now, peerFreeAt_) + perByte * static_cast<long>(bytes.size());
  const PeerAnswer answer = peer_(bytes);
  peerFreeAt_ = received + answer.busy;
  Clock::time_point at = arrivals_.empty() ? received : std::max(received, arrivals_.back());
  for (std::uint8_t byte : answer.reply) {
    at += perByte;
    toHost_.push_back(byte);
    arrivals_.push_back(at);
  }
  return received;
}

std::size_t FtdiChip::ArrivedBy(Clock::time_point now) const {
  return static_cast<std::size_t>(std::upper_bound(arrivals_.begin(), arrivals_.end(), now) -
                                  arrivals_.begin());
}

std::optional<std::vector<std::uint8_t>> FtdiChip::BulkIn(std::size_t capacity,
                                                          Clock::time_point now) {
  const std::size_t packets = std::max<std::size_t>(1, capacity / kPacketBytes);
  const std::size_t packetBytes = std::min(capacity, kPacketBytes);
  if (packetBytes < kStatusBytes) return std::nullopt;
  const std::size_t dataPerPacket = packetBytes - kStatusBytes;
  std::size_t arrived = ArrivedBy(now);
  const bool fills = arrived >= packets * dataPerPacket;
  const bool timerRanOut = now - lastPacket_ >= std::chrono::milliseconds(latencyMs_);
  if (!fills && !timerRanOut) return std::nullopt;

  std::vector<std::uint8_t> transfer;
  for (std::size_t sent = 0; sent < packets; ++sent) {
    const std::size_t take = std::min(dataPerPacket, arrived);
    transfer.push_back(kModemStatus);
    transfer.push_back(kLineStatus);
    transfer.insert(transfer.end(), toHost_.begin(), toHost_.begin() + static_cast<long>(take));
    toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<long>(take));
    arrivals_.erase(arrivals_.begin(), arrivals_.begin() + static_cast<long>(take));
    arrived -= take;
    if (take < dataPerPacket) break;  // a short packet ends the transfer
  }
  lastPacket_ = now;
  return transfer;
}

FtdiChip::Clock::time_point FtdiChip::BulkInDue(std::size_t capacity) const {
  const std::size_t packets = std::max<std::size_t>(1, capacity / kPacketBytes);
  const std::size_t dataPerPacket = std::min(capacity, kPacketBytes) - kStatusBytes;
  const Clock::time_point timer = lastPacket_ + std::chrono::milliseconds(latencyMs_);
  const std::size_t fill = packets * dataPerPacket;
  return arrivals_.size() >= fill ? std::min(timer, arrivals_[fill - 1]) : timer;
}

void FtdiChip::FlushToHost() {
  toHost_.clear();
  arrivals_.clear();
}

}  // namespace qvx::usbemu
