#include "cli/output/link_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "cli/output/printable.h"
#include "cli/output/time_text.h"

namespace qvx::cli {

namespace {

// "2026-12-07 14:03:09.417", local time.
std::string Timestamp() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  char text[8];
  std::snprintf(text, sizeof text, ".%03d", static_cast<int>(millis));
  return TimeText(system_clock::to_time_t(now), "%Y-%m-%d %H:%M:%S", /*utc=*/false) + text;
}

}  // namespace

void LinkLog::Write(std::string_view board, std::string_view event) {
  const std::string line = Timestamp() + " " + std::string(board) + " " + std::string(event) + "\n";
  for (SharedStream* sink : sinks_) sink->Write(line);
}

std::string LinkLog::Key(DWORD location, const std::string& serialNumber) {
  // Appended rather than "@" + text: GCC 12 at -O3 takes that for an overlapping copy.
  std::string key(1, location != 0 ? '@' : '#');
  return key.append(location != 0 ? std::to_string(location) : serialNumber);
}

void LinkLog::Name(DWORD location, const std::string& serialNumber, std::string name) {
  const std::lock_guard guard(lock_);
  names_[Key(location, serialNumber)] = std::move(name);
}

void LinkLog::Forget(DWORD location, const std::string& serialNumber) {
  const std::lock_guard guard(lock_);
  names_.erase(Key(location, serialNumber));
}

std::string LinkLog::NameOf(DWORD flags, const char* argument) const {
  const DWORD location = flags == ft::OPEN_BY_LOCATION ? ft::LocationOfArgument(argument) : 0;
  const std::string serial = flags == ft::OPEN_BY_LOCATION || argument == nullptr ? "" : argument;
  {
    const std::lock_guard guard(lock_);
    const auto it = names_.find(Key(location, serial));
    if (it != names_.end()) return it->second;
  }
  char text[24];
  std::snprintf(text, sizeof text, "location 0x%X", static_cast<unsigned>(location));
  return location != 0 ? text : argument == nullptr ? "-" : Printable(serial);
}

std::string LoggingDriver::BoardOf(FT_HANDLE handle) {
  const std::lock_guard guard(lock_);
  const auto it = boards_.find(handle);
  return it == boards_.end() ? "-" : it->second;
}

FT_STATUS LoggingDriver::Checked(FT_HANDLE handle, std::string_view call, FT_STATUS status) {
  if (status != ft::OK) {
    log_.Write(BoardOf(handle), std::string(call) + " returned " + StatusName(status));
  }
  return status;
}

FT_STATUS LoggingDriver::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  const FT_STATUS status = driver_.FT_OpenEx(description, flags, handle);
  const std::string board = log_.NameOf(flags, description);
  if (status != ft::OK) {
    log_.Write(board, "FT_OpenEx returned " + StatusName(status));
  } else {
    const std::lock_guard guard(lock_);
    boards_[*handle] = board;
  }
  return status;
}

FT_STATUS LoggingDriver::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  return Checked(handle, "FT_SetTimeouts", driver_.FT_SetTimeouts(handle, readMs, writeMs));
}

FT_STATUS LoggingDriver::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  return Checked(handle, "FT_SetLatencyTimer", driver_.FT_SetLatencyTimer(handle, ms));
}

FT_STATUS LoggingDriver::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  return Checked(handle, "FT_SetUSBParameters",
                 driver_.FT_SetUSBParameters(handle, inSize, outSize));
}

FT_STATUS LoggingDriver::FT_Purge(FT_HANDLE handle, DWORD mask) {
  return Checked(handle, "FT_Purge", driver_.FT_Purge(handle, mask));
}

FT_STATUS LoggingDriver::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  return Checked(handle, "FT_Write", driver_.FT_Write(handle, data, count, written));
}

FT_STATUS LoggingDriver::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  return Checked(handle, "FT_Read", driver_.FT_Read(handle, data, count, read));
}

FT_STATUS LoggingDriver::FT_Close(FT_HANDLE handle) {
  const FT_STATUS status = Checked(handle, "FT_Close", driver_.FT_Close(handle));
  const std::lock_guard guard(lock_);
  boards_.erase(handle);
  return status;
}

FT_STATUS LoggingDriver::FT_CreateDeviceInfoList(DWORD* count) {
  return Checked(nullptr, "FT_CreateDeviceInfoList", driver_.FT_CreateDeviceInfoList(count));
}

FT_STATUS LoggingDriver::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                                DWORD* locId, void* serialNumber, void* description,
                                                FT_HANDLE* handle) {
  return Checked(nullptr, "FT_GetDeviceInfoDetail",
                 driver_.FT_GetDeviceInfoDetail(index, flags, type, id, locId, serialNumber,
                                                description, handle));
}

}  // namespace qvx::cli
