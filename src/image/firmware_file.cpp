#include "image/firmware_file.h"

#include <utility>

#include "image/file_io.h"
#include "image/image_format.h"

namespace qvx {

namespace {

// The header rules the program loads an image by, one at a time; "" when all hold.
std::string BrokenHeaderRule(const std::vector<std::uint8_t>& image) {
  if (image[0] != 'F' || image[1] != 'W') return "the image does not start with \"FW\"";
  if (image[4] != 0) return "byte 4 of the image is not 0";
  return "";
}

}  // namespace

FirmwareFile ReadFirmwareFile(const std::filesystem::path& path) {
  FirmwareFile file;
  FirmwareImage image;
  std::vector<std::uint8_t> bytes;
  std::string broken = ReadWholeFile(path, bytes);
  if (broken.empty() && bytes.size() == kImageSize) {
    image.ImageBuffer = std::move(bytes);
    broken = BrokenHeaderRule(image.ImageBuffer);
    if (broken.empty()) image.ScrambleImage();
  } else if (broken.empty() && bytes.size() == kContainerSize) {
    image.ResourceData = std::move(bytes);
    image.DescrambleImage();
    broken = BrokenHeaderRule(image.ImageBuffer);
  } else if (broken.empty()) {
    broken = std::to_string(bytes.size()) + " bytes, but a firmware file is a container of " +
             std::to_string(kContainerSize) + " bytes or a plain image of " +
             std::to_string(kImageSize) + " bytes";
  }
  if (broken.empty()) {
    file.container = std::move(image.ResourceData);
  } else {
    file.error = path.string() + ": " + broken;
  }
  return file;
}

ResourceLoader ServeContainer(std::vector<std::uint8_t> container) {
  return [container = std::move(container)](std::string_view type,
                                            int id) -> std::optional<std::vector<std::uint8_t>> {
    if (type != kImageResourceType || id != kImageResourceId) return std::nullopt;
    return container;
  };
}

}  // namespace qvx
