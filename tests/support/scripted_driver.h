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
// read delivers nothing (the read timeout passing). Every call and every byte sent is recorded.
class ScriptedDriver : public D2xx {
 public:
  enum class Call {
    OpenEx,
    SetTimeouts,
    SetLatencyTimer,
    SetUSBParameters,
    Purge,
    Write,
    Read,
    Close
  };
  static constexpr std::size_t kCallKinds = 8;

  // What one call answers.
  struct Result {
    FT_STATUS status = ft::OK;
    std::vector<std::uint8_t> bytes;  // Read: what the board delivers; beyond the count asked
                                      // for, the rest waits in the driver for the next read
    std::optional<DWORD> count;       // Read/Write: the count reported, when not the true one
  };

  // One call as it was made.
  struct Record {
    Call kind;
    FT_HANDLE handle = nullptr;
    std::string description;  // OpenEx, up to its NUL
    DWORD a = 0;              // OpenEx flags, read timeout, latency, in size, purge mask, count
    DWORD b = 0;              // write timeout, out size
  };

  // The next unscripted call of that kind gets this answer.
  void Script(Call kind, Result result);
  void Script(Call kind, FT_STATUS status) { Script(kind, Result{status, {}, {}}); }
  // The board sends these bytes in answer to the next read call.
  void Deliver(std::vector<std::uint8_t> bytes, FT_STATUS status = ft::OK);

  std::size_t CountOf(Call kind) const;
  std::vector<Call> Kinds() const;  // the kinds of all calls in order

  FT_HANDLE handleToGive;  // what a successful FT_OpenEx hands out
  std::vector<Record> calls;
  std::vector<std::uint8_t> sent;                 // every byte of every write, in order
  std::vector<std::vector<std::uint8_t>> writes;  // the same, one entry per write call

  ScriptedDriver();

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override;
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;

 private:
  Result Next(Record record);  // records the call, takes its scripted answer

  std::array<std::deque<Result>, kCallKinds> scripts_;
  std::vector<std::uint8_t> pending_;  // delivered by the board, not yet read
  int token_ = 0;                      // its address is the handle handed out
};

}  // namespace qvx::test
