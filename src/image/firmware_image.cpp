#include "image/firmware_image.h"

#include <algorithm>
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

void FirmwareImage::LoadFirmwareImage() {
  OpResult = op::kFailure;
  if (!loader_) return;
  std::optional<std::vector<std::uint8_t>> resource = loader_(kImageResourceType, ImageResourceId);
  if (!resource) return;  // ImageBuffer keeps what it had
  ResourceData = std::move(*resource);
  // A short container is refused here, so DescrambleImage never meets one.
  if (ResourceData.size() < kContainerSize) return;
  DescrambleImage();

  ImageMajor = ImageBuffer[kVersionOffset] >> 4;
  ImageMinor = ImageBuffer[kVersionOffset] & 0x0F;
  if (!HasValidHeader(ImageBuffer)) return;
  OpResult = op::kSuccess;
}

}  // namespace qvx
