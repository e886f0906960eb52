// The link and the command set against the scripted driver, every answer of which (status,
// reported count, bytes) is the fuzzer's choice, in fuzzer-chosen operations with fuzzer-chosen
// parameters. The sanitizers catch any transfer past a buffer; after each operation the link's
// variables must hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <vector>

#include "fuzz_check.h"
#include "link/qvx_module.h"
#include "support/scripted_driver.h"

namespace {

using qvx::test::ScriptedDriver;

// Mostly success, so that the deeper paths are reached.
qvx::FT_STATUS Status(FuzzedDataProvider& fuzz) {
  const int pick = fuzz.ConsumeIntegralInRange(0, 7);
  if (pick == 6) return qvx::ft::IO_ERROR;
  return pick == 7 ? fuzz.ConsumeIntegral<qvx::FT_STATUS>() : qvx::ft::OK;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fuzz(data, size);
  ScriptedDriver driver;
  for (int i = 0; i < 64 && fuzz.remaining_bytes() > 0; ++i) {
    const auto kind = static_cast<ScriptedDriver::Call>(
        fuzz.ConsumeIntegralInRange(0, ScriptedDriver::kLastCall));
    ScriptedDriver::Answer answer{Status(fuzz), fuzz.ConsumeRandomLengthString(4200)};
    if (fuzz.ConsumeBool()) answer.count = fuzz.ConsumeIntegral<qvx::DWORD>();
    driver.Script(kind, answer);
  }
  std::vector<std::uint8_t> image(65544);
  qvx::QVXModule link(driver, image);
  using M = qvx::QVXModule;
  const std::array operations{&M::OpenDevice,      &M::CloseDevice, &M::PurgeDevice,
                              &M::QueryDeviceInfo, &M::SendExecute, &M::ReadFlashBlock,
                              &M::WriteFlashBlock, &M::ReadReply,   &M::ReceiveBlock};
  while (fuzz.remaining_bytes() > 0) {
    link.FlashAddress = fuzz.ConsumeIntegral<std::int32_t>();
    link.BlockWords = fuzz.ConsumeIntegralInRange<std::int32_t>(-2, 20000);
    link.BufferOffset = fuzz.ConsumeIntegralInRange<std::int32_t>(-4, 70000);
    link.ExecOperand = fuzz.ConsumeIntegral<std::int32_t>();
    link.ReadLength = fuzz.ConsumeIntegralInRange<std::int32_t>(-4, 70000);
    link.WriteLength = fuzz.ConsumeIntegralInRange<std::int32_t>(-4, 70000);
    const auto operation = operations[fuzz.ConsumeIntegralInRange<std::size_t>(0, 8)];
    (link.*operation)();
    // An exact read succeeds only with every byte in.
    if (operation == &M::ReadReply || operation == &M::ReceiveBlock) {
      FUZZ_CHECK(link.FtStatus != qvx::QVXModule::kOk || link.ReadTotal == link.ReadLength);
    }
    FUZZ_CHECK(!(link.ReadTimedOut && link.ReadFailed));
    FUZZ_CHECK(link.HwMajor < 16 && link.HwMinor < 16 && link.FwMajor < 16 && link.FwMinor < 16);
  }
  return 0;
}
