// A whole update by the engine, through libftdi1, libusb and the emulated chip.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "update/update_engine.h"
#include "usb/quiet_window.h"
#include "usb/usb_fixture.h"

namespace qvx::usbemu::test {
namespace {

// Flash address units 3,072 to 4,095 belong to no stage of the update; 1,024 to 3,071 are the
// bootloader's, written only for boards with old firmware.
bool WrittenByUpdate(std::size_t flashByte, bool bootloaderStage) {
  const std::size_t unit = flashByte / 2;
  if (unit >= 1024 && unit < 3072) return bootloaderStage;
  return unit < 3072 || unit >= 4096;
}

class UpdateUsbTest : public UsbPathTest, public testing::WithParamInterface<std::uint8_t> {};

TEST_P(UpdateUsbTest, AWholeUpdateLandsInTheBoardsFlash) {
  const std::uint8_t firmware = GetParam();
  board.SetVersions(0x21, firmware);
  auto& chip = PlugBoard();

  std::int16_t opResult = 0;
  FirmwareImage image(nullptr, opResult);
  image.CreateArrays();
  // No 0xFF anywhere, so an erased byte never passes for a written one.
  for (std::size_t i = 8; i < image.ImageBuffer.size(); ++i) {
    image.ImageBuffer[i] = static_cast<std::uint8_t>((i * 31 + i / 2048) % 255);
  }
  const std::vector<std::uint8_t> decoded = image.ImageBuffer;
  QVXModule link(*driver, image.ImageBuffer);
  QuietWindow window;
  UpdateEngine engine(link, image, window, opResult);

  link.OpenDevice();
  ASSERT_EQ(link.FtStatus, 0);
  link.QueryDeviceInfo();
  ASSERT_EQ(link.FtStatus, 0);
  const auto start = std::chrono::steady_clock::now();
  engine.FlashDevice();
  const auto took = std::chrono::steady_clock::now() - start;
  link.CloseDevice();

  EXPECT_EQ(opResult, UpdateEngine::kSuccess);
  EXPECT_EQ(window.boxes, std::vector<std::string>{});
  const bool bootloaderStage = firmware <= 0x11;
  chip.Inspect([&](FtdiChip&) {
    const auto& flash = board.Flash();
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < flash.size(); ++i) {
      const std::uint8_t expected = WrittenByUpdate(i, bootloaderStage) ? decoded[8 + i] : 0xFF;
      wrong += flash[i] != expected ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_FALSE(board.InBootloader());
    EXPECT_EQ(std::count_if(board.Commands().begin(), board.Commands().end(),
                            [](const board::Command& c) { return c.mnemonic == "EX"; }),
              bootloaderStage ? 2 : 0);
  });
  const auto ms = std::chrono::duration<double, std::milli>(took).count();
  RecordProperty("update_wall_ms", std::to_string(ms));
  std::cout << "[ figure ] whole update (firmware " << int(firmware >> 4) << "."
            << int(firmware & 15) << ") through libftdi1/libusb/emulated chip: " << ms << " ms\n";
}

INSTANTIATE_TEST_SUITE_P(Firmware, UpdateUsbTest, testing::Values(0x11, 0x12),
                         [](const testing::TestParamInfo<std::uint8_t>& info) {
                           return info.param <= 0x11 ? "OldWithBootloaderStage" : "New";
                         });

}  // namespace
}  // namespace qvx::usbemu::test
