#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "board/virtual_board.h"
#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "update/recording_window.h"
#include "update/update_engine.h"

namespace qvx::test {

// A USB socket on the bench: the program stays plugged into it for the whole run while boards
// come and go. Each board is fresh, so its inspection logs never count as the program's memory.
class BoardSocket : public D2xx {
 public:
  board::VirtualBoard& Plug() {
    board_ = std::make_unique<board::VirtualBoard>();
    return *board_;
  }
  board::VirtualBoard& Board() { return *board_; }

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override {
    return board_->FT_OpenEx(description, flags, handle);
  }
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override {
    return board_->FT_SetTimeouts(handle, readMs, writeMs);
  }
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override {
    return board_->FT_SetLatencyTimer(handle, ms);
  }
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override {
    return board_->FT_SetUSBParameters(handle, inSize, outSize);
  }
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override {
    return board_->FT_Purge(handle, mask);
  }
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override {
    return board_->FT_Write(handle, data, count, written);
  }
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override {
    return board_->FT_Read(handle, data, count, read);
  }
  FT_STATUS FT_Close(FT_HANDLE handle) override { return board_->FT_Close(handle); }

 private:
  std::unique_ptr<board::VirtualBoard> board_;
};

// The firmware the program carries: "FW", version 1.6, content without 0xFF so that erased
// flash never passes for written data; served scrambled as the "JPG"/100 resource.
struct Firmware {
  Firmware() {
    std::mt19937 random(2026);
    plain.resize(kImageSize);
    for (auto& byte : plain) byte = static_cast<std::uint8_t>(random() % 255);
    const std::uint8_t header[8] = {'F', 'W', 0, 0x16, 0, 0, 0, 0};
    std::copy(std::begin(header), std::end(header), plain.begin());
    std::int16_t unused = 0;
    FirmwareImage packer(nullptr, unused);
    packer.ImageBuffer = plain;
    packer.ScrambleImage();
    container = packer.ResourceData;
  }

  ResourceLoader Loader() const {
    return [this](std::string_view type, int id) -> std::optional<std::vector<std::uint8_t>> {
      if (type != "JPG" || id != kImageResourceId) return std::nullopt;
      return container;
    };
  }

  std::vector<std::uint8_t> plain;
  std::vector<std::uint8_t> container;
};

// The program's long-lived parts, wired as the window wires them, plugged into the socket.
struct Program {
  explicit Program(const Firmware& firmware) : image(firmware.Loader(), opResult) {
    image.CreateArrays();
    image.ImageResourceId = kImageResourceId;
  }

  // "Find Device": false where the program would end on a failed purge.
  bool FindDevice() {
    opResult = 0;
    link.PurgeDevice();
    if (link.FtStatus != 0) return false;
    link.QueryDeviceInfo();  // its outcome is shown, not tested
    link.PurgeDevice();
    if (link.FtStatus != 0) return false;
    image.LoadFirmwareImage();
    return true;
  }

  void Flash() {
    opResult = 0;
    engine.FlashDevice();
  }

  BoardSocket socket;
  std::int16_t opResult = 0;
  FirmwareImage image;
  QVXModule link{socket, image.ImageBuffer};
  RecordingWindow window;
  UpdateEngine engine{link, image, window, opResult};
};

// The flash holds the image in every region an update writes (the bootloader's when it ran) and
// nothing in the addresses no stage owns.
inline bool FlashRight(board::VirtualBoard& board, const std::vector<std::uint8_t>& plain,
                       bool bootloaderRan) {
  struct Span {
    std::int32_t address, words;
    bool written;
  };
  const Span spans[] = {{0, 512, true},
                        {1024, 1024, bootloaderRan},
                        {3072, 512, false},
                        {4096, 2048, true},
                        {8192, 12288, true}};
  const auto& flash = board.Flash();
  return std::all_of(std::begin(spans), std::end(spans), [&](const Span& s) {
    const auto first = flash.begin() + 2 * s.address;
    const auto last = first + 4 * s.words;
    return s.written ? std::equal(first, last, plain.begin() + 8 + 2 * s.address)
                     : std::all_of(first, last, [](std::uint8_t b) { return b == 0xFF; });
  });
}

inline bool BootloaderRan(const board::VirtualBoard& board) {
  const auto& commands = board.Commands();
  return std::any_of(commands.begin(), commands.end(),
                     [](const board::Command& c) { return c.mnemonic == "EX"; });
}

}  // namespace qvx::test
