// quorvex flash --all on four boards beside one board, every board at the full-speed timing
// model. Goals: four boards take at most 1.15 times one board's wall time (x_one_board), and
// the program's CPU time stays under 5 % of the wall time (cpu_percent).
//
// A board under watch (which checks it once more) against the same board under flash, by the
// seconds their records give, at the same timing. Goals (x_flash): with the bootloader stage at
// most 1.15, without it at most 1.03.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "board/board_rack.h"
#include "cli/platform/embedded_firmware.h"
#include "cli/program.h"

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
                      {rack, {}, qvx::cli::LoadEmbeddedFirmware, out, err, nullptr, interrupted}) !=
        0) {
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

// The seconds a record of the command gives for one board with that firmware.
double BoardSeconds(const std::vector<std::string>& command, std::uint8_t firmware) {
  qvx::board::BoardRack rack(1);
  rack.Board(0).SetTiming(Timing::FullSpeed());
  rack.Board(0).SetVersions(0x21, firmware);
  const auto record = std::filesystem::temp_directory_path() / "qvx-bench-record.jsonl";
  std::filesystem::remove(record);
  std::vector<std::string> args = command;
  args.insert(args.end(), {"--quiet", "--record", record.string()});
  std::ostringstream out, err;
  const std::atomic<bool> interrupted{false};
  qvx::cli::Run(args, {rack, {}, qvx::cli::LoadEmbeddedFirmware, out, err, nullptr, interrupted});
  std::ifstream in(record);
  const auto line = nlohmann::json::parse(in);
  std::filesystem::remove(record);
  return line["result"] == "ok" ? line["seconds"].get<double>() : 0;
}

void WatchAgainstFlash(benchmark::State& state) {
  const auto firmware = static_cast<std::uint8_t>(state.range(0));
  double flash = 0, watch = 0;
  for (auto _ : state) {
    flash += BoardSeconds({"flash"}, firmware);
    watch += BoardSeconds({"watch", "--count", "1"}, firmware);
  }
  if (flash == 0 || watch == 0) state.SkipWithError("a board failed");
  state.counters["x_flash"] = watch / flash;
  const double goal = firmware <= 0x11 ? 1.15 : 1.03;
  if (watch / flash > goal) state.SkipWithError("over the goal");
}
BENCHMARK(WatchAgainstFlash)->Arg(0x11)->Arg(0x12)->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace
