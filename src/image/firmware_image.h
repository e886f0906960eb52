#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace qvx {

inline constexpr std::size_t kImageSize = 65544;  // 8-byte header + 65,536 bytes of flash
inline constexpr std::size_t kContainerSize = 4 * kImageSize;  // the scrambled form
inline constexpr std::int16_t kImageResourceId = 100;

// Hands back exactly the bytes of the program resource of that type and id, or nothing.
using ResourceLoader =
    std::function<std::optional<std::vector<std::uint8_t>>(std::string_view type, int id)>;

// The three image arrays and the operations over them. OpResult is shared with the update
// engine and the window, which own it.
class FirmwareImage {
 public:
  FirmwareImage(ResourceLoader loader, std::int16_t& opResult);

  std::vector<std::uint8_t> ImageBuffer;
  std::vector<std::uint8_t> ReferenceImage;
  std::vector<std::uint8_t> ResourceData;
  std::int16_t ImageResourceId = 0;
  std::uint8_t ImageMajor = 0;
  std::uint8_t ImageMinor = 0;
  std::int16_t& OpResult;

  // Creates the three arrays zero-filled at their run-time sizes (done once, at start-up).
  void CreateArrays();

  void LoadFirmwareImage();
  void DescrambleImage();
  void ScrambleImage();

 private:
  ResourceLoader loader_;
};

}  // namespace qvx
