#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
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

struct Stage {
  const char* step;  // as the failure messages name it
  Region region;
};
// In the order the update runs them; Step 4 only for boards running firmware up to 1.1.
inline constexpr Stage kStages[] = {
    {"Step 2", kStep2}, {"Step 3", kStep3}, {"Step 4", kStep4}, {"Step 1", kStep1}};

inline bool RunsBootloader(std::uint8_t firmware) {
  return firmware <= 0x11;
}

// Index into kStages of the stage a flash address belongs to, -1 for none.
inline int StageOf(std::int32_t address) {
  for (int i = 0; i < 4; ++i) {
    const Region r = kStages[i].region;
    if (address >= r.address && address < r.address + 2 * r.words) return i;
  }
  return -1;
}

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
    return Holds(region, decoded.begin() + ImageOffset(region.address));
  }
  bool Erased(Region region) {
    return Holds(region, std::vector<std::uint8_t>(4 * region.words, 0xFF).begin());
  }
  // What a whole update leaves: every stage that runs for that firmware written, nothing else.
  bool Updated(std::uint8_t firmware) {
    bool updated = Erased({3072, 512});
    for (int i = 0; i < 4; ++i) {
      const bool runs = i != 2 || RunsBootloader(firmware);
      updated = updated && (runs ? Written(kStages[i].region) : Erased(kStages[i].region));
    }
    return updated;
  }

  // One field of every command of that mnemonic the board parsed, in order.
  std::vector<std::int32_t> Sent(const std::string& mnemonic,
                                 std::int32_t board::Command::*field) const {
    std::vector<std::int32_t> values;
    for (const auto& c : board.Commands()) {
      if (c.mnemonic == mnemonic) values.push_back(c.*field);
    }
    return values;
  }
  // The latest stage in run order whose blocks reached the board; -1 for none.
  int LastStageTouched() const {
    int last = -1;
    for (const auto& c : board.Commands()) {
      if (c.mnemonic == "WF" || c.mnemonic == "RF") last = std::max(last, StageOf(c.address));
    }
    return last;
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
  template <typename It>
  bool Holds(Region region, It expected) {
    const auto first = board.Flash().begin() + 2 * region.address;
    return std::equal(first, first + 4 * region.words, expected);
  }
  void Prepare(Region region) {
    image.ReferenceImage = decoded;
    link.BlockWords = 512;
    engine.RegionAddress = region.address;
    link.BufferOffset = ImageOffset(region.address);
  }
};

}  // namespace qvx::test
