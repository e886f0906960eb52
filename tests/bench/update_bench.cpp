// One whole update (Find Device, Flash Device) through the virtual board at full speed. The
// link's waiting must cost next to no processor time: the board sleeps until its bytes are due.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

#include "support/fixtures.h"

namespace {

constexpr double kMaxCpuShare = 0.05;

void FullSpeedUpdate(benchmark::State& state) {
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    qvx::test::Rig rig(0x11);
    rig.board.SetTiming(qvx::board::Timing::FullSpeed());
    const std::clock_t cpuStart = std::clock();
    const auto wallStart = std::chrono::steady_clock::now();
    rig.Found();
    rig.Click(qvx::Button::FlashDevice);
    cpu += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    if (!qvx::test::Holds(rig.board.Flash(), qvx::test::TestImage(), qvx::test::RegionsFor(0x11)))
      state.SkipWithError("the board does not hold the image");
  }
  state.counters["cpu_share"] = cpu / wall;
  if (cpu / wall > kMaxCpuShare) state.SkipWithError("waiting costs more than 5 % CPU");
}
BENCHMARK(FullSpeedUpdate)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Find Device decodes the whole container every time.
void Descramble(benchmark::State& state) {
  qvx::FirmwareImage image;
  image.ResourceData = qvx::test::ContainerOf(qvx::test::TestImage());
  for (auto _ : state) {
    image.DescrambleImage();
    benchmark::DoNotOptimize(image.ImageBuffer.data());
  }
}
BENCHMARK(Descramble)->Unit(benchmark::kMicrosecond);

}  // namespace
