// The link and the command set against a driver whose every answer -- status, count, bytes --
// is the fuzzer's choice, in fuzzer-chosen operations with fuzzer-chosen parameters. The driver
// aborts when the link hands it a count that runs past the buffer it hands with it; after every
// operation the link's variables must be in their ranges and a success must have been earned.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "image/firmware_image.h"
#include "link/qvx_module.h"

namespace {

using qvx::DWORD;
using qvx::FT_HANDLE;
using qvx::FT_STATUS;

class FuzzedDriver : public qvx::D2xx {
 public:
  explicit FuzzedDriver(FuzzedDataProvider& fuzz) : fuzz_(fuzz) {}

  // The memory the link may hand over: its two text buffers and the image buffer.
  void Allow(const void* begin, std::size_t size) {
    regions_.push_back({static_cast<const std::uint8_t*>(begin), size});
  }

  int calls = 0;
  std::vector<std::vector<std::uint8_t>> writes;  // what each successful write call carried
  std::vector<std::uint8_t> accepted;             // bytes of read calls the link may count

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override {
    ++calls;
    FUZZ_CHECK(description != nullptr && std::string(description) == "Quorvex");
    FUZZ_CHECK(flags == qvx::ft::OPEN_BY_DESCRIPTION && handle != nullptr);
    const FT_STATUS status = Status();
    if (status == qvx::ft::OK) *handle = fuzz_.ConsumeBool() ? &token_ : nullptr;
    return status;
  }
  FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD readMs, DWORD writeMs) override {
    FUZZ_CHECK(readMs == 100 && writeMs == 0);
    return Other();
  }
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE, std::uint8_t ms) override {
    FUZZ_CHECK(ms == 2);
    return Other();
  }
  FT_STATUS FT_SetUSBParameters(FT_HANDLE, DWORD inSize, DWORD outSize) override {
    FUZZ_CHECK(inSize == 65536 && outSize == 65536);
    return Other();
  }
  FT_STATUS FT_Purge(FT_HANDLE, DWORD mask) override {
    FUZZ_CHECK(mask == 3);
    return Other();
  }
  FT_STATUS FT_Write(FT_HANDLE, const void* data, DWORD count, DWORD* written) override {
    ++calls;
    FUZZ_CHECK(written != nullptr && Inside(data, count));
    const FT_STATUS status = Status();
    *written = Count(count);
    if (status == qvx::ft::OK && *written >= count) {
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      writes.emplace_back(bytes, bytes + count);
    }
    return status;
  }
  FT_STATUS FT_Read(FT_HANDLE, void* data, DWORD count, DWORD* read) override {
    ++calls;
    FUZZ_CHECK(read != nullptr && Inside(data, count));
    const FT_STATUS status = Status();
    *read = Count(count);
    // The count it reports is what it stores (zeros once the input runs out), up to the count
    // asked.
    std::vector<std::uint8_t> bytes = fuzz_.ConsumeBytes<std::uint8_t>(std::min(*read, count));
    bytes.resize(std::min(*read, count), 0);
    if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
    // Only a call that is believable -- status 0 or 4, no more than asked -- may be counted.
    if ((status == qvx::ft::OK || status == qvx::ft::IO_ERROR) && *read <= count) {
      accepted.insert(accepted.end(), bytes.begin(), bytes.end());
    }
    return status;
  }
  FT_STATUS FT_Close(FT_HANDLE handle) override {
    ++calls;
    FUZZ_CHECK(handle != nullptr);
    return Status();
  }

 private:
  struct Region {
    const std::uint8_t* begin;
    std::size_t size;
  };

  bool Inside(const void* data, DWORD count) const {
    if (count == 0) return true;
    const auto* p = static_cast<const std::uint8_t*>(data);
    return std::any_of(regions_.begin(), regions_.end(), [&](const Region& r) {
      return !std::less<const std::uint8_t*>()(p, r.begin) &&
             std::less<const std::uint8_t*>()(p, r.begin + r.size) &&
             count <= static_cast<std::size_t>(r.begin + r.size - p);
    });
  }

  // Mostly success, so that the deeper paths are reached; when the input runs out, success.
  FT_STATUS Status() {
    switch (fuzz_.ConsumeIntegralInRange(0, 7)) {
      case 5:
        return qvx::ft::IO_ERROR;
      case 6:
        return fuzz_.ConsumeIntegralInRange<FT_STATUS>(1, 18);
      case 7:
        return fuzz_.ConsumeIntegral<FT_STATUS>();
      default:
        return qvx::ft::OK;
    }
  }
  FT_STATUS Other() {
    ++calls;
    return Status();
  }
  // The whole count, a part of it, or anything at all; when the input runs out, nothing.
  DWORD Count(DWORD asked) {
    switch (fuzz_.ConsumeIntegralInRange(0, 3)) {
      case 1:
        return asked;
      case 2:
        return fuzz_.ConsumeIntegralInRange<DWORD>(0, asked);
      case 3:
        return fuzz_.ConsumeIntegral<DWORD>();
      default:
        return 0;
    }
  }

  FuzzedDataProvider& fuzz_;
  std::vector<Region> regions_;
  char token_ = 0;
};

enum class Op {
  Open,
  Close,
  Purge,
  Query,
  Execute,
  ReadBlock,
  WriteBlock,
  ReadReply,
  Receive,
  kMaxValue = Receive
};

// A parameter in its working range most of the time, anything at all otherwise.
std::int32_t Parameter(FuzzedDataProvider& fuzz, std::int32_t low, std::int32_t high) {
  return fuzz.ConsumeBool() ? fuzz.ConsumeIntegralInRange(low, high)
                            : fuzz.ConsumeIntegral<std::int32_t>();
}

bool InRange(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high;
}

bool BlockFits(std::int64_t offset, std::int64_t length) {
  return offset >= 0 && length >= 0 && offset + length <= std::int64_t{qvx::kImageSize};
}

class Session {
 public:
  explicit Session(FuzzedDataProvider& fuzz) : fuzz_(fuzz), driver_(fuzz) {
    image_.assign(qvx::kImageSize, 0);
    driver_.Allow(link_.SendBuffer.data(), link_.SendBuffer.size());
    driver_.Allow(link_.ReplyBuffer.data(), link_.ReplyBuffer.size());
    driver_.Allow(image_.data(), image_.size());
  }

  void Run(Op op) {
    driver_.writes.clear();
    driver_.accepted.clear();
    const int callsBefore = driver_.calls;
    bool refused = false;
    switch (op) {
      case Op::Open:
        if (link_.DeviceHandle != nullptr) return;  // the window opens only a closed link
        link_.OpenDevice();
        FUZZ_CHECK(link_.FtStatus == 0 || link_.DeviceHandle == nullptr);
        return;
      case Op::Close:
        link_.CloseDevice();
        FUZZ_CHECK(link_.DeviceHandle == nullptr);
        return;
      case Op::Purge:
        link_.PurgeDevice();
        return;
      case Op::Query:
        return Query();
      case Op::Execute:
        link_.ExecOperand = Parameter(fuzz_, 0, 65535);
        refused = !InRange(link_.ExecOperand, 0, 65535);
        link_.SendExecute();
        break;
      case Op::ReadBlock:
      case Op::WriteBlock:
        return Block(op);
      case Op::ReadReply:
        link_.ReadLength = Parameter(fuzz_, 0, 8);
        refused = !InRange(link_.ReadLength, 0, qvx::QVXModule::kTextBufferSize);
        link_.ReadReply();
        if (!refused) CheckExactRead(link_.ReplyBuffer.data());
        break;
      case Op::Receive:
        link_.BufferOffset = Parameter(fuzz_, 0, qvx::kImageSize);
        link_.ReadLength = Parameter(fuzz_, 0, 4096);
        refused = !BlockFits(link_.BufferOffset, link_.ReadLength);
        link_.ReceiveBlock();
        if (!refused) CheckExactRead(image_.data() + link_.BufferOffset);
        break;
    }
    // A value out of range is refused before the driver sees anything.
    if (refused) FUZZ_CHECK(link_.FtStatus == 6 && driver_.calls == callsBefore);
  }

 private:
  void Query() {
    const std::array<std::uint8_t, 4> before = Versions();
    link_.QueryDeviceInfo();
    FUZZ_CHECK(link_.HwMajor <= 15 && link_.HwMinor <= 15 && link_.FwMajor <= 15 &&
               link_.FwMinor <= 15);
    if (driver_.writes.empty()) {
      // The request did not go out: nothing read, the versions kept.
      FUZZ_CHECK(link_.FtStatus != 0 && driver_.accepted.empty());
      FUZZ_CHECK(before == Versions());
      return;
    }
    CheckExactRead(link_.ReplyBuffer.data());
    const bool decoded =
        link_.FtStatus == 0 && link_.ReplyBuffer[0] == 'K' && link_.ReplyBuffer[1] == 'R';
    if (decoded) {
      FUZZ_CHECK(link_.HwMajor * 16 + link_.HwMinor == link_.ReplyBuffer[2]);
      FUZZ_CHECK(link_.FwMajor * 16 + link_.FwMinor == link_.ReplyBuffer[3]);
    } else {
      FUZZ_CHECK(link_.HwMajor == 0 && link_.HwMinor == 0);
      FUZZ_CHECK(link_.FwMajor == before[2] && link_.FwMinor == before[3]);
    }
  }

  std::array<std::uint8_t, 4> Versions() const {
    return {link_.HwMajor, link_.HwMinor, link_.FwMajor, link_.FwMinor};
  }

  void Block(Op op) {
    link_.FlashAddress = Parameter(fuzz_, 0, 31744);
    link_.BlockWords = Parameter(fuzz_, 1, 512);
    link_.BufferOffset = Parameter(fuzz_, 0, qvx::kImageSize);
    const bool refused = !InRange(link_.FlashAddress, 0, 65535) ||
                         !InRange(link_.BlockWords, 1, 65535) ||
                         !BlockFits(link_.BufferOffset, 4 * std::int64_t{link_.BlockWords});
    const int callsBefore = driver_.calls;
    if (op == Op::ReadBlock) {
      link_.ReadFlashBlock();
    } else {
      link_.WriteFlashBlock();
    }
    if (refused) {
      FUZZ_CHECK(link_.FtStatus == 6 && driver_.calls == callsBefore);
      return;
    }
    const std::uint8_t* block = image_.data() + link_.BufferOffset;
    const auto blockBytes = static_cast<std::size_t>(4 * link_.BlockWords);
    if (op == Op::ReadBlock) {
      if (!driver_.writes.empty()) CheckExactRead(block);
      return;
    }
    // A written block counts as sent only when the command and every data byte went out whole.
    if (link_.FtStatus != 0) return;
    FUZZ_CHECK(driver_.writes.size() == 2 && driver_.writes[0].size() == 5);
    FUZZ_CHECK(driver_.writes[1] == std::vector<std::uint8_t>(block, block + blockBytes));
  }

  void CheckExactRead(const std::uint8_t* target) {
    FUZZ_CHECK(link_.ReadTotal >= 0 && link_.ReadTotal <= link_.ReadLength);
    if (link_.FtStatus == 8) {
      FUZZ_CHECK(link_.ReadTimedOut != link_.ReadFailed);
      return;
    }
    // 0, or 4 from the call that brought the last byte: every byte arrived, in order.
    FUZZ_CHECK(link_.FtStatus == 0 || link_.FtStatus == 4);
    FUZZ_CHECK(!link_.ReadTimedOut && !link_.ReadFailed && link_.ReadTotal == link_.ReadLength);
    FUZZ_CHECK(driver_.accepted.size() == static_cast<std::size_t>(link_.ReadLength));
    FUZZ_CHECK(std::equal(driver_.accepted.begin(), driver_.accepted.end(), target));
  }

  FuzzedDataProvider& fuzz_;
  FuzzedDriver driver_;
  std::vector<std::uint8_t> image_;
  qvx::QVXModule link_{driver_, image_};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider fuzz(data, size);
  Session session(fuzz);
  for (int i = 0; i < 64 && fuzz.remaining_bytes() > 0; ++i) {
    session.Run(fuzz.ConsumeEnum<Op>());
  }
  return 0;
}
