#pragma once

#include <cstdint>

// The vendor library's calling convention, for its exports and for calls into it.
#ifdef _WIN32
#define QVX_FTAPI __stdcall
#else
#define QVX_FTAPI
#endif

// The eight driver calls the link needs, as one seam. Providers: the vendor library loaded by
// name, libftdi1, the virtual board and the tests' scripted fake.
namespace qvx {

// The vendor's types on 64-bit Linux and Windows: the handle is a pointer, statuses and counts
// are 32-bit.
using FT_HANDLE = void*;
using FT_STATUS = std::uint32_t;
using DWORD = std::uint32_t;

namespace ft {
inline constexpr FT_STATUS OK = 0;
inline constexpr FT_STATUS INVALID_HANDLE = 1;
inline constexpr FT_STATUS DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS IO_ERROR = 4;
inline constexpr FT_STATUS INSUFFICIENT_RESOURCES = 5;
inline constexpr FT_STATUS INVALID_PARAMETER = 6;
inline constexpr FT_STATUS NOT_SUPPORTED = 17;
inline constexpr FT_STATUS OTHER_ERROR = 18;

inline constexpr DWORD OPEN_BY_DESCRIPTION = 2;
inline constexpr DWORD PURGE_RX = 1;
inline constexpr DWORD PURGE_TX = 2;
}  // namespace ft

class D2xx {
 public:
  virtual ~D2xx() = default;

  virtual FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) = 0;
  virtual FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) = 0;
  virtual FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) = 0;
  virtual FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) = 0;
  virtual FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) = 0;
  virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) = 0;
  virtual FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) = 0;
  virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;
};

}  // namespace qvx
