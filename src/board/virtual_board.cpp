#include "board/virtual_board.h"

#include <algorithm>
#include <span>
#include <thread>
#include <utility>

namespace qvx::board {

using namespace std::chrono_literals;

namespace {

// What the list says of the simulated chip: an FT232R, vendor 0403, product 6001.
constexpr DWORD kDeviceType232R = 5;
constexpr DWORD kDeviceId = 0x04036001;

}  // namespace

Timing Timing::FullSpeed() {
  return Timing{2ms, 300000, 300000, 1ms};
}

Timing Timing::Demo() {
  return Timing{10ms, 30000, 30000, 20ms};
}

VirtualBoard::VirtualBoard() = default;

void VirtualBoard::SetDescription(std::string description) {
  description_ = std::move(description);
}

void VirtualBoard::SetSerialNumber(std::string serialNumber) {
  serialNumber_ = std::move(serialNumber);
}

void VirtualBoard::SetWrittenFirmware(std::optional<std::uint8_t> firmware) {
  protocol_.SetWrittenFirmware(firmware);
}

void VirtualBoard::SetVersions(std::uint8_t hardware, std::uint8_t firmware) {
  protocol_.SetVersions(hardware, firmware);
}

void VirtualBoard::SetTiming(const Timing& timing) {
  timing_ = timing;
}

void VirtualBoard::UseVirtualTime() {
  virtualNow_ = Clock::now();
}

VirtualBoard::Clock::time_point VirtualBoard::Now() const {
  return virtualNow_ ? *virtualNow_ : Clock::now();
}

void VirtualBoard::WaitUntil(Clock::time_point moment) {
  if (virtualNow_) {
    virtualNow_ = std::max(*virtualNow_, moment);
    return;
  }
  // Some platforms' sleeps wake up to a millisecond early; a timeout must not end before its time.
  while (moment > Clock::now()) std::this_thread::sleep_until(moment);
}

std::vector<std::uint8_t>& VirtualBoard::Flash() {
  return protocol_.Flash();
}

void VirtualBoard::SetPort(std::string port) {
  port_ = std::move(port);
}

void VirtualBoard::SetAttached(bool attached) {
  // An open link to a board that was pulled out stays dead, even once it is back.
  pulled_ = pulled_ || (open_ && !attached);
  attached_ = attached;
  if (!attached) rx_.clear();
}

void VirtualBoard::FailCall(Call call, int nth, FT_STATUS status) {
  faults_.FailCall(call, nth, status);
}

void VirtualBoard::CorruptReadBack(std::size_t byte, bool persistent) {
  faults_.CorruptReadBack(byte, persistent);
}

void VirtualBoard::SplitReplies(std::size_t pieceBytes) {
  faults_.SplitReplies(pieceBytes);
}

void VirtualBoard::SwallowReply(const std::string& mnemonic, int nth) {
  faults_.SwallowReply(mnemonic, nth);
}

void VirtualBoard::UnplugAfter(const std::string& mnemonic, int nth) {
  faults_.UnplugAfter(mnemonic, nth);
}

void VirtualBoard::AfterCommand(const std::string& mnemonic, int nth,
                                std::function<void()> action) {
  faults_.RunAfter(mnemonic, nth, std::move(action));
}

void VirtualBoard::SetSignature(std::string signature) {
  protocol_.SetSignature(std::move(signature));
}

void VirtualBoard::InjectRandomFaults(std::uint32_t seed, double probability) {
  faults_.InjectRandomFaults(seed, probability);
}

const std::vector<Command>& VirtualBoard::Commands() const {
  return protocol_.Commands();
}
const std::vector<std::string>& VirtualBoard::FaultLog() const {
  return faults_.Log();
}
std::size_t VirtualBoard::IgnoredBytes() const {
  return protocol_.IgnoredBytes();
}
int VirtualBoard::Purges() const {
  return purges_;
}
int VirtualBoard::Opens() const {
  return opens_;
}
int VirtualBoard::Closes() const {
  return closes_;
}
bool VirtualBoard::IsOpen() const {
  return open_;
}

VirtualBoard::Clock::duration VirtualBoard::Transfer(std::size_t bytes, double bytesPerSecond) {
  if (bytesPerSecond <= 0) return Clock::duration::zero();
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(bytes) / bytesPerSecond));
}

FT_STATUS VirtualBoard::Usable(FT_HANDLE handle) const {
  if (!open_ || handle != static_cast<const void*>(&handleToken_)) return ft::INVALID_HANDLE;
  return attached_ && !pulled_ ? ft::OK : ft::IO_ERROR;
}

FT_STATUS VirtualBoard::Enter(FT_HANDLE handle, Call call) {
  const FT_STATUS status = Usable(handle);
  return status != ft::OK ? status : faults_.OnCall(call);
}

bool VirtualBoard::Answers(const char* name, DWORD flags) const {
  if (!attached_) return false;
  if (flags == ft::OPEN_BY_LOCATION) return ft::LocationOfArgument(name) == ft::LocationIdOf(port_);
  if (name == nullptr) return false;
  if (flags == ft::OPEN_BY_DESCRIPTION) return description_ == name;
  return flags == ft::OPEN_BY_SERIAL_NUMBER && serialNumber_ == name;
}

FT_STATUS VirtualBoard::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  if ((description == nullptr && flags != ft::OPEN_BY_LOCATION) || handle == nullptr) {
    return ft::INVALID_PARAMETER;
  }
  if (const FT_STATUS fault = faults_.OnCall(Call::Open); fault != ft::OK) return fault;
  if (!Answers(description, flags)) return ft::DEVICE_NOT_FOUND;
  if (open_) return ft::DEVICE_NOT_OPENED;
  open_ = true;
  ++opens_;
  readTimeout_.reset();
  rx_.clear();
  *handle = &handleToken_;
  return ft::OK;
}

FT_STATUS VirtualBoard::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD /*writeMs*/) {
  // Writes are taken whole at once, so only the read timeout matters.
  const FT_STATUS status = Enter(handle, Call::SetTimeouts);
  if (status != ft::OK) return status;
  if (readMs == 0) {
    readTimeout_.reset();
  } else {
    readTimeout_ = std::chrono::milliseconds(readMs);
  }
  return ft::OK;
}

FT_STATUS VirtualBoard::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t /*ms*/) {
  return Enter(handle, Call::SetLatency);
}

FT_STATUS VirtualBoard::FT_SetUSBParameters(FT_HANDLE handle, DWORD /*inSize*/, DWORD /*outSize*/) {
  return Enter(handle, Call::SetUSBParameters);
}

FT_STATUS VirtualBoard::FT_Purge(FT_HANDLE handle, DWORD mask) {
  const FT_STATUS status = Enter(handle, Call::Purge);
  if (status != ft::OK) return status;
  // The transmit side never holds bytes: a write is delivered before FT_Write returns.
  if ((mask & ft::PURGE_RX) != 0) rx_.clear();
  ++purges_;
  protocol_.NotePurge(mask);
  return ft::OK;
}

void VirtualBoard::Schedule(const std::vector<std::uint8_t>& reply, Clock::time_point ready) {
  if (reply.empty()) return;
  const Clock::time_point start = std::max(ready, inLineFreeAt_) + timing_.latency;
  for (std::size_t i = 0; i < reply.size(); ++i) {
    rx_.push_back({reply[i], start + Transfer(i + 1, timing_.bytesPerSecondIn)});
  }
  inLineFreeAt_ = rx_.back().arrives;
}

void VirtualBoard::NoteOddIdentity(const BoardProtocol::Completed& done) {
  if (done.command.mnemonic != "SI" || done.reply.empty()) return;
  if (protocol_.Signature() != "KR") {
    faults_.Note("SI answered with signature \"" + protocol_.Signature() + "\"");
  }
  if (protocol_.Hardware() == 0) faults_.Note("SI answered with hardware 0.0");
}

FT_STATUS VirtualBoard::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  if (written == nullptr || (data == nullptr && count > 0)) return ft::INVALID_PARAMETER;
  *written = 0;
  if (const FT_STATUS status = Usable(handle); status != ft::OK) return status;
  const FaultPlan::WriteVerdict verdict = faults_.OnWrite();
  if (verdict.status != ft::OK) {
    // None of it arrives; the board's receive timeout then drops what it had half received.
    if (const std::size_t dropped = protocol_.DropPartial(); dropped > 0) {
      faults_.Note("board dropped " + std::to_string(dropped) + " bytes of a partial command");
    }
    return verdict.status;
  }

  const Clock::time_point delivered =
      Now() + timing_.latency + Transfer(count, timing_.bytesPerSecondOut);
  WaitUntil(delivered);
  *written = count;

  std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(data), count);
  while (auto done = protocol_.Next(bytes)) {
    const Clock::time_point ready = std::max(delivered, busyUntil_);
    if (done->command.mnemonic == "WF") busyUntil_ = ready + timing_.blockProgramTime;
    if (faults_.OnCommand(*done, verdict)) {
      protocol_.DropPartial();
      SetAttached(false);
      break;
    }
    NoteOddIdentity(*done);
    Schedule(done->reply, ready);
  }
  return ft::OK;
}

FT_STATUS VirtualBoard::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  if (read == nullptr || (data == nullptr && count > 0)) return ft::INVALID_PARAMETER;
  *read = 0;
  if (const FT_STATUS status = Usable(handle); status != ft::OK) return status;
  const FaultPlan::ReadVerdict verdict = faults_.OnRead(count);
  if (verdict.status != ft::OK) return verdict.status;
  if (count == 0) return ft::OK;

  const std::size_t want = std::min<std::size_t>(count, verdict.limit);
  // Without a timeout the read waits for all the board will send, never for more.
  const Clock::time_point deadline =
      readTimeout_ ? Now() + *readTimeout_
                   : (rx_.empty() ? Now() : rx_[std::min(want, rx_.size()) - 1].arrives);
  std::size_t take = 0;
  if (want > 0 && rx_.size() >= want && rx_[want - 1].arrives <= deadline) {
    WaitUntil(rx_[want - 1].arrives);
    take = want;
  } else {
    WaitUntil(deadline);
    while (take < want && take < rx_.size() && rx_[take].arrives <= deadline) ++take;
  }
  if (take < count && take < rx_.size() && take == verdict.limit) {
    faults_.Note("read #" + std::to_string(faults_.Count(Call::Read)) +
                 " split: " + std::to_string(take) + " of " + std::to_string(count) + " bytes");
  }
  auto* out = static_cast<std::uint8_t*>(data);
  for (std::size_t i = 0; i < take; ++i) {
    out[i] = rx_.front().byte;
    rx_.pop_front();
  }
  *read = static_cast<DWORD>(take);
  return ft::OK;
}

FT_STATUS VirtualBoard::FT_Close(FT_HANDLE handle) {
  if (!open_ || handle != static_cast<const void*>(&handleToken_)) return ft::INVALID_HANDLE;
  if (const FT_STATUS fault = faults_.OnCall(Call::Close); fault != ft::OK) return fault;
  open_ = false;
  pulled_ = false;
  ++closes_;
  rx_.clear();
  return ft::OK;
}

FT_STATUS VirtualBoard::FT_CreateDeviceInfoList(DWORD* count) {
  if (count == nullptr) return ft::INVALID_PARAMETER;
  *count = attached_ ? 1 : 0;
  return ft::OK;
}

FT_STATUS VirtualBoard::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* locId, void* serialNumber, void* description,
                                               FT_HANDLE* handle) {
  if (index != 0 || !attached_) return ft::DEVICE_NOT_FOUND;
  if (flags != nullptr) *flags = open_ ? ft::FLAGS_OPENED : 0;
  if (type != nullptr) *type = kDeviceType232R;
  if (id != nullptr) *id = kDeviceId;
  if (locId != nullptr) *locId = ft::LocationIdOf(port_);
  if (handle != nullptr) *handle = open_ ? &handleToken_ : nullptr;
  ft::CopyDetail(serialNumber, ft::SERIAL_NUMBER_SIZE, serialNumber_);
  ft::CopyDetail(description, ft::DESCRIPTION_SIZE, description_);
  return ft::OK;
}

}  // namespace qvx::board
