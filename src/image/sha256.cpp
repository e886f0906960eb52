#include "image/sha256.h"

#include <array>
#include <cstdio>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace qvx {

namespace {

constexpr std::size_t kDigestBytes = 32;

std::string Hex(const std::array<std::uint8_t, kDigestBytes>& digest) {
  std::string text;
  for (const std::uint8_t byte : digest) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", byte);
    text += pair;
  }
  return text;
}

}  // namespace

std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  std::array<std::uint8_t, kDigestBytes> digest{};
#ifdef _WIN32
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool done = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM,
                                                               nullptr, 0)) &&
                    BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
                    BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data()),
                                                  static_cast<ULONG>(bytes.size()), 0)) &&
                    BCRYPT_SUCCESS(BCryptFinishHash(hash, digest.data(), kDigestBytes, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  if (!done) throw std::runtime_error("SHA-256 is not available");
#else
  unsigned int size = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
      size != kDigestBytes) {
    throw std::runtime_error("EVP_Digest failed");
  }
#endif
  return Hex(digest);
}

}  // namespace qvx
