// The virtual board as a driver library: the eight calls with the vendor's C ABI around one
// process-wide board, configured from the environment when first used.
//
//   QVX_BOARD_TIMING     off | fullspeed | demo (default demo)
//   QVX_BOARD_HARDWARE   hardware version byte, e.g. 0x21
//   QVX_BOARD_FIRMWARE   firmware version byte, e.g. 0x11
//   QVX_BOARD_FLASH_IN   file whose bytes preload the flash (at most 65,536)
//   QVX_BOARD_FLASH_OUT  file the flash is written to at every successful FT_Close
//   QVX_BOARD_ABSENT     1: no board attached, opening fails

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>

#include "board/virtual_board.h"

namespace {

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
  std::mutex lock;
  VirtualBoard board;
  std::string flashOut;

  DropIn() : flashOut(Env("QVX_BOARD_FLASH_OUT")) {
    board.SetTiming(TimingFrom(Env("QVX_BOARD_TIMING")));
    board.SetVersions(ByteFrom(Env("QVX_BOARD_HARDWARE"), 0x21),
                      ByteFrom(Env("QVX_BOARD_FIRMWARE"), 0x11));
    if (const std::string in = Env("QVX_BOARD_FLASH_IN"); !in.empty()) Preload(board, in);
    board.SetAttached(Env("QVX_BOARD_ABSENT") != "1");
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
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_OpenEx(static_cast<const char*>(arg), flags, handle);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_SetTimeouts(handle, readMs, writeMs);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_SetLatencyTimer(FT_HANDLE handle, unsigned char ms) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_SetLatencyTimer(handle, ms);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_SetUSBParameters(handle, inSize, outSize);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Purge(FT_HANDLE handle, DWORD mask) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_Purge(handle, mask);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Write(FT_HANDLE handle, void* data, DWORD count, DWORD* written) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_Write(handle, data, count, written);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  return d.board.FT_Read(handle, data, count, read);
}

QVX_EXPORT FT_STATUS QVX_FTAPI FT_Close(FT_HANDLE handle) {
  DropIn& d = Instance();
  const std::lock_guard guard(d.lock);
  const FT_STATUS status = d.board.FT_Close(handle);
  if (status == qvx::ft::OK && !d.flashOut.empty()) Dump(d.board, d.flashOut);
  return status;
}
