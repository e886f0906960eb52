#include "image/descramble_avx2.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace qvx {
namespace {

// The wide kernel must agree with the one-group-at-a-time definition for every block it takes,
// whatever the key it starts from.
TEST(DescrambleAvx2Test, AgreesWithTheGroupByGroupDefinition) {
  std::mt19937 generator(3);
  for (std::size_t count :
       {std::size_t{0}, std::size_t{31}, std::size_t{32}, std::size_t{100}, std::size_t{65544}}) {
    std::vector<std::uint8_t> groups(4 * count);
    for (auto& b : groups) b = static_cast<std::uint8_t>(generator());
    const auto startKey = static_cast<std::uint8_t>(generator());

    std::vector<std::uint8_t> image(count, 0);
    std::uint8_t key = startKey;
    const std::size_t done = DescrambleAvx2(groups.data(), image.data(), count, key);
    ASSERT_EQ(done % 32, 0u);
    ASSERT_LE(done, count);

    std::uint8_t expectedKey = startKey;
    for (std::size_t i = 0; i < done; ++i) {
      const auto k =
          static_cast<std::uint8_t>(groups[4 * i + 1] + groups[4 * i + 2] + groups[4 * i + 3]);
      ASSERT_EQ(image[i], groups[4 * i] ^ expectedKey ^ k) << "count " << count << ", group " << i;
      expectedKey = static_cast<std::uint8_t>(expectedKey + k);
    }
    EXPECT_EQ(key, expectedKey) << count;
    for (std::size_t i = done; i < count; ++i) ASSERT_EQ(image[i], 0) << "wrote past its blocks";
  }
}

}  // namespace
}  // namespace qvx
