#include "link/system_driver.h"

#include "link/vendor_library.h"
#ifndef _WIN32
#include "link/ftdi_library.h"
#endif

namespace qvx {
namespace {

std::vector<SystemDriver::Loader> SystemLoaders() {
  std::vector<SystemDriver::Loader> loaders{
      []() -> std::unique_ptr<D2xx> { return VendorLibrary::Load(); }};
#ifndef _WIN32
  // On Windows the vendor's library is the driver; elsewhere libftdi1 stands in for it.
  loaders.emplace_back([]() -> std::unique_ptr<D2xx> { return FtdiLibrary::Load(); });
#endif
  return loaders;
}

}  // namespace

SystemDriver::SystemDriver() : SystemDriver(SystemLoaders()) {}

SystemDriver::SystemDriver(std::vector<Loader> loaders) : loaders_(std::move(loaders)) {}

SystemDriver::~SystemDriver() = default;

D2xx* SystemDriver::Loaded() {
  // Loading is tried once, by whichever thread calls first; a library that appears later is not
  // picked up.
  std::call_once(loaded_, [this] {
    for (Loader& load : loaders_) {
      provider_ = load();
      if (provider_ != nullptr) break;
    }
    loaders_.clear();
    active_.store(provider_.get(), std::memory_order_release);
  });
  return provider_.get();
}

FT_STATUS SystemDriver::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_OpenEx(description, flags, handle) : ft::DEVICE_NOT_FOUND;
}

FT_STATUS SystemDriver::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_SetTimeouts(handle, readMs, writeMs) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_SetLatencyTimer(handle, ms) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_SetUSBParameters(handle, inSize, outSize) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_Purge(FT_HANDLE handle, DWORD mask) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_Purge(handle, mask) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_Write(handle, data, count, written) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_Read(handle, data, count, read) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_Close(FT_HANDLE handle) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_Close(handle) : ft::INVALID_HANDLE;
}

FT_STATUS SystemDriver::FT_CreateDeviceInfoList(DWORD* count) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_CreateDeviceInfoList(count) : ft::NOT_SUPPORTED;
}

FT_STATUS SystemDriver::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                               DWORD* locId, void* serialNumber, void* description,
                                               FT_HANDLE* handle) {
  D2xx* p = Loaded();
  return p != nullptr ? p->FT_GetDeviceInfoDetail(index, flags, type, id, locId, serialNumber,
                                                  description, handle)
                      : ft::NOT_SUPPORTED;
}

Obstacle SystemDriver::OpenObstacle(DWORD index) {
  D2xx* p = Loaded();
  return p != nullptr ? p->OpenObstacle(index) : Obstacle::Unknown;
}

std::string SystemDriver::PortName(DWORD index) {
  D2xx* p = Loaded();
  return p != nullptr ? p->PortName(index) : std::string();
}

}  // namespace qvx
