#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "board/board_rack.h"
#include "link/d2xx.h"

namespace qvx::board {

// Virtual boards in place of a driver, for a demonstration: serial numbers DEMO0001, DEMO0002,
// ..., at a pace a person can follow. As a rack on a bench they stay plugged in, each keeping its
// flash in `keep` (when given) from one run to the next; as boards at a station they come and
// go, each plugged in a little after the one before, pulled out a little after it was done with,
// and plugged in again with its flash erased, under the same serial number (a rack that took a
// new serial number for each would grow by a board each time).
class DemoRack : public D2xx {
 public:
  DemoRack(std::size_t boards, bool comeAndGo, const std::filesystem::path& keep = {});

  static std::string SerialNumberOf(std::size_t index);

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
  Obstacle OpenObstacle(DWORD index) override { return rack_.OpenObstacle(index); }
  std::string PortName(DWORD index) override { return rack_.PortName(index); }

 private:
  using Clock = std::chrono::steady_clock;
  // One place on the station's bench: the board there, and when it next comes or goes.
  struct Place {
    VirtualBoard* board;
    std::string port;
    bool plugged = false;
    int closesWhenPlugged = 0;
    Clock::time_point next;  // of a plug-in while out; of a pull-out once done with
    bool done = false;
  };

  // The operator's hands: what has come or gone since the last look.
  void Move();

  BoardRack rack_{0};
  const bool comeAndGo_;
  std::mutex lock_;
  std::vector<Place> places_;
};

// Where a bench's demonstration boards keep their flash between runs: the user's own state
// folder ($XDG_STATE_HOME, else ~/.local/state; %LOCALAPPDATA% on Windows), "quorvex/demo".
std::filesystem::path DemoFolder();

}  // namespace qvx::board
