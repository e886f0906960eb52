#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "image/firmware_image.h"

namespace qvx {

// A firmware file as an operator hands it over: a scrambled container of kContainerSize bytes
// or a plain image of kImageSize bytes, checked as the embedded image is checked.
struct FirmwareFile {
  std::vector<std::uint8_t> container;  // the file as a container (a plain image scrambled)
  std::optional<Problem> problem;       // the file, and the rule it breaks
};

FirmwareFile ReadFirmwareFile(const std::filesystem::path& path);

// Serves a container as the program's image resource, in place of the embedded one.
ResourceLoader ServeContainer(std::vector<std::uint8_t> container);

}  // namespace qvx
