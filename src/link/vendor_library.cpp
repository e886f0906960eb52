#include "link/vendor_library.h"

#include <cstdio>

#include "link/dynamic_library.h"

namespace qvx {

// The library's documented declarations, written out here: handles are pointers, statuses,
// counts, timeouts and masks 32-bit unsigned.
extern "C" {
typedef FT_STATUS(QVX_FTAPI* FtOpenEx)(void* arg, DWORD flags, FT_HANDLE* handle);
typedef FT_STATUS(QVX_FTAPI* FtSetTimeouts)(FT_HANDLE handle, DWORD readMs, DWORD writeMs);
typedef FT_STATUS(QVX_FTAPI* FtSetLatencyTimer)(FT_HANDLE handle, unsigned char ms);
typedef FT_STATUS(QVX_FTAPI* FtSetUSBParameters)(FT_HANDLE handle, DWORD in, DWORD out);
typedef FT_STATUS(QVX_FTAPI* FtPurge)(FT_HANDLE handle, DWORD mask);
typedef FT_STATUS(QVX_FTAPI* FtWrite)(FT_HANDLE handle, void* data, DWORD count, DWORD* written);
typedef FT_STATUS(QVX_FTAPI* FtRead)(FT_HANDLE handle, void* data, DWORD count, DWORD* read);
typedef FT_STATUS(QVX_FTAPI* FtClose)(FT_HANDLE handle);
typedef FT_STATUS(QVX_FTAPI* FtCreateDeviceInfoList)(DWORD* count);
typedef FT_STATUS(QVX_FTAPI* FtGetDeviceInfoDetail)(DWORD index, DWORD* flags, DWORD* type,
                                                    DWORD* id, DWORD* locId, void* serialNumber,
                                                    void* description, FT_HANDLE* handle);
}

struct VendorLibrary::Functions {
  FtOpenEx openEx = nullptr;
  FtSetTimeouts setTimeouts = nullptr;
  FtSetLatencyTimer setLatencyTimer = nullptr;
  FtSetUSBParameters setUSBParameters = nullptr;
  FtPurge purge = nullptr;
  FtWrite write = nullptr;
  FtRead read = nullptr;
  FtClose close = nullptr;
  // Optional: null where the library does not export them.
  FtCreateDeviceInfoList createDeviceInfoList = nullptr;
  FtGetDeviceInfoDetail getDeviceInfoDetail = nullptr;
};

std::unique_ptr<VendorLibrary> VendorLibrary::Load(const char* name) {
  const std::optional<DynamicLibrary> library = DynamicLibrary::Open(name);
  if (!library) return nullptr;
  auto f = std::make_unique<Functions>();
  const bool complete =
      library->Bind(f->openEx, "FT_OpenEx") && library->Bind(f->setTimeouts, "FT_SetTimeouts") &&
      library->Bind(f->setLatencyTimer, "FT_SetLatencyTimer") &&
      library->Bind(f->setUSBParameters, "FT_SetUSBParameters") &&
      library->Bind(f->purge, "FT_Purge") && library->Bind(f->write, "FT_Write") &&
      library->Bind(f->read, "FT_Read") && library->Bind(f->close, "FT_Close");
  if (!complete) return nullptr;
  // The list is used only as a pair.
  if (!library->Bind(f->createDeviceInfoList, "FT_CreateDeviceInfoList") ||
      !library->Bind(f->getDeviceInfoDetail, "FT_GetDeviceInfoDetail")) {
    f->createDeviceInfoList = nullptr;
    f->getDeviceInfoDetail = nullptr;
  }
  return std::unique_ptr<VendorLibrary>(new VendorLibrary(std::move(f)));
}

VendorLibrary::VendorLibrary(std::unique_ptr<Functions> functions) : fn_(std::move(functions)) {}
VendorLibrary::~VendorLibrary() = default;

FT_STATUS VendorLibrary::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  // The library takes the description (or the location) through an untyped, non-const argument;
  // it only reads it.
  return fn_->openEx(const_cast<char*>(description), flags, handle);
}

FT_STATUS VendorLibrary::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  return fn_->setTimeouts(handle, readMs, writeMs);
}

FT_STATUS VendorLibrary::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  return fn_->setLatencyTimer(handle, ms);
}

FT_STATUS VendorLibrary::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  return fn_->setUSBParameters(handle, inSize, outSize);
}

FT_STATUS VendorLibrary::FT_Purge(FT_HANDLE handle, DWORD mask) {
  return fn_->purge(handle, mask);
}

FT_STATUS VendorLibrary::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  return fn_->write(handle, const_cast<void*>(data), count, written);
}

FT_STATUS VendorLibrary::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  return fn_->read(handle, data, count, read);
}

FT_STATUS VendorLibrary::FT_Close(FT_HANDLE handle) {
  return fn_->close(handle);
}

FT_STATUS VendorLibrary::FT_CreateDeviceInfoList(DWORD* count) {
  if (fn_->createDeviceInfoList == nullptr) return D2xx::FT_CreateDeviceInfoList(count);
  return fn_->createDeviceInfoList(count);
}

FT_STATUS VendorLibrary::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                                DWORD* locId, void* serialNumber, void* description,
                                                FT_HANDLE* handle) {
  if (fn_->getDeviceInfoDetail == nullptr) {
    return D2xx::FT_GetDeviceInfoDetail(index, flags, type, id, locId, serialNumber, description,
                                        handle);
  }
  return fn_->getDeviceInfoDetail(index, flags, type, id, locId, serialNumber, description, handle);
}

std::string VendorLibrary::PortName(DWORD index) {
  DWORD location = 0;
  if (fn_->getDeviceInfoDetail == nullptr ||
      fn_->getDeviceInfoDetail(index, nullptr, nullptr, nullptr, &location, nullptr, nullptr,
                               nullptr) != ft::OK ||
      location == 0) {
    return {};
  }
  // The library's own location id, as its tools show it.
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(location));
  return text;
}

Obstacle VendorLibrary::OpenObstacle(DWORD /*index*/) {
  // This library cannot take a device over from the kernel's serial driver, which on Linux
  // claims every FTDI chip it knows; elsewhere it owns its devices.
#if defined(__linux__)
  return Obstacle::KernelDriver;
#else
  return Obstacle::Unknown;
#endif
}

}  // namespace qvx
