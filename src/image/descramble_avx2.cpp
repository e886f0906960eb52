#include "image/descramble_avx2.h"

#include "image/image_format.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QVX_AVX2_KERNEL 1
#endif

namespace qvx {

#ifdef QVX_AVX2_KERNEL
namespace {

// Four groups into lane 0 and the four that follow 16 groups later into lane 1, so that the
// transpose below leaves groups 0-15 in lane 0 and 16-31 in lane 1, in order. Within a lane: the
// four encoded bytes, then each noise position's four.
__attribute__((target("avx2"))) __m256i GroupsByPosition(const std::uint8_t* groups) {
  const __m256i byPosition = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                              0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  return _mm256_shuffle_epi8(
      _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(groups + 16 * kGroupSize),
                          reinterpret_cast<const __m128i*>(groups)),
      byPosition);
}

// The running key is a prefix sum over the key bytes, which a byte-at-a-time loop can only
// follow one group per step. Here 32 key bytes are summed at once in log steps.
__attribute__((target("avx2"))) std::size_t Kernel(const std::uint8_t* groups, std::uint8_t* image,
                                                   std::size_t count, std::uint8_t& runningKey) {
  const __m256i lastOfLane = _mm256_set1_epi8(15);
  __m256i base = _mm256_set1_epi8(static_cast<char>(runningKey));

  std::size_t done = 0;
  for (; done + 32 <= count; done += 32) {
    const std::uint8_t* in = groups + kGroupSize * done;
    const __m256i v0 = GroupsByPosition(in);
    const __m256i v1 = GroupsByPosition(in + 16);
    const __m256i v2 = GroupsByPosition(in + 32);
    const __m256i v3 = GroupsByPosition(in + 48);
    const __m256i lo01 = _mm256_unpacklo_epi32(v0, v1);
    const __m256i hi01 = _mm256_unpackhi_epi32(v0, v1);
    const __m256i lo23 = _mm256_unpacklo_epi32(v2, v3);
    const __m256i hi23 = _mm256_unpackhi_epi32(v2, v3);
    const __m256i key = _mm256_add_epi8(
        _mm256_add_epi8(_mm256_unpackhi_epi64(lo01, lo23), _mm256_unpacklo_epi64(hi01, hi23)),
        _mm256_unpackhi_epi64(hi01, hi23));
    const __m256i encodedXorKey = _mm256_xor_si256(_mm256_unpacklo_epi64(lo01, lo23), key);

    // Inclusive prefix sums within each lane, then lane 0's total carried into lane 1.
    __m256i sums = _mm256_add_epi8(key, _mm256_slli_si256(key, 1));
    sums = _mm256_add_epi8(sums, _mm256_slli_si256(sums, 2));
    sums = _mm256_add_epi8(sums, _mm256_slli_si256(sums, 4));
    sums = _mm256_add_epi8(sums, _mm256_slli_si256(sums, 8));
    const __m256i laneTotals = _mm256_shuffle_epi8(sums, lastOfLane);
    sums = _mm256_add_epi8(sums, _mm256_permute2x128_si256(laneTotals, laneTotals, 0x08));

    const __m256i keyBefore = _mm256_add_epi8(base, _mm256_sub_epi8(sums, key));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(image + done),
                        _mm256_xor_si256(encodedXorKey, keyBefore));
    base = _mm256_add_epi8(base,
                           _mm256_permute4x64_epi64(_mm256_shuffle_epi8(sums, lastOfLane), 0xFF));
  }
  runningKey = static_cast<std::uint8_t>(_mm256_cvtsi256_si32(base));
  return done;
}

}  // namespace

std::size_t DescrambleAvx2(const std::uint8_t* groups, std::uint8_t* image, std::size_t count,
                           std::uint8_t& runningKey) {
  static const bool hasAvx2 = __builtin_cpu_supports("avx2");
  return hasAvx2 ? Kernel(groups, image, count, runningKey) : 0;
}

#else

std::size_t DescrambleAvx2(const std::uint8_t*, std::uint8_t*, std::size_t, std::uint8_t&) {
  return 0;
}

#endif

}  // namespace qvx
