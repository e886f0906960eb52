#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "link/d2xx.h"

namespace qvx::test {

// A driver whose answers are scripted call by call. Unscripted calls succeed; an unscripted
// read delivers nothing (the read timeout passing). Every call is recorded with its arguments.
class ScriptedDriver : public D2xx {
 public:
  enum class Call { OpenEx, SetTimeouts, SetLatency, SetUSBParameters, Purge, Write, Read, Close };

  struct Answer {
    FT_STATUS status = ft::OK;
    // Read: what the board delivers. Beyond the count asked for, the rest waits in the driver
    // and comes first at the next read, unless a purge drops it.
    std::string bytes = {};
    std::optional<DWORD> count = {};  // Read/Write: the count reported, when not the true one
  };

  struct Record {
    Call kind;
    DWORD a = 0;  // the numeric arguments in order: flags, read timeout, latency, in size,
    DWORD b = 0;  // mask, byte count; then write timeout, out size
    std::string text = {};  // OpenEx: the description; Write: the bytes sent
  };

  void Script(Call kind, Answer answer) {
    scripts_[static_cast<std::size_t>(kind)].push_back(std::move(answer));
  }
  std::vector<Call> Kinds() const;
  std::vector<std::string> Writes() const;

  std::vector<Record> calls;

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override;
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;

 private:
  Answer Next(Record record);  // records the call, takes its scripted answer

  std::array<std::deque<Answer>, 8> scripts_;
  std::string pending_;  // delivered by the board, not yet read
  int token_ = 0;        // its address is the handle
};

}  // namespace qvx::test
