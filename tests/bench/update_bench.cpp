#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <string>

#include "../update/update_rig.h"

namespace {

using qvx::board::Timing;
using qvx::test::UpdateRig;

constexpr std::uint8_t kFirmware = 0x11;  // with the bootloader stage: two "EX", two "SI"
constexpr double kBlockBytes = 2048;

// Blocks each pass direction moves in that update.
int Blocks() {
  int blocks = 0;
  for (const auto& stage : qvx::test::kStages) {
    if (stage.region.address != qvx::test::kStep4.address || qvx::test::RunsBootloader(kFirmware)) {
      blocks += stage.region.words / 512;
    }
  }
  return blocks;
}

double Seconds(std::chrono::microseconds t) {
  return std::chrono::duration<double>(t).count();
}

// What the link model alone takes for that update. Every transfer pays the latency and its
// bytes at the line rate; the board programs a block while the next command is on its way,
// so programming never delays an answer.
double ModelledSeconds(const Timing& t) {
  const double latency = Seconds(t.latency);
  auto out = [&](double bytes) { return latency + bytes / t.bytesPerSecondOut; };
  auto in = [&](double bytes) { return latency + bytes / t.bytesPerSecondIn; };
  const double writeBlock = out(5) + out(kBlockBytes);  // "WF" + address, then the data
  const double readBlock = out(7) + in(kBlockBytes);    // "RF" + address + words, the reply
  const double execute = out(4);
  const double query = out(2) + in(4);
  return Blocks() * (writeBlock + readBlock) + 2 * (execute + query);
}

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

void RunUpdates(benchmark::State& state, UpdateRig& rig, double& wall, double& cpu) {
  for (auto _ : state) {
    rig.image.ImageBuffer = rig.decoded;  // as "Find Device" leaves it
    const auto wallStart = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    rig.engine.FlashDevice();
    cpu += CpuSeconds() - cpuStart;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    if (rig.opResult != 0) state.SkipWithError("the update failed");
  }
}

// Goal: under 20 ms per update with the timing model off.
void BM_UpdateTimingOff(benchmark::State& state) {
  UpdateRig rig(kFirmware);
  double wall = 0, cpu = 0;
  RunUpdates(state, rig, wall, cpu);
  const double perUpdate = wall / static_cast<double>(state.iterations());
  state.counters["ms_per_update"] = perUpdate * 1e3;
  state.SetLabel(perUpdate < 0.020 ? "goal met (< 20 ms)" : "GOAL MISSED (< 20 ms)");
}
BENCHMARK(BM_UpdateTimingOff)->Unit(benchmark::kMillisecond);

// Goal: wall time within 5% of the modelled time, and CPU time under 10% of wall time.
void BM_UpdateFullSpeed(benchmark::State& state) {
  UpdateRig rig(kFirmware);
  rig.board.SetTiming(Timing::FullSpeed());
  double wall = 0, cpu = 0;
  RunUpdates(state, rig, wall, cpu);
  const double modelled = ModelledSeconds(Timing::FullSpeed());
  const double perUpdate = wall / static_cast<double>(state.iterations());
  const double overModel = perUpdate / modelled - 1;
  const double cpuShare = cpu / wall;
  state.counters["modelled_ms"] = modelled * 1e3;
  state.counters["wall_ms"] = perUpdate * 1e3;
  state.counters["over_model_pct"] = overModel * 100;
  state.counters["cpu_pct_of_wall"] = cpuShare * 100;
  const bool met = overModel > -0.05 && overModel < 0.05 && cpuShare < 0.10;
  state.SetLabel(met ? "goal met (wall within 5% of model, CPU < 10%)"
                     : "GOAL MISSED (wall within 5% of model, CPU < 10%)");
}
BENCHMARK(BM_UpdateFullSpeed)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
