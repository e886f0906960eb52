#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/d2xx.h"

namespace qvx {

// A driver call of the link that failed, and how, in the words of an operator's message.
struct FailedCall {
  std::string_view call;      // "FT_Write"
  FT_STATUS status = ft::OK;  // the driver's own status
  std::string_view how = {};  // when the status alone does not say it: "and no bytes ..."

  // "FT_Write returned FT_IO_ERROR", "FT_Read returned FT_OK and no bytes within the read
  // timeout".
  std::string Text() const;
};

// The USB link and the board's command set. Every operation takes no arguments, reads its
// inputs from the members below and reports through FtStatus, which the caller tests at once.
class QVXModule {
 public:
  static constexpr int kTextBufferSize = 4096;
  // FtStatus beyond the driver's own statuses: success, and our mark for an incomplete read.
  static constexpr std::int32_t kOk = 0;
  static constexpr std::int32_t kReadIncomplete = 8;

  QVXModule(D2xx& driver, std::vector<std::uint8_t>& imageBuffer);

  // Which board OpenDevice opens: the one at this USB location when it is not 0, else the one
  // with this serial number, else the first with the description "Quorvex".
  DWORD LocationId = 0;
  std::string SerialNumber;

  // Link state.
  FT_HANDLE DeviceHandle = nullptr;
  std::int32_t FtStatus = 0;
  std::int32_t WriteLength = 0;
  std::int32_t ReadLength = 0;
  std::int32_t BufferOffset = 0;
  std::array<std::uint8_t, kTextBufferSize> SendBuffer{};
  std::array<std::uint8_t, kTextBufferSize> ReplyBuffer{};
  std::int32_t BytesWritten = 0;
  std::int32_t BytesRead = 0;
  std::int32_t ReadTotal = 0;
  bool ReadTimedOut = false;
  bool ReadFailed = false;
  // The last driver call that failed; the statuses above keep only its verdict.
  std::optional<FailedCall> LastFailedCall;

  // Command state.
  std::string CommandText;
  std::uint8_t HwMajor = 0;
  std::uint8_t HwMinor = 0;
  std::uint8_t FwMajor = 0;
  std::uint8_t FwMinor = 0;
  std::int32_t FlashAddress = 0;
  std::int32_t BlockWords = 0;
  std::int32_t ExecOperand = 0;

  // Link operations.
  void OpenDevice();
  void CloseDevice();
  void PurgeDevice();
  void SendCommand();
  void SendBlock();
  void ReadReply();
  void ReceiveBlock();

  // Commands.
  void QueryDeviceInfo();
  void SendExecute();
  void ReadFlashBlock();
  void WriteFlashBlock();

  // Left-aligned copy into a text buffer: the rest becomes spaces, a longer text is cut.
  static void PutText(std::array<std::uint8_t, kTextBufferSize>& buffer, std::string_view text);

 private:
  // The driver's status as FtStatus, noted as the last failed call when it is not OK.
  std::int32_t Noted(std::string_view call, FT_STATUS status);
  void Write(const std::uint8_t* data);  // WriteLength bytes from data, in one call
  void ExactRead(std::uint8_t* target);  // ReadLength bytes into target, over as many calls
  void SendText(std::string text);       // builds CommandText and sends it
  bool BlockParametersValid();           // "RF"/"WF" parameters; sets FtStatus 6 when not

  D2xx& driver_;
  std::vector<std::uint8_t>& ImageBuffer;
};

}  // namespace qvx
