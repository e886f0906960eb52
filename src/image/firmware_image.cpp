#include "image/firmware_image.h"

#include <algorithm>
#include <string>
#include <utility>

#include "image/image_format.h"

namespace qvx {

bool IsPlainResourceName(std::string_view type) {
  return !type.empty() && std::all_of(type.begin(), type.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  });
}

FirmwareImage::FirmwareImage(ResourceLoader loader) : loader_(std::move(loader)) {}

void FirmwareImage::CreateArrays() {
  ImageBuffer.assign(kImageSize, 0);
  ReferenceImage.assign(kImageSize, 0);
  ResourceData.assign(kContainerSize, 0);
}

std::optional<Problem> FirmwareImage::LoadFirmwareImage() {
  std::optional<std::vector<std::uint8_t>> resource;
  if (loader_) resource = loader_(kImageResourceType, ImageResourceId);
  if (!resource) return Problem{{}, "the program carries no firmware image"};  // keeps ImageBuffer
  ResourceData = std::move(*resource);
  // A short container is refused here, so DescrambleImage never meets one.
  if (ResourceData.size() < kContainerSize) {
    return Problem{
        {}, "the firmware container is shorter than " + std::to_string(kContainerSize) + " bytes"};
  }
  DescrambleImage();

  ImageMajor = ImageBuffer[kVersionOffset] >> 4;
  ImageMinor = ImageBuffer[kVersionOffset] & 0x0F;
  if (const auto broken = BrokenHeaderRule(ImageBuffer)) return Problem{{}, std::string(*broken)};
  return std::nullopt;
}

LoadedImage LoadImage(ResourceLoader loader) {
  FirmwareImage image(std::move(loader));
  image.ImageResourceId = kImageResourceId;
  if (auto problem = image.LoadFirmwareImage()) return {std::nullopt, std::move(problem)};
  return {DecodedImage{std::move(image.ImageBuffer), {image.ImageMajor, image.ImageMinor}}, {}};
}

std::vector<std::uint8_t> PlainImage(std::span<const std::uint8_t> flash, Version version) {
  std::vector<std::uint8_t> image(kHeaderSize + flash.size(), 0);
  image[0] = 'F';
  image[1] = 'W';
  image[kVersionOffset] = static_cast<std::uint8_t>(version.major << 4 | version.minor);
  std::ranges::copy(flash, image.begin() + kHeaderSize);
  return image;
}

}  // namespace qvx
