// Opens the board as the link does, then makes the libftdi1 provider's calls that its arguments
// name, in order; prints one line per call: the status, and after a read the bytes, in hex.
//   o  open  c  close  t<ms>  read timeout  w<hex>  write  r<count>  read  p<mask>  purge
//   u<size>  inbound transfer size
//   l  list, then ask for the details one past its end
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/ftdi_library.h"
#include "link/qvx_module.h"

int main(int argc, char** argv) {
  using namespace qvx;
  const auto driver = FtdiLibrary::Load();
  if (driver == nullptr) return 1;
  std::vector<std::uint8_t> image;
  QVXModule link(*driver, image);
  for (int i = 1; i < argc; ++i) {
    const char call = argv[i][0];
    const std::string value = argv[i] + 1;
    const auto number = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10));
    std::vector<std::uint8_t> bytes(call == 'r' ? number : 0);
    for (std::size_t at = 0; call == 'w' && at < value.size(); at += 2) {
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(value.substr(at, 2), nullptr, 16)));
    }
    const auto size = static_cast<DWORD>(bytes.size());
    DWORD count = 0;
    FT_STATUS status = ft::NOT_SUPPORTED;
    if (call == 'o') link.OpenDevice();
    if (call == 'o') status = static_cast<FT_STATUS>(link.FtStatus);
    if (call == 't') status = driver->FT_SetTimeouts(link.DeviceHandle, number, 0);
    if (call == 'w') status = driver->FT_Write(link.DeviceHandle, bytes.data(), size, &count);
    if (call == 'r') status = driver->FT_Read(link.DeviceHandle, bytes.data(), size, &count);
    if (call == 'p') status = driver->FT_Purge(link.DeviceHandle, number);
    if (call == 'u') status = driver->FT_SetUSBParameters(link.DeviceHandle, number, 0);
    if (call == 'c') status = driver->FT_Close(link.DeviceHandle);
    if (call == 'l' && driver->FT_CreateDeviceInfoList(&count) == ft::OK) {
      status = driver->FT_GetDeviceInfoDetail(count, nullptr, nullptr, nullptr, nullptr, nullptr,
                                              nullptr, nullptr);
    }
    bytes.resize(call == 'r' ? count : 0);
    std::printf("%u%s", status, call == 'r' ? " " : "");
    for (const std::uint8_t byte : bytes) std::printf("%02x", byte);
    std::printf("\n");
  }
  return 0;
}
