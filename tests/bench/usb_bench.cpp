// The real USB path: the libftdi1 provider, libftdi1 and libusb against the emulated chip.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <memory>
#include <random>
#include <thread>
#include <utility>

#include "board/board_protocol.h"
#include "image/firmware_image.h"
#include "link/ftdi_library.h"
#include "link/qvx_module.h"
#include "update/update_engine.h"
#include "usb/board_peer.h"
#include "usb/quiet_window.h"
#include "usb/usb_preload.h"
#include "usb/usb_testbed.h"

namespace {

using namespace qvx;
using namespace qvx::usbemu;
using Clock = std::chrono::steady_clock;

// A full-speed link: the chip's 2 ms latency timer, 300 kB/s through the UART each way and
// 1 ms for the board to program a block.
constexpr double kUartBytesPerSecond = 300'000;
constexpr std::chrono::microseconds kBlockProgramTime{1000};

// The board on the testbed, the link open to it through libftdi1, and the engine.
struct UsbRig {
  explicit UsbRig(bool fullSpeed)
      : chip(testbed.Plug(
            {}, BoardPeer(board, fullSpeed ? kBlockProgramTime : std::chrono::microseconds{0}))) {
    if (fullSpeed) chip.Inspect([](FtdiChip& c) { c.SetUartBytesPerSecond(kUartBytesPerSecond); });
    board.SetVersions(0x21, 0x11);  // old firmware: the bootloader stage runs as well
    image.CreateArrays();
    for (std::size_t i = 8; i < image.ImageBuffer.size(); ++i) {
      image.ImageBuffer[i] = static_cast<std::uint8_t>((i * 31) % 255);
    }
    decoded = image.ImageBuffer;
    link.OpenDevice();
    link.QueryDeviceInfo();
  }
  ~UsbRig() { link.CloseDevice(); }

  board::BoardProtocol board;
  UsbTestbed testbed;
  UsbDevice& chip;
  std::unique_ptr<FtdiLibrary> driver = FtdiLibrary::Load();
  std::int16_t opResult = 0;
  FirmwareImage image{nullptr, opResult};
  QVXModule link{*driver, image.ImageBuffer};
  QuietWindow window;
  UpdateEngine engine{link, image, window, opResult};
  std::vector<std::uint8_t> decoded;
};

bool Unavailable(benchmark::State& state) {
  if (auto why = UsbTestbed::Unavailable()) {
    state.SkipWithError(why->c_str());
    return true;
  }
  return false;
}

// Goal: the 4-byte reply to "SI", already answered by the board, is in within one latency
// period of the chip (2 ms). The query goes out at a random point of the chip's latency period,
// as it would after an operator's click.
void BM_UsbExactReadOfAnAnsweredQuery(benchmark::State& state) {
  if (Unavailable(state)) return;
  UsbRig rig(false);
  if (rig.link.FtStatus != 0) {
    state.SkipWithError("the board does not answer");
    return;
  }
  double worst = 0, total = 0;
  std::mt19937 random(1);
  std::uniform_int_distribution<int> phaseUs(0, 2000);
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::microseconds(phaseUs(random)));
    rig.link.PutText(rig.link.SendBuffer, "SI");
    rig.link.WriteLength = 2;
    rig.link.SendCommand();  // the board has answered once the write is through
    const auto start = Clock::now();
    rig.link.ReadLength = 4;
    rig.link.ReadReply();
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetIterationTime(took);
    worst = std::max(worst, took);
    total += took;
    if (rig.link.FtStatus != 0) state.SkipWithError("the read failed");
  }
  const double mean = total / static_cast<double>(state.iterations());
  state.counters["worst_ms"] = worst * 1e3;
  state.SetLabel(mean <= 0.002 ? "goal met (within one 2 ms latency period)"
                               : "GOAL MISSED (within one 2 ms latency period)");
}
BENCHMARK(BM_UsbExactReadOfAnAnsweredQuery)->UseManualTime()->Unit(benchmark::kMillisecond);

double CpuSeconds() {
  return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// What the chip model takes for an update with the bootloader stage (31 blocks written and read
// back, two "EX" each followed by "SI"): every byte crosses the UART, the board programs each
// block before it reads on, and each reply waits up to one latency period for its last packet.
// Returns the least and the most.
std::pair<double, double> ModelledSeconds(bool fullSpeed) {
  constexpr double kBlocks = 31, kBlockBytes = 2048, kLatency = 0.002;
  const double rate = fullSpeed ? kUartBytesPerSecond : 0;
  auto wire = [&](double bytes) { return rate > 0 ? bytes / rate : 0.0; };
  const double program = fullSpeed ? std::chrono::duration<double>(kBlockProgramTime).count() : 0;
  const double fixed = kBlocks * (wire(5 + kBlockBytes) + program + wire(7 + kBlockBytes)) +
                       2 * (wire(4) + wire(2 + 4));
  return {fixed, fixed + (kBlocks + 2) * kLatency};
}

// A whole update through the USB path; argument 1 adds the full-speed timing.
void BM_UsbWholeUpdate(benchmark::State& state) {
  if (Unavailable(state)) return;
  const bool fullSpeed = state.range(0) != 0;
  UsbRig rig(fullSpeed);
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    rig.image.ImageBuffer = rig.decoded;
    const auto start = Clock::now();
    const double cpuStart = CpuSeconds();
    rig.engine.FlashDevice();
    cpu += CpuSeconds() - cpuStart;
    wall += std::chrono::duration<double>(Clock::now() - start).count();
    if (rig.opResult != 0) state.SkipWithError("the update failed");
  }
  const auto n = static_cast<double>(state.iterations());
  const auto [least, most] = ModelledSeconds(fullSpeed);
  state.counters["ms_per_update"] = wall / n * 1e3;
  state.counters["model_ms_least"] = least * 1e3;
  state.counters["model_ms_most"] = most * 1e3;
  state.counters["cpu_per_wall"] = cpu / wall;
  state.SetLabel(wall / n <= most * 1.05 ? "within the model (+5%)"
                                         : "SLOWER than the model (+5%)");
}
BENCHMARK(BM_UsbWholeUpdate)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qvx::usbemu::EnterPreload(argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
