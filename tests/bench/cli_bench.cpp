// quorvex flash --all on four boards beside one board, every board at the full-speed timing
// model. Goals: four boards take at most 1.15 times one board's wall time (x_one_board), and
// the program's CPU time stays under 5 % of the wall time (cpu_percent).
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <sstream>

#include "board/board_rack.h"
#include "cli/cli.h"
#include "cli/embedded_firmware.h"

namespace {

using qvx::board::Timing;

void FlashAll(benchmark::State& state) {
  static double oneBoard = 0;  // wall seconds of one board's update; that run goes first
  const auto boards = static_cast<std::size_t>(state.range(0));
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    qvx::board::BoardRack rack(boards);
    for (std::size_t i = 0; i < boards; ++i) rack.Board(i).SetTiming(Timing::FullSpeed());
    std::ostringstream out, err;
    const std::atomic<bool> interrupted{false};
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpuStart = std::clock();  // every thread of the process
    if (qvx::cli::Run({"flash", "--all", "--quiet"},
                      {rack, qvx::cli::LoadEmbeddedFirmware, out, err, false, interrupted}) != 0) {
      state.SkipWithError("the update failed");
    }
    cpu += static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  const double perUpdate = wall / static_cast<double>(state.iterations());
  if (boards == 1) oneBoard = perUpdate;
  state.counters["cpu_percent"] = 100 * cpu / wall;
  state.counters["x_one_board"] = perUpdate / oneBoard;
}
BENCHMARK(FlashAll)->Arg(1)->Arg(4)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace
