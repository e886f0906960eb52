#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace qvx::win32 {

// Hands back exactly the bytes of this program's resource of that type name and id in U.S.
// English, or nothing when there is none. Shaped to serve as FirmwareImage's ResourceLoader.
std::optional<std::vector<std::uint8_t>> LoadProgramResource(std::string_view type, int id);

}  // namespace qvx::win32
