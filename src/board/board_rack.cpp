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

void BoardRack::Slot::Note() {
  Seen now;
  DWORD count = 0;
  now.attached = board.FT_CreateDeviceInfoList(&count) == ft::OK && count == 1;
  if (now.attached) {
    board.FT_GetDeviceInfoDetail(0, &now.flags, &now.type, &now.id, &now.locId,
                                 now.serialNumber.data(), now.description.data(), &now.handle);
  }
  now.port = board.Port();
  const std::lock_guard guard(seenLock);
  seen = std::move(now);
}

BoardRack::Seen BoardRack::Slot::Look() const {
  const std::lock_guard guard(seenLock);
  return seen;
}

bool BoardRack::Slot::MayAnswer(const char* name, DWORD flags) const {
  const Seen s = Look();
  if (!s.attached) return false;
  if (flags == ft::OPEN_BY_LOCATION) return ft::LocationOfArgument(name) == s.locId;
  if (name == nullptr) return false;
  return flags == ft::OPEN_BY_DESCRIPTION ? s.description.data() == std::string_view(name)
                                          : s.serialNumber.data() == std::string_view(name);
}

VirtualBoard& BoardRack::Plug(const std::string& serialNumber, const std::string& port,
                              const SetUp& setUp) {
  for (Slot* slot : Slots()) {
    const Seen seen = slot->Look();
    // Serial numbers may repeat, so a board plugged in elsewhere is another one. A serial number
    // is set before its slot is shared and never changes.
    if (slot->board.SerialNumber() != serialNumber || (seen.attached && seen.port != port)) {
      continue;
    }
    const std::lock_guard guard(slot->lock);
    slot->board.SetPort(port);
    slot->board.SetAttached(true);
    if (setUp) setUp(slot->board, false);
    slot->Note();
    return slot->board;
  }
  // Made whole before any other thread can see it.
  auto slot = std::make_unique<Slot>();
  slot->board.SetSerialNumber(serialNumber);
  slot->board.SetPort(port);
  if (setUp) setUp(slot->board, true);
  slot->Note();
  const std::lock_guard guard(slotsLock_);
  slots_.push_back(std::move(slot));
  return slots_.back()->board;
}

void BoardRack::Unplug(const std::string& port) {
  for (Slot* slot : Slots()) {
    if (slot->Look().port != port) continue;
    const std::lock_guard guard(slot->lock);
    slot->board.SetAttached(false);
    slot->Note();
  }
}

std::vector<std::pair<std::string, std::string>> BoardRack::Plugged() {
  DWORD count = 0;
  FT_CreateDeviceInfoList(&count);
  std::vector<std::pair<std::string, std::string>> plugged;
  for (Slot* slot : Slots()) {
    const Seen seen = slot->Look();
    if (seen.attached) plugged.emplace_back(seen.serialNumber.data(), seen.port);
  }
  return plugged;
}

template <typename Call>
FT_STATUS BoardRack::OnBoard(FT_HANDLE handle, Call call) {
  for (Slot* slot : Slots()) {
    if (!slot->board.Owns(handle)) continue;
    const std::lock_guard guard(slot->lock);
    if (!slot->board.IsOpen()) ++strayCalls_;
    const FT_STATUS status = call(slot->board);
    slot->Note();
    return status;
  }
  ++strayCalls_;
  return ft::INVALID_HANDLE;
}

FT_STATUS BoardRack::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  bool busy = false;
  for (Slot* slot : Slots()) {
    if (std::unique_lock guard(slot->lock, std::try_to_lock); guard.owns_lock()) slot->Note();
    if (!slot->MayAnswer(description, flags)) continue;
    const std::lock_guard guard(slot->lock);
    if (!slot->board.Answers(description, flags)) continue;
    if (!slot->board.IsOpen()) {
      const FT_STATUS status = slot->board.FT_OpenEx(description, flags, handle);
      slot->Note();
      return status;
    }
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

// A board in the middle of a call is listed as it was last seen.
FT_STATUS BoardRack::FT_CreateDeviceInfoList(DWORD* count) {
  if (count == nullptr) return ft::INVALID_PARAMETER;
  const std::lock_guard listGuard(listLock_);
  listed_.clear();
  for (Slot* slot : Slots()) {
    if (std::unique_lock guard(slot->lock, std::try_to_lock); guard.owns_lock()) slot->Note();
    if (slot->Look().attached) listed_.push_back(slot);
  }
  *count = static_cast<DWORD>(listed_.size());
  return ft::OK;
}

FT_STATUS BoardRack::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                            DWORD* locId, void* serialNumber, void* description,
                                            FT_HANDLE* handle) {
  const Slot* slot = Listed(index);
  if (slot == nullptr) return ft::DEVICE_NOT_FOUND;
  const Seen seen = slot->Look();
  if (flags != nullptr) *flags = seen.flags;
  if (type != nullptr) *type = seen.type;
  if (id != nullptr) *id = seen.id;
  if (locId != nullptr) *locId = seen.locId;
  if (handle != nullptr) *handle = seen.handle;
  ft::CopyDetail(serialNumber, ft::SERIAL_NUMBER_SIZE, seen.serialNumber.data());
  ft::CopyDetail(description, ft::DESCRIPTION_SIZE, seen.description.data());
  return ft::OK;
}

BoardRack::Slot* BoardRack::Listed(DWORD index) {
  const std::lock_guard listGuard(listLock_);
  return index < listed_.size() ? listed_[index] : nullptr;
}

std::string BoardRack::PortName(DWORD index) {
  const Slot* slot = Listed(index);
  return slot == nullptr ? std::string() : slot->Look().port;
}

Obstacle BoardRack::OpenObstacle(DWORD /*index*/) {
  // A board here is kept closed only by an open elsewhere in this process.
  return Obstacle::InUse;
}

}  // namespace qvx::board
