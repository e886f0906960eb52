#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// Whole-file reading and writing for firmware files, shared by the programs and the tools.
// Each returns "" when it worked, else what went wrong, in words for the operator.
namespace qvx {

std::string ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes);

// Writes by way of a temporary file beside the target, so that a failed run never leaves a
// truncated file where a good one was. Without `replace`, an existing file is left as it was
// and reported as "exists already".
std::string WriteFileAtomically(const std::filesystem::path& path,
                                std::span<const std::uint8_t> bytes, bool replace);

inline constexpr char kFileExists[] = "exists already";

}  // namespace qvx
