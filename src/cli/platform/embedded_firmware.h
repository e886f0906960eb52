#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qvx::cli {

// The firmware container the program carries, compiled in from resources/firmware.bin so that
// no toolkit's resource system is needed.
std::span<const std::uint8_t> EmbeddedFirmware();

// Serves it as the image resource ("JPG", 100), in the shape of a ResourceLoader.
std::optional<std::vector<std::uint8_t>> LoadEmbeddedFirmware(std::string_view type, int id);

}  // namespace qvx::cli
