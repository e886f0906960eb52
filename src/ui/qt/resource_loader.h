#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qvx {

// The window's pictures, embedded next to the firmware container.
inline constexpr char kLogoResource[] = ":/logo.bmp";
inline constexpr char kIconResource[] = ":/quorvex.ico";

// Hands back exactly the bytes of the embedded resource of that type and id, or nothing when
// there is none. Shaped to serve as FirmwareImage's ResourceLoader.
std::optional<std::vector<std::uint8_t>> LoadEmbeddedResource(std::string_view type, int id);

}  // namespace qvx
