#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qvx {

// The SHA-256 digest of the bytes, in lower-case hex: OpenSSL's where it is the system's
// library, the platform's own (CNG) on Windows.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

}  // namespace qvx
