// The virtual board as a driver library: the eight calls and the device list with the vendor's
// C ABI around process-wide boards, configured from the environment when first used.
//
//   QVX_BOARDS           how many boards are attached, 1 to 16 (default 1), serial numbers
//                        QVX00001, QVX00002, ..., ports 1-1.1, 1-1.2, ...; each has its own flash
//                        and timing
//   QVX_BOARD_PLUGS      instead, a file that says which boards are plugged in, read again each
//                        time the program lists or opens devices: a line per board, "SERIAL PORT
//                        [HARDWARE FIRMWARE]" ("QVX00007 1-1.3 0x21 0x11", "-" for a blank serial);
//                        a board the file no longer names is pulled out, and one that comes back
//                        keeps its flash
//   QVX_BOARD_TIMING     off | fullspeed | demo (default demo)
//   QVX_BOARD_HARDWARE   hardware version byte, e.g. 0x21
//   QVX_BOARD_FIRMWARE   firmware version byte, e.g. 0x11, while the flash carries none
//   QVX_BOARD_FLASH_IN   file whose bytes preload the flash (at most 65,536)
//   QVX_BOARD_FLASH_OUT  file the flash is written to at every successful FT_Close
//   With several boards, each board's file is that name followed by "." and its serial number;
//   with both set to one name, the boards keep their flash from one process to the next.
//   QVX_BOARD_ABSENT     1: no board attached, opening fails
//   QVX_BOARD_FAIL       a driver call that fails with FT_IO_ERROR on every board: "purge:1" the
//                        first purge, "write:0" every write (purge, write or read)
//   QVX_BOARD_CORRUPT    a flash byte (0 to 65,535) whose read-back always comes back altered
//   QVX_BOARD_SILENT     a command whose replies never come: "RF:3" the third "RF", "RF:0" every
//   QVX_BOARD_WRITTEN_FIRMWARE  the firmware version a board reports once written to, whatever
//                        its flash then carries (unset: what the flash carries)
//   QVX_BOARD_SERIAL     the first board's serial number, any bytes (at most 15)

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "board/board_rack.h"

namespace {

using qvx::board::BoardRack;
using qvx::board::Timing;
using qvx::board::VirtualBoard;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// A byte in any base strtoul reads (0x21, 33); anything else keeps the default.
std::uint8_t ByteFrom(const std::string& text, std::uint8_t fallback) {
  if (text.empty()) return fallback;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 0);
  return (*end == '\0' && value <= 0xFF) ? static_cast<std::uint8_t>(value) : fallback;
}

constexpr unsigned long kMaxBoards = 16;

std::size_t BoardsFrom(const std::string& text) {
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 10);
  return (!text.empty() && *end == '\0' && value >= 1 && value <= kMaxBoards) ? value : 1;
}

// "RF:3" as the mnemonic and the nth; nothing for anything else.
std::optional<std::pair<std::string, int>> SilenceFrom(const std::string& text) {
  const std::size_t colon = text.find(':');
  char* end = nullptr;
  const long nth =
      colon == std::string::npos ? -1 : std::strtol(text.c_str() + colon + 1, &end, 10);
  if (nth < 0 || *end != '\0' || nth > 1'000'000) return std::nullopt;
  return std::pair{text.substr(0, colon), static_cast<int>(nth)};
}

// "purge:1" as the call and the nth; nothing for anything else.
std::optional<std::pair<qvx::board::Call, int>> FailureFrom(const std::string& text) {
  using qvx::board::Call;
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::string call = text.substr(0, colon);
  char* end = nullptr;
  const long nth = std::strtol(text.c_str() + colon + 1, &end, 10);
  if (*end != '\0' || nth < 0 || nth > 1'000'000) return std::nullopt;
  if (call == "purge") return std::pair{Call::Purge, static_cast<int>(nth)};
  if (call == "write") return std::pair{Call::Write, static_cast<int>(nth)};
  if (call == "read") return std::pair{Call::Read, static_cast<int>(nth)};
  return std::nullopt;
}

Timing TimingFrom(const std::string& name) {
  if (name == "off") return Timing{};
  if (name == "fullspeed") return Timing::FullSpeed();
  return Timing::Demo();
}

void Preload(VirtualBoard& board, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  auto& flash = board.Flash();
  in.read(reinterpret_cast<char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
}

void Dump(VirtualBoard& board, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const auto& flash = board.Flash();
  out.write(reinterpret_cast<const char*>(flash.data()),
            static_cast<std::streamsize>(flash.size()));
}

struct DropIn {
  BoardRack rack{0};
  const std::string plugs = Env("QVX_BOARD_PLUGS");
  std::mutex replugLock;

  DropIn() {
    if (plugs.empty()) {
      const std::size_t boards = BoardsFrom(Env("QVX_BOARDS"));
      const std::string first = Env("QVX_BOARD_SERIAL");
      for (std::size_t i = 0; i < boards; ++i) {
        const std::string serial =
            (i == 0 && !first.empty()) ? first : BoardRack::SerialNumberOf(i);
        rack.Plug(serial, BoardRack::PortOf(i),
                  [boards](VirtualBoard& board, bool /*isNew*/) { SetUp(board, boards > 1); });
      }
    }
    if (const std::string out = Env("QVX_BOARD_FLASH_OUT"); !out.empty()) {
      const bool several = !plugs.empty() || rack.Size() > 1;
      rack.OnClose(
          [out, several](VirtualBoard& board) { Dump(board, FileOf(out, board, several)); });
    }
  }

  // With several boards, each board's file is the name followed by "." and its serial number.
  static std::string FileOf(const std::string& name, const VirtualBoard& board, bool several) {
    return several ? name + "." + board.SerialNumber() : name;
  }

  static void SetUp(VirtualBoard& board, bool several) {
    board.KeepNoLog();
    board.SetTiming(TimingFrom(Env("QVX_BOARD_TIMING")));
    board.SetVersions(ByteFrom(Env("QVX_BOARD_HARDWARE"), 0x21),
                      ByteFrom(Env("QVX_BOARD_FIRMWARE"), 0x11));
    if (const std::string in = Env("QVX_BOARD_FLASH_IN"); !in.empty()) {
      Preload(board, FileOf(in, board, several));
    }
    if (const std::string written = Env("QVX_BOARD_WRITTEN_FIRMWARE"); !written.empty()) {
      board.SetWrittenFirmware(ByteFrom(written, 0x16));
    }
    board.SetAttached(Env("QVX_BOARD_ABSENT") != "1");
    if (const auto failure = FailureFrom(Env("QVX_BOARD_FAIL"))) {
      board.FailCall(failure->first, failure->second, qvx::ft::IO_ERROR);
    }
    if (const auto silence = SilenceFrom(Env("QVX_BOARD_SILENT"))) {
      board.SwallowReply(silence->first, silence->second);
    }
    if (const std::string corrupt = Env("QVX_BOARD_CORRUPT"); !corrupt.empty()) {
      board.CorruptReadBack(std::strtoul(corrupt.c_str(), nullptr, 0) % VirtualBoard::kFlashBytes,
                            /*persistent=*/true);
    }
  }

  // Plugs in the boards the QVX_BOARD_PLUGS file names and pulls out the others: the file as it
  // stands whenever the program lists or opens devices. Those pulled out go first, so that a
  // board moved to another port comes back as itself, its flash kept.
  void Replug() {
    if (plugs.empty()) return;
    const std::lock_guard guard(replugLock);
    struct Plugged {
      std::string serial, port, hardware, firmware;
    };
    std::ifstream file(plugs);
    std::vector<Plugged> present;
    for (std::string line; std::getline(file, line);) {
      std::istringstream fields(line);
      Plugged board;
      if (fields >> board.serial >> board.port) {
        fields >> board.hardware >> board.firmware;
        if (board.serial == "-") board.serial.clear();  // a chip whose serial number is blank
        present.push_back(board);
      }
    }
    const auto attached = rack.Plugged();
    for (const auto& board : attached) {
      if (std::ranges::none_of(present, [&board](const Plugged& p) {
            return std::pair{p.serial, p.port} == board;
          })) {
        rack.Unplug(board.second);
      }
    }
    for (const Plugged& plugged : present) {
      // A board that stays where it was is left alone: it may be in the middle of a call.
      if (std::ranges::find(attached, std::pair{plugged.serial, plugged.port}) != attached.end()) {
        continue;
      }
      // Set up under the board's lock: a listing or an open elsewhere may look at it meanwhile.
      rack.Plug(plugged.serial, plugged.port, [&plugged](VirtualBoard& board, bool isNew) {
        if (isNew) SetUp(board, /*several=*/true);
        // The versions the line gives hold from the plug-in on, as an update changes them.
        if (!plugged.hardware.empty()) {
          board.SetVersions(ByteFrom(plugged.hardware, 0x21),
                            ByteFrom(plugged.firmware, ByteFrom(Env("QVX_BOARD_FIRMWARE"), 0x11)));
        }
      });
    }
  }
};

DropIn& Instance() {
  static DropIn dropIn;
  return dropIn;
}

}  // namespace

// The exports are listed in dropin.def on Windows and dropin.map elsewhere.
#ifdef _WIN32
#define QVX_EXPORT extern "C"
#else
#define QVX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using qvx::DWORD;
using qvx::FT_HANDLE;
using qvx::FT_STATUS;

QVX_EXPORT FT_STATUS QVX_FTAPI FT_OpenEx(void* arg, DWORD flags, FT_HANDLE* handle) {
  Instance().Replug();
  return Instance().rack.FT_OpenEx(static_cast<const char*>(arg), flags, handle);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  return Instance().rack.FT_SetTimeouts(handle, readMs, writeMs);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_SetLatencyTimer(FT_HANDLE handle, unsigned char ms) {
  return Instance().rack.FT_SetLatencyTimer(handle, ms);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  return Instance().rack.FT_SetUSBParameters(handle, inSize, outSize);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Purge(FT_HANDLE handle, DWORD mask) {
  return Instance().rack.FT_Purge(handle, mask);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Write(FT_HANDLE handle, void* data, DWORD count, DWORD* written) {
  return Instance().rack.FT_Write(handle, data, count, written);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  return Instance().rack.FT_Read(handle, data, count, read);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Close(FT_HANDLE handle) {
  return Instance().rack.FT_Close(handle);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_CreateDeviceInfoList(DWORD* count) {
  Instance().Replug();
  return Instance().rack.FT_CreateDeviceInfoList(count);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type,
                                                      DWORD* id, DWORD* locId, void* serialNumber,
                                                      void* description, FT_HANDLE* handle) {
  return Instance().rack.FT_GetDeviceInfoDetail(index, flags, type, id, locId, serialNumber,
                                                description, handle);
}
