#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "image/firmware_image.h"

namespace {

std::vector<std::uint8_t> RandomContainer() {
  std::mt19937 generator(42);
  std::vector<std::uint8_t> bytes(qvx::kContainerSize);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(generator());
  return bytes;
}

// The baseline: a plain copy of the container, the least any decoder has to do.
void BM_CopyContainer(benchmark::State& state) {
  const auto source = RandomContainer();
  std::vector<std::uint8_t> target(source.size());
  for (auto _ : state) {
    std::copy(source.begin(), source.end(), target.begin());
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(source.size()));
}
BENCHMARK(BM_CopyContainer);

// Goal: within three times the copy above.
void BM_DescrambleImage(benchmark::State& state) {
  std::int16_t opResult = 0;
  qvx::FirmwareImage image(nullptr, opResult);
  image.CreateArrays();
  image.ResourceData = RandomContainer();
  for (auto _ : state) {
    image.DescrambleImage();
    benchmark::DoNotOptimize(image.ImageBuffer.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(qvx::kContainerSize));
}
BENCHMARK(BM_DescrambleImage);

}  // namespace
