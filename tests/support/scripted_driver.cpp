#include "support/scripted_driver.h"

#include <algorithm>
#include <cstring>

namespace qvx::test {

std::size_t ScriptedDriver::CountOf(Call kind) const {
  return static_cast<std::size_t>(std::count_if(
      calls.begin(), calls.end(), [kind](const Record& r) { return r.kind == kind; }));
}

std::vector<ScriptedDriver::Call> ScriptedDriver::Kinds() const {
  std::vector<Call> kinds;
  for (const Record& r : calls) kinds.push_back(r.kind);
  return kinds;
}

ScriptedDriver::Result ScriptedDriver::Next(Record record) {
  auto& queue = scripts_[static_cast<std::size_t>(record.kind)];
  calls.push_back(std::move(record));
  if (queue.empty()) return {};
  Result result = std::move(queue.front());
  queue.pop_front();
  return result;
}

FT_STATUS ScriptedDriver::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  const Result r = Next({Call::OpenEx, nullptr, description ? description : "", flags});
  if (r.status == ft::OK) *handle = handleToGive;
  return r.status;
}

FT_STATUS ScriptedDriver::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  return Next({Call::SetTimeouts, handle, {}, readMs, writeMs}).status;
}

FT_STATUS ScriptedDriver::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  return Next({Call::SetLatencyTimer, handle, {}, ms}).status;
}

FT_STATUS ScriptedDriver::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  return Next({Call::SetUSBParameters, handle, {}, inSize, outSize}).status;
}

FT_STATUS ScriptedDriver::FT_Purge(FT_HANDLE handle, DWORD mask) {
  const Result r = Next({Call::Purge, handle, {}, mask});
  if (r.status == ft::OK && (mask & ft::PURGE_RX) != 0) pending_.clear();
  return r.status;
}

FT_STATUS ScriptedDriver::FT_Write(FT_HANDLE handle, const void* data, DWORD count,
                                   DWORD* written) {
  const Result r = Next({Call::Write, handle, {}, count});
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  writes.emplace_back(bytes, bytes + count);
  *written = r.count.value_or(r.status == ft::OK ? count : 0);
  return r.status;
}

FT_STATUS ScriptedDriver::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  Result r;
  if (pending_.empty()) {
    r = Next({Call::Read, handle, {}, count});
    pending_ = std::move(r.bytes);
  } else {
    calls.push_back({Call::Read, handle, {}, count});  // leftovers come first, on their own
  }
  const std::size_t n = std::min<std::size_t>(count, pending_.size());
  if (n > 0) std::memcpy(data, pending_.data(), n);
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
  *read = r.count.value_or(static_cast<DWORD>(n));
  return r.status;
}

FT_STATUS ScriptedDriver::FT_Close(FT_HANDLE handle) {
  return Next({Call::Close, handle}).status;
}

}  // namespace qvx::test
