#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/d2xx.h"

struct ftdi_context;
struct libusb_device;

namespace qvx {

// The eight calls built on libftdi1, for systems without the vendor library. libftdi1 is loaded
// at run time, like the vendor library, so that one process never holds two copies of libusb.
// A handle is the address of one of this provider's open devices, which stays put until that
// device is closed. Devices are found through libftdi1's own enumeration and USB string
// descriptors, by description or serial number.
//
// Every open device has its own libftdi1 context and so its own libusb context (ftdi_new makes
// one, ftdi_free ends it): one board's transfers are handled by its own context's events, never
// behind another board's, and libusb needs no lock of ours. A listing, and the search an open
// makes, take a context of their own for as long as they run.
class FtdiLibrary : public D2xx {
 public:
#if defined(__APPLE__)
  static constexpr const char* kLibraryName = "libftdi1.2.dylib";
#else
  static constexpr const char* kLibraryName = "libftdi1.so.2";
#endif
  // A write timeout of 0 means no limit; libusb gets this long one instead.
  static constexpr int kUnlimitedWriteMs = 60'000;

  // Nothing when libftdi1 cannot be loaded or lacks a function this provider needs.
  static std::unique_ptr<FtdiLibrary> Load(const char* name = kLibraryName);

  ~FtdiLibrary() override;  // closes the devices still open

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
  struct Functions;
  struct Device;
  // One attached FTDI device as enumeration saw it.
  struct Listed {
    DWORD id;  // vendor in the high 16 bits, product in the low
    std::string serialNumber;
    std::string description;
    std::string port;  // "1-1.4"; empty when libusb cannot tell
    bool readable;     // false: its strings could not be read, so it could not be opened either
  };
  // Calls visit for every attached FTDI device until it returns false.
  using Visitor = std::function<bool(libusb_device* device, const Listed& listed)>;
  void ForEachDevice(ftdi_context* context, const Visitor& visit);
  std::string PortOf(libusb_device* device) const;
  explicit FtdiLibrary(std::unique_ptr<Functions> functions);
  Device* Find(FT_HANDLE handle) const;
  std::optional<Listed> ListedAt(DWORD index) const;
  FT_STATUS Release(std::unique_ptr<Device> device);  // closes it

  const std::unique_ptr<Functions> fn_;
  // Guards the two lists, and nothing else: never held across a USB transfer, so that one board's
  // slow call never holds up another board's call, an open or a listing.
  mutable std::mutex lock_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::vector<Listed> listed_;
};

}  // namespace qvx
