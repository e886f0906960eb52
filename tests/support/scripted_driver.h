#pragma once

#include <algorithm>
#include <array>
#include <cstring>
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
  static constexpr int kLastCall = static_cast<int>(Call::Close);

  struct Answer {
    FT_STATUS status = ft::OK;
    std::string bytes = {};  // Read: what the board delivers; beyond the count asked, the rest
                             // comes first at the next read
    std::optional<DWORD> count = {};  // Read/Write: the count reported, when not the true one
  };

  struct Record {
    Call kind;
    DWORD a = 0;  // the numeric arguments in order: flags, read timeout, latency, in size,
    DWORD b = 0;  // mask, byte count; then write timeout, out size
    std::string text = {};  // OpenEx: the description; Write: the bytes sent
  };

  std::vector<Record> calls;

  void Script(Call kind, Answer answer) { scripts_[Index(kind)].push_back(std::move(answer)); }
  std::vector<Call> Kinds() const {
    std::vector<Call> kinds;
    for (const Record& r : calls) kinds.push_back(r.kind);
    return kinds;
  }
  std::vector<std::string> Writes() const {
    std::vector<std::string> writes;
    for (const Record& r : calls) {
      if (r.kind == Call::Write) writes.push_back(r.text);
    }
    return writes;
  }

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override {
    const FT_STATUS status = Next({Call::OpenEx, flags, 0, description}).status;
    if (status == ft::OK) *handle = this;
    return status;
  }
  FT_STATUS FT_SetTimeouts(FT_HANDLE, DWORD readMs, DWORD writeMs) override {
    return Next({Call::SetTimeouts, readMs, writeMs}).status;
  }
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE, std::uint8_t ms) override {
    return Next({Call::SetLatency, ms}).status;
  }
  FT_STATUS FT_SetUSBParameters(FT_HANDLE, DWORD inSize, DWORD outSize) override {
    return Next({Call::SetUSBParameters, inSize, outSize}).status;
  }
  FT_STATUS FT_Purge(FT_HANDLE, DWORD mask) override { return Next({Call::Purge, mask}).status; }
  FT_STATUS FT_Close(FT_HANDLE) override { return Next({Call::Close}).status; }
  FT_STATUS FT_Write(FT_HANDLE, const void* data, DWORD count, DWORD* written) override {
    const Answer a =
        Next({Call::Write, count, 0, std::string(static_cast<const char*>(data), count)});
    *written = a.count.value_or(a.status == ft::OK ? count : 0);
    return a.status;
  }
  FT_STATUS FT_Read(FT_HANDLE, void* data, DWORD count, DWORD* read) override {
    Answer a;
    if (pending_.empty()) {
      a = Next({Call::Read, count});
      pending_ = std::move(a.bytes);
    } else {
      calls.push_back({Call::Read, count});  // leftovers come first, on their own
    }
    const std::size_t n = std::min<std::size_t>(count, pending_.size());
    if (n > 0) std::memcpy(data, pending_.data(), n);
    pending_.erase(0, n);
    *read = a.count.value_or(static_cast<DWORD>(n));
    return a.status;
  }

 private:
  static std::size_t Index(Call kind) { return static_cast<std::size_t>(kind); }
  // Records the call and takes its scripted answer.
  Answer Next(Record record) {
    auto& queue = scripts_[Index(record.kind)];
    calls.push_back(std::move(record));
    if (queue.empty()) return {};
    Answer answer = std::move(queue.front());
    queue.pop_front();
    return answer;
  }

  std::array<std::deque<Answer>, kLastCall + 1> scripts_;
  std::string pending_;  // delivered by the board, not yet read
};

}  // namespace qvx::test
