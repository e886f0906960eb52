#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "image/firmware_image.h"
#include "image/image_format.h"

namespace qvx {

inline constexpr std::int32_t kBlockWords = 512;  // one "WF"/"RF" block: 2,048 bytes
// Boards running firmware up to 1.1 also get the bootloader region written.
inline constexpr int kLastFirmwareNeedingBootloader = 0x11;

// One region of the update: written, then read back and compared.
struct Stage {
  std::string_view step;  // as its messages name it
  std::int32_t address;   // flash address of the region's first block
  std::int32_t words;
  bool bootloader;         // runs only for old firmware, between the two "EX"
  bool purgeBeforeVerify;  // the long region is purged once more before its read-back
  std::string_view communicationText;
  std::string_view verifyText;

  constexpr std::int32_t ImageOffset() const {
    return static_cast<std::int32_t>(kHeaderSize) + 2 * address;
  }
  constexpr std::int32_t Blocks() const { return words / kBlockWords; }
  constexpr bool Contains(std::int32_t flashAddress) const {
    return flashAddress >= address && flashAddress < address + 2 * words;
  }
};

// In the order they run. Flash addresses 3,072 to 4,095 belong to no stage; the image's header
// is never sent.
inline constexpr std::array<Stage, 4> kStages{{
    {"Step 2", 4096, 2048, false, false,
     "Step 2 - Device communication error - Corruption possible!  Re-try update!",
     "Step 2 - Device verify error!  Data is corrupted!  Re-try update!"},
    {"Step 3", 0, 512, false, false,
     "Step 3 - Device communication error - Corruption possible!  "
     "** DO NOT POWER OFF BOARD!! **  Re-try update!",
     "Step 3 - Device verify error!  Data is corrupted!  "
     "** DO NOT POWER OFF BOARD!! **  Re-try update!"},
    {"Step 4", 1024, 1024, true, false,
     "Step 4 - Device communication error - Corruption possible!  Re-try update!",
     "Step 4 - Device verify error!  Data is corrupted!  Re-try update!"},
    {"Step 1", 8192, 12288, false, true,
     "Step 1 - Device communication error - Corruption possible!  Re-try update!",
     "Step 1 - Device verify error!  Data is corrupted!  Re-try update!"},
}};

// The engine moves whole blocks only, so a region of a part block would lose its tail.
static_assert(std::ranges::all_of(kStages, [](const Stage& s) {
  return s.words % kBlockWords == 0 &&
         s.ImageOffset() + 4 * s.words <= static_cast<std::int32_t>(kImageSize);
}));

inline constexpr bool RunsBootloader(std::uint8_t firmwareMajor, std::uint8_t firmwareMinor) {
  return firmwareMajor * 16 + firmwareMinor <= kLastFirmwareNeedingBootloader;
}

}  // namespace qvx
