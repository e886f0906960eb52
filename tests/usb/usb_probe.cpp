// Makes the libftdi1 provider's calls that its arguments name, in order, and prints one line per
// call: the status, and after a read the bytes that came, in hex.
//   o<description>  open      t<ms>  read timeout     l<ms>  latency timer    u<bytes> USB sizes
//   w<hex>          write     r<count>  read          p<mask>  purge          c  close
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/ftdi_library.h"

int main(int argc, char** argv) {
  using namespace qvx;
  const auto driver = FtdiLibrary::Load();
  if (driver == nullptr) {
    std::puts("libftdi1 does not load");
    return 1;
  }
  FT_HANDLE handle = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string value = argv[i] + 1;
    const auto number = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 0));
    std::vector<unsigned char> bytes;
    DWORD count = 0;
    FT_STATUS status = ft::NOT_SUPPORTED;
    switch (argv[i][0]) {
      case 'o':
        status = driver->FT_OpenEx(value.c_str(), ft::OPEN_BY_DESCRIPTION, &handle);
        break;
      case 't':
        status = driver->FT_SetTimeouts(handle, number, 0);
        break;
      case 'l':
        status = driver->FT_SetLatencyTimer(handle, static_cast<std::uint8_t>(number));
        break;
      case 'u':
        status = driver->FT_SetUSBParameters(handle, number, number);
        break;
      case 'w':
        for (std::size_t at = 0; at + 1 < value.size(); at += 2) {
          bytes.push_back(static_cast<unsigned char>(std::stoul(value.substr(at, 2), nullptr, 16)));
        }
        status = driver->FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &count);
        bytes.clear();
        break;
      case 'r':
        bytes.resize(number);
        status = driver->FT_Read(handle, bytes.data(), number, &count);
        bytes.resize(count);
        break;
      case 'p':
        status = driver->FT_Purge(handle, number);
        break;
      case 'c':
        status = driver->FT_Close(handle);
        break;
      default:
        break;
    }
    std::printf("%u", status);
    if (argv[i][0] == 'r') std::printf(" ");
    for (const unsigned char byte : bytes) std::printf("%02x", byte);
    std::printf("\n");
  }
  return 0;
}
