#pragma once

#include <memory>
#include <string>

#include "link/d2xx.h"

namespace qvx {

// The vendor's own driver library, loaded by name and called through the eight functions it
// exports under their documented names, and its device list where it exports that too. Nothing
// here changes after loading, so every call goes straight through from any thread; calls on
// different handles at once are the library's own to keep apart.
class VendorLibrary : public D2xx {
 public:
#if defined(_WIN32)
  static constexpr const char* kLibraryName = "FTD2XX.DLL";
#elif defined(__APPLE__)
  static constexpr const char* kLibraryName = "libftd2xx.dylib";
#else
  static constexpr const char* kLibraryName = "libftd2xx.so";
#endif

  // Nothing when the library cannot be loaded or lacks one of the eight functions.
  static std::unique_ptr<VendorLibrary> Load(const char* name = kLibraryName);

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
  Obstacle OpenObstacle(DWORD index) override;
  std::string PortName(DWORD index) override;

  ~VendorLibrary() override;

 private:
  struct Functions;
  explicit VendorLibrary(std::unique_ptr<Functions> functions);

  std::unique_ptr<Functions> fn_;
};

}  // namespace qvx
