#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/d2xx.h"

namespace qvx {

// The program's driver: at the first call it takes the first provider that loads, in order
// the vendor's library, then (not on Windows) libftdi1, and forwards every call to it. With none
// loaded an open finds no device and every other call meets an invalid handle. Whichever thread
// calls first loads the provider, the others wait for it; after that the calls go straight
// through, as safe from several threads as the provider makes them.
class SystemDriver : public D2xx {
 public:
  using Loader = std::function<std::unique_ptr<D2xx>()>;

  // What to install when no provider loads.
#ifdef _WIN32
  static constexpr const char* kInstallAdvice =
      "install FTDI's D2XX driver, which brings FTD2XX.DLL";
#else
  static constexpr const char* kInstallAdvice =
      "install libftdi1 (Debian package libftdi1-2) or FTDI's D2XX library (libftd2xx.so)";
#endif

  SystemDriver();
  explicit SystemDriver(std::vector<Loader> loaders);  // tried in order
  ~SystemDriver() override;

  // The provider in use; null before the first call and when none loaded.
  const D2xx* Provider() const {
    return active_.load(std::memory_order_acquire);
  }

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

 private:
  D2xx* Loaded();

  std::once_flag loaded_;
  std::vector<Loader> loaders_;
  std::unique_ptr<D2xx> provider_;
  std::atomic<const D2xx*> active_{nullptr};  // provider_, once loaded, for Provider()
};

}  // namespace qvx
