#include "board/board_rack.h"

#include <algorithm>

namespace qvx::board {

BoardRack::BoardRack(std::size_t boards) {
  for (std::size_t i = 0; i < boards; ++i) {
    slots_.push_back(std::make_unique<Slot>());
    slots_.back()->board.SetSerialNumber(SerialNumberOf(i));
  }
}

std::string BoardRack::SerialNumberOf(std::size_t index) {
  constexpr std::size_t kDigits = 5;
  const std::string number = std::to_string(index + 1);
  return "QVX" + std::string(kDigits - std::min(kDigits, number.size()), '0') + number;
}

template <typename Call>
FT_STATUS BoardRack::OnBoard(FT_HANDLE handle, Call call) {
  for (const auto& slot : slots_) {
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
  for (const auto& slot : slots_) {
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
  for (const auto& slot : slots_) {
    const std::lock_guard guard(slot->lock);
    DWORD one = 0;
    if (slot->board.FT_CreateDeviceInfoList(&one) == ft::OK && one == 1) {
      listed_.push_back(slot.get());
    }
  }
  *count = static_cast<DWORD>(listed_.size());
  return ft::OK;
}

FT_STATUS BoardRack::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                            DWORD* locId, void* serialNumber, void* description,
                                            FT_HANDLE* handle) {
  const std::lock_guard listGuard(listLock_);
  if (index >= listed_.size()) return ft::DEVICE_NOT_FOUND;
  Slot& slot = *listed_[index];
  const std::lock_guard guard(slot.lock);
  return slot.board.FT_GetDeviceInfoDetail(0, flags, type, id, locId, serialNumber, description,
                                           handle);
}

Obstacle BoardRack::OpenObstacle(DWORD /*index*/) {
  // A board here is kept closed only by an open elsewhere in this process.
  return Obstacle::InUse;
}

}  // namespace qvx::board
