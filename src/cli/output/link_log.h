#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "cli/platform/shared_stream.h"
#include "link/d2xx.h"

namespace qvx::cli {

// The -v and --log record: timestamped lines of what the link did that matters when something
// goes wrong, from every board's thread, each naming its board as results do.
class LinkLog {
 public:
  void AddSink(SharedStream& sink) { sinks_.push_back(&sink); }
  bool Enabled() const { return !sinks_.empty(); }
  // "<time> <board> <event>": the board as results name it, "QVX00002 at 1-1.2", printable.
  void Write(std::string_view board, std::string_view event);
  // The name of the board opened by that location (when not 0) or serial number, while it is
  // being worked on.
  void Name(DWORD location, const std::string& serialNumber, std::string name);
  void Forget(DWORD location, const std::string& serialNumber);
  // The name a board opened so goes by: its name, else what it was opened by.
  std::string NameOf(DWORD flags, const char* argument) const;

 private:
  static std::string Key(DWORD location, const std::string& serialNumber);

  std::vector<SharedStream*> sinks_;
  mutable std::mutex lock_;
  std::map<std::string, std::string> names_;
};

// The driver seam with a log: every call that did not return FT_OK, with its status named,
// under the board it was for. (Purges and "EX" are the engine's events, logged by each board.)
class LoggingDriver : public D2xx {
 public:
  LoggingDriver(D2xx& driver, LinkLog& log) : driver_(driver), log_(log) {}

  FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) override;
  FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) override;
  FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
  FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) override;
  FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) override;
  FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) override;
  FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) override;
  FT_STATUS FT_Close(FT_HANDLE handle) override;
  FT_STATUS FT_CreateDeviceInfoList(DWORD* count) override;
  FT_STATUS FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id, DWORD* locId,
                                   void* serialNumber, void* description,
                                   FT_HANDLE* handle) override;
  Obstacle OpenObstacle(DWORD index) override { return driver_.OpenObstacle(index); }
  std::string PortName(DWORD index) override { return driver_.PortName(index); }

 private:
  // Logs a call that failed; returns its status.
  FT_STATUS Checked(FT_HANDLE handle, std::string_view call, FT_STATUS status);
  std::string BoardOf(FT_HANDLE handle);

  D2xx& driver_;
  LinkLog& log_;
  std::mutex lock_;
  std::map<FT_HANDLE, std::string> boards_;  // what each open handle was opened by
};

}  // namespace qvx::cli
