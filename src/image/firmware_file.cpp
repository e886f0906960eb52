#include "image/firmware_file.h"

#include <string>
#include <utility>

#include "image/file_io.h"
#include "image/image_format.h"

namespace qvx {

namespace {

// A firmware file has one of two sizes: anything else is refused before it is read.
std::optional<std::string> SizeProblem(std::uintmax_t size) {
  if (size == kImageSize || size == kContainerSize) return std::nullopt;
  return std::to_string(size) + " bytes, but a firmware file is a container of " +
         std::to_string(kContainerSize) + " bytes or a plain image of " +
         std::to_string(kImageSize) + " bytes";
}

// The file's bytes as a container, or the reason they are none.
std::optional<std::string> Decode(std::vector<std::uint8_t> bytes, FirmwareImage& image) {
  if (bytes.size() == kImageSize) {
    image.ImageBuffer = std::move(bytes);
    if (const auto broken = BrokenHeaderRule(image.ImageBuffer)) return std::string(*broken);
    image.ScrambleImage();
    return std::nullopt;
  }
  if (bytes.size() == kContainerSize) {
    image.ResourceData = std::move(bytes);
    image.DescrambleImage();
    if (const auto broken = BrokenHeaderRule(image.ImageBuffer)) return std::string(*broken);
    return std::nullopt;
  }
  return SizeProblem(bytes.size());  // it changed size while it was read
}

}  // namespace

FirmwareFile ReadFirmwareFile(const std::filesystem::path& path) {
  FirmwareFile file;
  std::vector<std::uint8_t> bytes;
  file.problem = ReadWholeFile(path, bytes, SizeProblem);
  if (file.problem) return file;
  FirmwareImage image;
  if (auto broken = Decode(std::move(bytes), image)) {
    file.problem = Problem{PathText(path), std::move(*broken)};
  } else {
    file.container = std::move(image.ResourceData);
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
