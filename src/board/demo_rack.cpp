#include "board/demo_rack.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace qvx::board {

namespace {

using namespace std::chrono_literals;

constexpr auto kBetweenPlugIns = 3s;   // from one board's plug-in to the next one's
constexpr auto kBeforePullOut = 3s;    // a done board stays for its result to be read
constexpr auto kBeforeNextBoard = 2s;  // the place stays empty a moment

std::filesystem::path FileOf(const std::filesystem::path& keep, const VirtualBoard& board) {
  return keep / (board.SerialNumber() + ".bin");
}

}  // namespace

std::string DemoRack::SerialNumberOf(std::size_t index) {
  const std::string number = std::to_string(index + 1);
  return "DEMO" + std::string(number.size() < 4 ? 4 - number.size() : 0, '0') + number;
}

DemoRack::DemoRack(std::size_t boards, bool comeAndGo, const std::filesystem::path& keep)
    : comeAndGo_(comeAndGo) {
  const Clock::time_point now = Clock::now();
  for (std::size_t i = 0; i < boards; ++i) {
    VirtualBoard& board = rack_.Plug(SerialNumberOf(i), BoardRack::PortOf(i));
    board.SetTiming(Timing::Demo());
    board.KeepNoLog();
    if (!keep.empty()) {
      std::ifstream in(FileOf(keep, board), std::ios::binary);
      std::vector<std::uint8_t> flash{std::istreambuf_iterator<char>(in), {}};
      if (flash.size() == VirtualBoard::kFlashBytes) board.Flash() = flash;
    }
    places_.push_back({&board, BoardRack::PortOf(i), !comeAndGo, 0, now + i * kBetweenPlugIns});
    if (comeAndGo) rack_.Unplug(places_.back().port);
  }
  // Each board's flash as its last close left it, for the next run.
  if (!keep.empty() && !comeAndGo) {
    rack_.OnClose([keep](VirtualBoard& board) {
      std::error_code ignored;
      std::filesystem::create_directories(keep, ignored);
      std::ofstream(FileOf(keep, board), std::ios::binary | std::ios::trunc)
          .write(reinterpret_cast<const char*>(board.Flash().data()),
                 static_cast<std::streamsize>(board.Flash().size()));
    });
  }
}

void DemoRack::Move() {
  if (!comeAndGo_) return;
  const std::lock_guard guard(lock_);
  const Clock::time_point now = Clock::now();
  for (Place& place : places_) {
    if (!place.plugged && now >= place.next) {
      // A board fresh from the line, where the last one was.
      std::fill(place.board->Flash().begin(), place.board->Flash().end(), 0xFF);
      place.board->SetVersions(0x21, 0x11);
      place.closesWhenPlugged = place.board->Closes();
      place.done = false;
      place.plugged = true;
      rack_.Plug(place.board->SerialNumber(), place.port);
    } else if (place.plugged && !place.done && place.board->Closes() > place.closesWhenPlugged) {
      place.done = true;
      place.next = now + kBeforePullOut;
    } else if (place.plugged && place.done && now >= place.next) {
      place.plugged = false;
      place.next = now + kBeforeNextBoard;
      rack_.Unplug(place.port);
    }
  }
}

FT_STATUS DemoRack::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  return rack_.FT_OpenEx(description, flags, handle);
}
FT_STATUS DemoRack::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  return rack_.FT_SetTimeouts(handle, readMs, writeMs);
}
FT_STATUS DemoRack::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  return rack_.FT_SetLatencyTimer(handle, ms);
}
FT_STATUS DemoRack::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  return rack_.FT_SetUSBParameters(handle, inSize, outSize);
}
FT_STATUS DemoRack::FT_Purge(FT_HANDLE handle, DWORD mask) {
  return rack_.FT_Purge(handle, mask);
}
FT_STATUS DemoRack::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  return rack_.FT_Write(handle, data, count, written);
}
FT_STATUS DemoRack::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  return rack_.FT_Read(handle, data, count, read);
}
FT_STATUS DemoRack::FT_Close(FT_HANDLE handle) {
  return rack_.FT_Close(handle);
}
FT_STATUS DemoRack::FT_CreateDeviceInfoList(DWORD* count) {
  Move();
  return rack_.FT_CreateDeviceInfoList(count);
}
FT_STATUS DemoRack::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                           DWORD* locId, void* serialNumber, void* description,
                                           FT_HANDLE* handle) {
  return rack_.FT_GetDeviceInfoDetail(index, flags, type, id, locId, serialNumber, description,
                                      handle);
}

std::filesystem::path DemoFolder() {
  const auto from = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value)
                                              : std::filesystem::path();
  };
#ifdef _WIN32
  const std::filesystem::path base = from("LOCALAPPDATA");
#else
  std::filesystem::path base = from("XDG_STATE_HOME");
  if (base.empty() && !from("HOME").empty()) base = from("HOME") / ".local" / "state";
#endif
  return base.empty() ? base : base / "quorvex" / "demo";
}

}  // namespace qvx::board
