// The link and the command set against a driver whose every answer (status, count, bytes) is
// the fuzzer's choice, in fuzzer-chosen operations with fuzzer-chosen parameters. The sanitizers
// catch any transfer past a buffer; after each operation the link's variables must hold.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <vector>

#include "fuzz_check.h"
#include "link/qvx_module.h"

namespace {

using qvx::DWORD;
using qvx::FT_HANDLE;
using qvx::FT_STATUS;

class FuzzedDriver : public qvx::D2xx {
 public:
  explicit FuzzedDriver(FuzzedDataProvider& fuzz) : fuzz_(fuzz) {}

  FT_STATUS FT_OpenEx(const char*, DWORD, FT_HANDLE* handle) override {
    *handle = this;
    return Status();
  }
  FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD, DWORD) override { return Status(); }
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE, std::uint8_t) override { return Status(); }
  FT_STATUS FT_SetUSBParameters(FT_HANDLE, DWORD, DWORD) override { return Status(); }
  FT_STATUS FT_Purge(FT_HANDLE, DWORD) override { return Status(); }
  FT_STATUS FT_Close(FT_HANDLE) override { return Status(); }
  FT_STATUS FT_Write(FT_HANDLE, const void* data, DWORD count, DWORD* written) override {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    sink_ = std::accumulate(bytes, bytes + count, sink_);  // touches every byte handed over
    *written = fuzz_.ConsumeBool() ? count : fuzz_.ConsumeIntegral<DWORD>();
    return Status();
  }
  FT_STATUS FT_Read(FT_HANDLE, void* data, DWORD count, DWORD* read) override {
    const DWORD stored = std::min<DWORD>(count, fuzz_.ConsumeIntegralInRange<DWORD>(0, 4096));
    const auto bytes = fuzz_.ConsumeBytes<std::uint8_t>(stored);
    std::memset(data, 0x5A, stored);
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    *read = fuzz_.ConsumeBool() ? stored : fuzz_.ConsumeIntegral<DWORD>();
    return Status();
  }

 private:
  // Mostly success, so that the deeper paths are reached; success once the input runs out.
  FT_STATUS Status() {
    const int pick = fuzz_.ConsumeIntegralInRange(0, 7);
    if (pick == 6) return qvx::ft::IO_ERROR;
    return pick == 7 ? fuzz_.ConsumeIntegral<FT_STATUS>() : qvx::ft::OK;
  }

  FuzzedDataProvider& fuzz_;
  std::uint8_t sink_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fuzz(data, size);
  FuzzedDriver driver(fuzz);
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
