#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "image/problem.h"

// Whole-file reading and writing for firmware files, shared by the programs and the tools. Each
// returns what stood in the way, naming the file, or nothing when it worked.
namespace qvx {

std::optional<Problem> ReadWholeFile(const std::filesystem::path& path,
                                     std::vector<std::uint8_t>& bytes);

// Writes by way of a temporary file beside the target, so that a failed run never leaves a
// truncated file where a good one was. Without `replace`, an existing file is left as it was
// and reported as kFileExists.
std::optional<Problem> WriteFileAtomically(const std::filesystem::path& path,
                                           std::span<const std::uint8_t> bytes, bool replace);

inline constexpr char kFileExists[] = "exists already";

}  // namespace qvx
