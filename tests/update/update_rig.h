#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "board/virtual_board.h"
#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "recording_window.h"
#include "update/update_engine.h"

namespace qvx::test {

// One region the update writes, in flash address units and words.
struct Region {
  std::int32_t address;
  std::int32_t words;
};

inline constexpr Region kStep2{4096, 2048};
inline constexpr Region kStep3{0, 512};
inline constexpr Region kStep4{1024, 1024};
inline constexpr Region kStep1{8192, 12288};

inline std::int32_t ImageOffset(std::int32_t address) {
  return 8 + 2 * address;
}

// A decoded image with "FW" header and no 0xFF in its content, so that an erased flash byte
// never passes for written data.
inline const std::vector<std::uint8_t>& TestImage() {
  static const std::vector<std::uint8_t> image = [] {
    std::vector<std::uint8_t> bytes(kImageSize);
    std::minstd_rand random(7);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random() % 255);
    const std::uint8_t header[8] = {'F', 'W', 0, 0x13, 0, 0, 0, 0};
    std::copy(std::begin(header), std::end(header), bytes.begin());
    return bytes;
  }();
  return image;
}

// A board, the link to it, a decoded image and the engine, wired as the window wires them.
class UpdateRig {
 public:
  explicit UpdateRig(std::uint8_t firmware = 0x12) {
    image.CreateArrays();
    image.ImageBuffer = TestImage();
    decoded = image.ImageBuffer;
    board.SetVersions(0x21, firmware);
    link.OpenDevice();
    link.QueryDeviceInfo();
  }

  // The board holds the image's bytes for that region.
  bool Written(Region region) {
    const auto& flash = board.Flash();
    const auto first = static_cast<std::size_t>(2 * region.address);
    return std::equal(flash.begin() + first, flash.begin() + first + 4 * region.words,
                      decoded.begin() + ImageOffset(region.address));
  }
  bool Erased(Region region) {
    const auto& flash = board.Flash();
    const auto first = static_cast<std::size_t>(2 * region.address);
    return std::all_of(flash.begin() + first, flash.begin() + first + 4 * region.words,
                       [](std::uint8_t b) { return b == 0xFF; });
  }

  // Sets up one pass as FlashDevice would; the reference is the decoded image.
  void PrepareWrite(Region region) {
    Prepare(region);
    link.WriteLength = region.words;
  }
  void PrepareVerify(Region region) {
    Prepare(region);
    engine.VerifyLength = region.words;
  }

  board::VirtualBoard board;
  std::int16_t opResult = 0;
  FirmwareImage image{nullptr, opResult};
  QVXModule link{board, image.ImageBuffer};
  RecordingWindow window;
  UpdateEngine engine{link, image, window, opResult};
  std::vector<std::uint8_t> decoded;

 private:
  void Prepare(Region region) {
    image.ReferenceImage = decoded;
    link.BlockWords = 512;
    engine.RegionAddress = region.address;
    link.BufferOffset = ImageOffset(region.address);
  }
};

}  // namespace qvx::test
