#include "link/qvx_module.h"

#include <algorithm>

namespace qvx {

namespace {

constexpr DWORD kReadTimeoutMs = 100;
constexpr DWORD kWriteTimeoutMs = 0;
constexpr std::uint8_t kLatencyMs = 2;
constexpr DWORD kTransferSize = 65536;
constexpr DWORD kPurgeBoth = ft::PURGE_RX | ft::PURGE_TX;
constexpr std::int32_t kMaxParameter = 65535;

std::int32_t AsStatus(FT_STATUS status) {
  return static_cast<std::int32_t>(status);
}

constexpr std::string_view kShortWrite = "but took fewer bytes than it was given";
constexpr std::string_view kNothingRead = "and no bytes within the read timeout";
constexpr std::string_view kTooMuchRead = "and more bytes than were asked for";

bool InRange(std::int64_t value, std::int64_t low, std::int64_t high) {
  return value >= low && value <= high;
}

// A block transfer must stay inside the image buffer.
bool BlockFits(std::int32_t offset, std::int32_t length, std::size_t bufferSize) {
  return offset >= 0 && length >= 0 &&
         static_cast<std::int64_t>(offset) + length <= static_cast<std::int64_t>(bufferSize);
}

std::string AddressBytes(std::int32_t address) {
  return {static_cast<char>(address / 65536), static_cast<char>(address / 256),
          static_cast<char>(address % 256)};
}

std::string WordBytes(std::int32_t value) {
  return {static_cast<char>(value / 256), static_cast<char>(value % 256)};
}

}  // namespace

std::string FailedCall::Text() const {
  return std::string(call) + " returned " + StatusName(status) + (how.empty() ? "" : " ") +
         std::string(how);
}

QVXModule::QVXModule(D2xx& driver, std::vector<std::uint8_t>& imageBuffer)
    : driver_(driver), ImageBuffer(imageBuffer) {
  SendBuffer.fill(' ');
  ReplyBuffer.fill(' ');
}

void QVXModule::PutText(std::array<std::uint8_t, kTextBufferSize>& buffer, std::string_view text) {
  const std::size_t n = std::min(text.size(), buffer.size());
  std::copy_n(text.begin(), n, buffer.begin());
  std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(n), buffer.end(), ' ');
}

// --- Link ---------------------------------------------------------------------------------

std::int32_t QVXModule::Noted(std::string_view call, FT_STATUS status) {
  if (status != ft::OK) LastFailedCall = FailedCall{call, status, {}};
  return AsStatus(status);
}

void QVXModule::OpenDevice() {
  const bool bySerial = !SerialNumber.empty();
  std::string name = bySerial ? SerialNumber : "Quorvex";
  name.push_back('\0');
  const char* argument = LocationId != 0 ? ft::LocationArgument(LocationId) : name.data();
  const DWORD flags = LocationId != 0 ? ft::OPEN_BY_LOCATION
                      : bySerial      ? ft::OPEN_BY_SERIAL_NUMBER
                                      : ft::OPEN_BY_DESCRIPTION;
  FT_HANDLE handle = nullptr;
  FtStatus = Noted("FT_OpenEx", driver_.FT_OpenEx(argument, flags, &handle));
  if (FtStatus != kOk) return;
  DeviceHandle = handle;

  FtStatus = Noted("FT_SetTimeouts",
                   driver_.FT_SetTimeouts(DeviceHandle, kReadTimeoutMs, kWriteTimeoutMs));
  if (FtStatus == kOk) {
    FtStatus = Noted("FT_SetLatencyTimer", driver_.FT_SetLatencyTimer(DeviceHandle, kLatencyMs));
  }
  if (FtStatus == kOk) {
    FtStatus = Noted("FT_SetUSBParameters",
                     driver_.FT_SetUSBParameters(DeviceHandle, kTransferSize, kTransferSize));
  }
  if (FtStatus != kOk) CloseDevice();
}

void QVXModule::CloseDevice() {
  if (DeviceHandle != nullptr) driver_.FT_Close(DeviceHandle);
  DeviceHandle = nullptr;
}

void QVXModule::PurgeDevice() {
  FtStatus = Noted("FT_Purge", driver_.FT_Purge(DeviceHandle, kPurgeBoth));
}

void QVXModule::Write(const std::uint8_t* data) {
  DWORD written = 0;
  const FT_STATUS status =
      driver_.FT_Write(DeviceHandle, data, static_cast<DWORD>(WriteLength), &written);
  BytesWritten = static_cast<std::int32_t>(written);
  FtStatus = Noted("FT_Write", status);
  // A short write reported as success would let a partial block pass for a sent one.
  if (FtStatus == kOk && written < static_cast<DWORD>(WriteLength)) {
    FtStatus = AsStatus(ft::IO_ERROR);
    LastFailedCall = FailedCall{"FT_Write", status, kShortWrite};
  }
}

void QVXModule::SendCommand() {
  BytesWritten = 0;
  if (!InRange(WriteLength, 0, kTextBufferSize)) {
    FtStatus = AsStatus(ft::INVALID_PARAMETER);
    return;
  }
  Write(SendBuffer.data());
}

void QVXModule::SendBlock() {
  if (!BlockFits(BufferOffset, WriteLength, ImageBuffer.size())) {
    FtStatus = AsStatus(ft::INVALID_PARAMETER);
    return;
  }
  Write(ImageBuffer.data() + BufferOffset);
}

void QVXModule::ExactRead(std::uint8_t* target) {
  ReadTimedOut = false;
  ReadFailed = false;
  ReadTotal = 0;
  do {
    const auto asked = static_cast<DWORD>(ReadLength - ReadTotal);
    DWORD got = 0;
    const FT_STATUS status = driver_.FT_Read(DeviceHandle, target + ReadTotal, asked, &got);
    FtStatus = AsStatus(status);
    BytesRead = static_cast<std::int32_t>(got);
    // A count above the one asked for cannot be true; taking it would run the target past its end.
    if ((status != ft::OK && status != ft::IO_ERROR) || got > asked) {
      FtStatus = kReadIncomplete;
      ReadFailed = true;
      LastFailedCall = FailedCall{"FT_Read", status, got > asked ? kTooMuchRead : ""};
    } else if (got == 0) {
      FtStatus = kReadIncomplete;
      ReadTimedOut = true;
      LastFailedCall = FailedCall{"FT_Read", status, kNothingRead};
    } else {
      ReadTotal += BytesRead;
      if (status != ft::OK) LastFailedCall = FailedCall{"FT_Read", status, {}};
    }
  } while (ReadTotal != ReadLength && !ReadTimedOut && !ReadFailed);
}

void QVXModule::ReadReply() {
  if (!InRange(ReadLength, 0, kTextBufferSize)) {
    FtStatus = AsStatus(ft::INVALID_PARAMETER);
    return;
  }
  ReplyBuffer.fill(' ');
  ExactRead(ReplyBuffer.data());
}

void QVXModule::ReceiveBlock() {
  if (!BlockFits(BufferOffset, ReadLength, ImageBuffer.size())) {
    FtStatus = AsStatus(ft::INVALID_PARAMETER);
    return;
  }
  ExactRead(ImageBuffer.data() + BufferOffset);
}

// --- Commands -----------------------------------------------------------------------------

void QVXModule::SendText(std::string text) {
  CommandText = std::move(text);
  WriteLength = static_cast<std::int32_t>(CommandText.size());
  PutText(SendBuffer, CommandText);
  SendCommand();
}

bool QVXModule::BlockParametersValid() {
  const bool valid = InRange(FlashAddress, 0, kMaxParameter) &&
                     InRange(BlockWords, 1, kMaxParameter) &&
                     BlockFits(BufferOffset, 4 * BlockWords, ImageBuffer.size());
  if (!valid) FtStatus = AsStatus(ft::INVALID_PARAMETER);
  return valid;
}

void QVXModule::QueryDeviceInfo() {
  SendText("SI");
  if (FtStatus != kOk) return;
  HwMajor = 0;
  HwMinor = 0;
  ReadLength = 4;
  ReadReply();
  if (FtStatus != kOk) return;
  if (ReplyBuffer[0] != 'K' || ReplyBuffer[1] != 'R') return;
  HwMajor = ReplyBuffer[2] / 16;
  HwMinor = ReplyBuffer[2] % 16;
  FwMajor = ReplyBuffer[3] / 16;
  FwMinor = ReplyBuffer[3] % 16;
}

void QVXModule::SendExecute() {
  if (!InRange(ExecOperand, 0, kMaxParameter)) {
    FtStatus = AsStatus(ft::INVALID_PARAMETER);
    return;
  }
  SendText("EX" + WordBytes(ExecOperand));
}

void QVXModule::ReadFlashBlock() {
  if (!BlockParametersValid()) return;
  SendText("RF" + AddressBytes(FlashAddress) + WordBytes(BlockWords));
  if (FtStatus != kOk) return;
  ReadLength = 4 * BlockWords;
  ReceiveBlock();
}

void QVXModule::WriteFlashBlock() {
  if (!BlockParametersValid()) return;
  SendText("WF" + AddressBytes(FlashAddress));
  if (FtStatus != kOk) return;
  WriteLength = 4 * BlockWords;
  SendBlock();
}

}  // namespace qvx
