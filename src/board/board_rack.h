#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board/virtual_board.h"
#include "link/d2xx.h"

namespace qvx::board {

// Several virtual boards behind one driver, as a machine with several attached sees them:
// distinct serial numbers ("QVX00001", "QVX00002", ...) and ports ("1-1.1", "1-1.2", ...), each
// board with its own flash, timing and faults. Every board has its own lock, so boards driven
// from different threads run side by side and a board's sleeps never hold up another's. Boards
// may be plugged in and pulled out while others are driven.
class BoardRack : public D2xx {
 public:
  explicit BoardRack(std::size_t boards);

  static std::string SerialNumberOf(std::size_t index);  // of the board at that index
  static std::string PortOf(std::size_t index);

  std::size_t Size() const;
  // For setting up and inspecting while no other thread drives that board.
  VirtualBoard& Board(std::size_t index);
  // Plugs in the board with that serial number at that port: a new board the first time, the same
  // board, its flash kept, when it comes back (to any port). `setUp` runs on it under its lock
  // before it can be listed (with true for a new board), so that it is safe while other threads
  // list and drive boards; the board returned is for setting up like Board().
  using SetUp = std::function<void(VirtualBoard& board, bool isNew)>;
  VirtualBoard& Plug(const std::string& serialNumber, const std::string& port,
                     const SetUp& setUp = {});
  // Pulls out the board at that port, as its cable would: its open link fails from then on.
  void Unplug(const std::string& port);
  // The serial number and port of each board plugged in.
  std::vector<std::pair<std::string, std::string>> Plugged();
  // Calls made on a handle that no board has open: a call after its close, or a stray handle.
  int StrayCalls() const { return strayCalls_; }
  // Runs under the board's lock after every close that succeeded.
  void OnClose(std::function<void(VirtualBoard&)> action) { onClose_ = std::move(action); }

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override;
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  FT_STATUS FT_CreateDeviceInfoList(DWORD* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                   void* serialNumber, void* description,
                                   FT_HANDLE* handle) override;
  Obstacle OpenObstacle(DWORD index) override;
  std::string PortName(DWORD index) override;

 private:
  // What the device list shows of a board as of its last call, so that listing and finding a
  // board never wait for another board's call in progress, as with a real driver.
  struct Seen {
    bool attached = false;
    DWORD flags = 0, type = 0, id = 0, locId = 0;
    FT_HANDLE handle = nullptr;
    std::array<char, ft::SERIAL_NUMBER_SIZE> serialNumber{};
    std::array<char, ft::DESCRIPTION_SIZE> description{};
    std::string port;
  };
  struct Slot {
    std::mutex lock;
    VirtualBoard board;
    mutable std::mutex seenLock;
    Seen seen;

    void Note();  // under `lock`
    Seen Look() const;
    // Whether FT_OpenEx may find the board there, as it was last seen.
    bool MayAnswer(const char* name, DWORD flags) const;
  };

  // The slots as they stand, each of which lives as long as the rack.
  std::vector<Slot*> Slots() const;
  Slot* Listed(DWORD index);
  // Calls `call` on the board that owns the handle, under its lock.
  template <typename Call>
  FT_STATUS OnBoard(FT_HANDLE handle, Call call);

  mutable std::mutex slotsLock_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::mutex listLock_;
  std::vector<Slot*> listed_;  // the boards attached at the last FT_CreateDeviceInfoList
  std::atomic<int> strayCalls_{0};
  std::function<void(VirtualBoard&)> onClose_;
};

}  // namespace qvx::board
