#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <vector>

#include "image/firmware_image.h"
#include "image/image_format.h"

namespace qvx {

inline constexpr std::int32_t kBlockWords = 512;  // one "WF"/"RF" block: 2,048 bytes
// Boards running firmware up to 1.1 also get the bootloader region written.
inline constexpr int kLastFirmwareNeedingBootloader = 0x11;

// One region of the flash: for an update, written, then read back and compared.
struct Stage {
  int step;              // as the operator's messages number it: "Step 2"; 0 for none
  std::int32_t address;  // flash address of the region's first block
  std::int32_t words;
  bool bootloader;         // runs only for old firmware, between the two "EX"
  bool purgeBeforeVerify;  // the long region is purged once more before its read-back

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
    {2, 4096, 2048, false, false},
    {3, 0, 512, false, false},
    {4, 1024, 1024, true, false},
    {1, 8192, 12288, false, true},
}};

// The whole flash, addresses 0 to 32,767, as one region of no step: what a dump reads.
inline constexpr Stage kWholeFlash{0, 0, static_cast<std::int32_t>((kImageSize - kHeaderSize) / 4),
                                   false, false};

// The engine moves whole blocks only, so a region of a part block would lose its tail.
static_assert(std::ranges::all_of(
    std::array{kStages[0], kStages[1], kStages[2], kStages[3], kWholeFlash}, [](const Stage& s) {
      return s.words % kBlockWords == 0 &&
             s.ImageOffset() + 4 * s.words <= static_cast<std::int32_t>(kImageSize);
    }));

// The stages an update runs for a board with that firmware, in order: the one place that
// decides whether the bootloader region is written.
inline std::vector<Stage> PlanFor(std::uint8_t firmwareMajor, std::uint8_t firmwareMinor) {
  const bool bootloader = firmwareMajor * 16 + firmwareMinor <= kLastFirmwareNeedingBootloader;
  std::vector<Stage> plan;
  std::ranges::copy_if(kStages, std::back_inserter(plan),
                       [bootloader](const Stage& s) { return bootloader || !s.bootloader; });
  return plan;
}

// The blocks of one pass over each stage of a plan.
inline int BlocksOf(const std::vector<Stage>& plan) {
  int blocks = 0;
  for (const Stage& stage : plan) blocks += stage.Blocks();
  return blocks;
}

}  // namespace qvx
