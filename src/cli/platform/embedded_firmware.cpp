#include "cli/platform/embedded_firmware.h"

#include "image/firmware_image.h"

namespace qvx::cli {

std::optional<std::vector<std::uint8_t>> LoadEmbeddedFirmware(std::string_view type, int id) {
  if (type != kImageResourceType || id != kImageResourceId) return std::nullopt;
  const std::span<const std::uint8_t> bytes = EmbeddedFirmware();
  return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace qvx::cli
