#include "support/scripted_driver.h"

#include <algorithm>
#include <cstring>

namespace qvx::test {

std::vector<ScriptedDriver::Call> ScriptedDriver::Kinds() const {
  std::vector<Call> kinds;
  for (const Record& r : calls) kinds.push_back(r.kind);
  return kinds;
}

std::vector<std::string> ScriptedDriver::Writes() const {
  std::vector<std::string> writes;
  for (const Record& r : calls) {
    if (r.kind == Call::Write) writes.push_back(r.text);
  }
  return writes;
}

ScriptedDriver::Answer ScriptedDriver::Next(Record record) {
  auto& queue = scripts_[static_cast<std::size_t>(record.kind)];
  calls.push_back(std::move(record));
  if (queue.empty()) return {};
  Answer answer = std::move(queue.front());
  queue.pop_front();
  return answer;
}

FT_STATUS ScriptedDriver::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  const FT_STATUS status = Next({Call::OpenEx, flags, 0, description}).status;
  if (status == ft::OK) *handle = &token_;
  return status;
}

FT_STATUS ScriptedDriver::FT_SetTimeouts(FT_HANDLE, DWORD readMs, DWORD writeMs) {
  return Next({Call::SetTimeouts, readMs, writeMs}).status;
}

FT_STATUS ScriptedDriver::FT_SetLatencyTimer(FT_HANDLE, std::uint8_t ms) {
  return Next({Call::SetLatency, ms}).status;
}

FT_STATUS ScriptedDriver::FT_SetUSBParameters(FT_HANDLE, DWORD inSize, DWORD outSize) {
  return Next({Call::SetUSBParameters, inSize, outSize}).status;
}

FT_STATUS ScriptedDriver::FT_Purge(FT_HANDLE, DWORD mask) {
  const FT_STATUS status = Next({Call::Purge, mask}).status;
  if (status == ft::OK && (mask & ft::PURGE_RX) != 0) pending_.clear();
  return status;
}

FT_STATUS ScriptedDriver::FT_Write(FT_HANDLE, const void* data, DWORD count, DWORD* written) {
  const Answer a =
      Next({Call::Write, count, 0, std::string(static_cast<const char*>(data), count)});
  *written = a.count.value_or(a.status == ft::OK ? count : 0);
  return a.status;
}

FT_STATUS ScriptedDriver::FT_Read(FT_HANDLE, void* data, DWORD count, DWORD* read) {
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

FT_STATUS ScriptedDriver::FT_Close(FT_HANDLE) {
  return Next({Call::Close}).status;
}

}  // namespace qvx::test
