#include "board/board_rack.h"

#include <algorithm>

namespace qvx::board {

BoardRack::BoardRack(std::size_t boards) {
  for (std::size_t i = 0; i < boards; ++i) Plug(SerialNumberOf(i), PortOf(i));
}

std::string BoardRack::SerialNumberOf(std::size_t index) {
  constexpr std::size_t kDigits = 5;
  const std::string number = std::to_string(index + 1);
  return "QVX" + std::string(kDigits - std::min(kDigits, number.size()), '0') + number;
}

std::string BoardRack::PortOf(std::size_t index) {
  return "1-1." + std::to_string(index + 1);  // a hub's ports
}

std::vector<BoardRack::Slot*> BoardRack::Slots() const {
  const std::lock_guard guard(slotsLock_);
  std::vector<Slot*> slots;
  for (const auto& slot : slots_) slots.push_back(slot.get());
  return slots;
}

std::size_t BoardRack::Size() const {
  const std::lock_guard guard(slotsLock_);
  return slots_.size();
}

VirtualBoard& BoardRack::Board(std::size_t index) {
  const std::lock_guard guard(slotsLock_);
  return slots_.at(index)->board;
}

VirtualBoard& BoardRack::Plug(const std::string& serialNumber, const std::string& port) {
  for (Slot* slot : Slots()) {
    const std::lock_guard guard(slot->lock);
    const VirtualBoard& board = slot->board;
    // Serial numbers may repeat, so a board plugged in elsewhere is another one.
    if (board.SerialNumber() != serialNumber || (board.Attached() && board.Port() != port)) {
      continue;
    }
    slot->board.SetPort(port);
    slot->board.SetAttached(true);
    return slot->board;
  }
  const std::lock_guard guard(slotsLock_);
  slots_.push_back(std::make_unique<Slot>());
  VirtualBoard& board = slots_.back()->board;
  board.SetSerialNumber(serialNumber);
  board.SetPort(port);
  return board;
}

void BoardRack::Unplug(const std::string& port) {
  for (Slot* slot : Slots()) {
    const std::lock_guard guard(slot->lock);
    if (slot->board.Port() == port) slot->board.SetAttached(false);
  }
}

template <typename Call>
FT_STATUS BoardRack::OnBoard(FT_HANDLE handle, Call call) {
  for (Slot* slot : Slots()) {
    if (!slot->board.Owns(handle)) continue;
    const std::lock_guard guard(slot->lock);
    if (!slot->board.IsOpen()) ++strayCalls_;
    return call(slot->board);
  }
  ++strayCalls_;
  return ft::INVALID_HANDLE;
}

FT_STATUS BoardRack::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  bool busy = false;
  for (Slot* slot : Slots()) {
    const std::lock_guard guard(slot->lock);
    if (!slot->board.Answers(description, flags)) continue;
    if (!slot->board.IsOpen()) return slot->board.FT_OpenEx(description, flags, handle);
    busy = true;
  }
  if (description == nullptr || handle == nullptr) return ft::INVALID_PARAMETER;
  return busy ? ft::DEVICE_NOT_OPENED : ft::DEVICE_NOT_FOUND;
}

FT_STATUS BoardRack::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  return OnBoard(handle,
                 [&](VirtualBoard& b) { return b.FT_SetTimeouts(handle, readMs, writeMs); });
}

FT_STATUS BoardRack::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  return OnBoard(handle, [&](VirtualBoard& b) { return b.FT_SetLatencyTimer(handle, ms); });
}

FT_STATUS BoardRack::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  return OnBoard(handle,
                 [&](VirtualBoard& b) { return b.FT_SetUSBParameters(handle, inSize, outSize); });
}

FT_STATUS BoardRack::FT_Purge(FT_HANDLE handle, DWORD mask) {
  return OnBoard(handle, [&](VirtualBoard& b) { return b.FT_Purge(handle, mask); });
}

FT_STATUS BoardRack::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  return OnBoard(handle, [&](VirtualBoard& b) { return b.FT_Write(handle, data, count, written); });
}

FT_STATUS BoardRack::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  return OnBoard(handle, [&](VirtualBoard& b) { return b.FT_Read(handle, data, count, read); });
}

FT_STATUS BoardRack::FT_Close(FT_HANDLE handle) {
  return OnBoard(handle, [&](VirtualBoard& b) {
    const FT_STATUS status = b.FT_Close(handle);
    if (status == ft::OK && onClose_) onClose_(b);
    return status;
  });
}

FT_STATUS BoardRack::FT_CreateDeviceInfoList(DWORD* count) {
  if (count == nullptr) return ft::INVALID_PARAMETER;
  const std::lock_guard listGuard(listLock_);
  listed_.clear();
  for (Slot* slot : Slots()) {
    const std::lock_guard guard(slot->lock);
    DWORD one = 0;
    if (slot->board.FT_CreateDeviceInfoList(&one) == ft::OK && one == 1) listed_.push_back(slot);
  }
  *count = static_cast<DWORD>(listed_.size());
  return ft::OK;
}

FT_STATUS BoardRack::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                            DWORD* locId, void* serialNumber, void* description,
                                            FT_HANDLE* handle) {
  Slot* slot = Listed(index);
  if (slot == nullptr) return ft::DEVICE_NOT_FOUND;
  const std::lock_guard guard(slot->lock);
  return slot->board.FT_GetDeviceInfoDetail(0, flags, type, id, locId, serialNumber, description,
                                            handle);
}

BoardRack::Slot* BoardRack::Listed(DWORD index) {
  const std::lock_guard listGuard(listLock_);
  return index < listed_.size() ? listed_[index] : nullptr;
}

std::string BoardRack::PortName(DWORD index) {
  Slot* slot = Listed(index);
  if (slot == nullptr) return {};
  const std::lock_guard guard(slot->lock);
  return slot->board.Port();
}

Obstacle BoardRack::OpenObstacle(DWORD /*index*/) {
  // A board here is kept closed only by an open elsewhere in this process.
  return Obstacle::InUse;
}

}  // namespace qvx::board
