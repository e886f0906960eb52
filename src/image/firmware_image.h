#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "image/problem.h"
#include "image/version.h"

namespace qvx {

inline constexpr std::size_t kImageSize = 65544;  // 8-byte header + 65,536 bytes of flash
inline constexpr std::size_t kContainerSize = 4 * kImageSize;  // the scrambled form
inline constexpr std::int16_t kImageResourceId = 100;
inline constexpr std::string_view kImageResourceType = "JPG";

// Hands back exactly the bytes of the program resource of that type and id, or nothing.
using ResourceLoader =
    std::function<std::optional<std::vector<std::uint8_t>>(std::string_view type, int id)>;

// The type names a loader looks up: letters and digits only, so that no name reaches outside its
// own folder of Qt's resources or reads as a numbered standard type ("#3") on Windows.
bool IsPlainResourceName(std::string_view type);

// The three image arrays and the operations over them.
class FirmwareImage {
 public:
  explicit FirmwareImage(ResourceLoader loader = {});

  std::vector<std::uint8_t> ImageBuffer;
  std::vector<std::uint8_t> ReferenceImage;
  std::vector<std::uint8_t> ResourceData;
  std::int16_t ImageResourceId = 0;
  std::uint8_t ImageMajor = 0;
  std::uint8_t ImageMinor = 0;

  // Creates the three arrays zero-filled at their run-time sizes (done once, at start-up).
  void CreateArrays();

  // Loads the resource, decodes it into ImageBuffer and checks its header; what is wrong with
  // it, or nothing when the image is one to write.
  std::optional<Problem> LoadFirmwareImage();
  // Both throw std::out_of_range on an input shorter than its format, before changing anything.
  void DescrambleImage();
  void ScrambleImage();

 private:
  ResourceLoader loader_;
};

// The image a loader serves, decoded and checked as Find Device checks it, as a value to share.
struct DecodedImage {
  std::vector<std::uint8_t> plain;  // kImageSize bytes: the header, then the flash
  Version version;
};
// The image, or what is wrong with it.
struct LoadedImage {
  std::optional<DecodedImage> image;
  std::optional<Problem> problem;
};
LoadedImage LoadImage(ResourceLoader loader);

// The plain image of a board's flash, as the programs load one: "FW", its firmware version in
// byte 3, byte 4 zero, then the flash.
std::vector<std::uint8_t> PlainImage(std::span<const std::uint8_t> flash, Version version);

}  // namespace qvx
