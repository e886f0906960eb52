#pragma once

#include <cstddef>
#include <cstdint>

namespace qvx {

// Decodes the leading groups of a container in blocks of 32 with AVX2, when the processor has
// it. Returns how many groups it decoded (a multiple of 32, or 0 without AVX2) and leaves
// runningKey as it stands after them; the caller decodes the rest one group at a time.
std::size_t DescrambleAvx2(const std::uint8_t* groups, std::uint8_t* image, std::size_t count,
                           std::uint8_t& runningKey);

}  // namespace qvx
