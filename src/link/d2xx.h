#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The vendor library's calling convention, for its exports and for calls into it.
#ifdef _WIN32
#define QVX_FTAPI __stdcall
#else
#define QVX_FTAPI
#endif

// The eight driver calls the link needs, as one seam, and two optional ones for finding boards.
// Providers: the vendor library loaded by name, libftdi1, the virtual board and the tests'
// scripted fake.
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

inline constexpr DWORD OPEN_BY_SERIAL_NUMBER = 1;
inline constexpr DWORD OPEN_BY_DESCRIPTION = 2;
// The argument is then the location id itself, in place of the pointer, as the vendor's API
// passes it.
inline constexpr DWORD OPEN_BY_LOCATION = 4;
inline constexpr DWORD FLAGS_OPENED = 1;  // a listed device some process holds open
// The buffers FT_GetDeviceInfoDetail fills, terminating NUL included.
inline constexpr std::size_t SERIAL_NUMBER_SIZE = 16;
inline constexpr std::size_t DESCRIPTION_SIZE = 64;
inline constexpr DWORD PURGE_RX = 1;
inline constexpr DWORD PURGE_TX = 2;

// Copies text into a detail buffer of `size` bytes as a NUL-terminated string, cut to fit.
inline void CopyDetail(void* buffer, std::size_t size, std::string_view text) {
  if (buffer == nullptr || size == 0) return;
  auto* out = static_cast<char*>(buffer);
  const std::size_t n = std::min(text.size(), size - 1);
  std::copy_n(text.begin(), n, out);
  out[n] = '\0';
}
// The location id of a port that a provider names by its bus and port path ("1-1.4") and not by
// an id of its own: the numbers as hex digits (0x114), as the vendor's library forms its ids, when
// each is 1 to 15 and there are at most eight; else the name's FNV-1a hash, which still tells one
// machine's ports apart. Never 0, which stands for no location.
constexpr DWORD LocationIdOf(std::string_view port) {
  DWORD digits = 0;
  int count = 0;
  int number = 0;
  bool legible = !port.empty();
  for (std::size_t i = 0; i <= port.size() && legible; ++i) {
    if (i < port.size() && port[i] >= '0' && port[i] <= '9') {
      number = number * 10 + (port[i] - '0');
      legible = number <= 15;
    } else {
      legible =
          number >= 1 && ++count <= 8 && (i == port.size() || port[i] == (count == 1 ? '-' : '.'));
      digits = digits << 4 | static_cast<DWORD>(number);
      number = 0;
    }
  }
  if (legible) return digits;
  DWORD hash = 2166136261u;
  for (const char c : port) hash = (hash ^ static_cast<std::uint8_t>(c)) * 16777619u;
  return hash == 0 ? 1 : hash;
}
static_assert(LocationIdOf("1-1.4") == 0x114 && LocationIdOf("3-2.10.1") == 0x32A1);
static_assert(LocationIdOf("1-16") > 0xFFFF && LocationIdOf("1-0") > 0xFFFF);

// A location id as FT_OpenEx takes it for OPEN_BY_LOCATION, and back. The vendor's call takes the
// number in its pointer argument; nothing ever dereferences it.
inline const char* LocationArgument(DWORD location) {
  return reinterpret_cast<const char*>(  // NOLINT(performance-no-int-to-ptr)
      static_cast<std::uintptr_t>(location));
}
inline DWORD LocationOfArgument(const char* argument) {
  return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(argument));
}
}  // namespace ft

// Every status the vendor documents, by value, as it names them.
inline constexpr std::array<std::string_view, 20> kStatusNames{
    "FT_OK",
    "FT_INVALID_HANDLE",
    "FT_DEVICE_NOT_FOUND",
    "FT_DEVICE_NOT_OPENED",
    "FT_IO_ERROR",
    "FT_INSUFFICIENT_RESOURCES",
    "FT_INVALID_PARAMETER",
    "FT_INVALID_BAUD_RATE",
    "FT_DEVICE_NOT_OPENED_FOR_ERASE",
    "FT_DEVICE_NOT_OPENED_FOR_WRITE",
    "FT_FAILED_TO_WRITE_DEVICE",
    "FT_EEPROM_READ_FAILED",
    "FT_EEPROM_WRITE_FAILED",
    "FT_EEPROM_ERASE_FAILED",
    "FT_EEPROM_NOT_PRESENT",
    "FT_EEPROM_NOT_PROGRAMMED",
    "FT_INVALID_ARGS",
    "FT_NOT_SUPPORTED",
    "FT_OTHER_ERROR",
    "FT_DEVICE_LIST_NOT_READY",
};

// "FT_IO_ERROR"; a status the vendor does not document keeps its number.
inline std::string StatusName(FT_STATUS status) {
  if (status < kStatusNames.size()) return std::string(kStatusNames[status]);
  return "status " + std::to_string(status);
}

// Why a listed device could not be opened, as far as a provider can tell.
enum class Obstacle { Unknown, NoPermission, InUse, KernelDriver };

// Threads. The station lists devices and opens and closes boards on one thread while each board
// it opened is updated on a thread of its own, and boards come and go meanwhile. So:
// - Calls on one handle come from one thread at a time: its board's thread for I/O; its open and
//   close from another, never beside its own calls.
// - Calls on different handles, opens, closes and listings may come from any threads at once. A
//   provider guards what they share (its lists of open and listed devices) and holds no lock of
//   its own across a transfer, so one board's slow read never holds up another board.
// - A handle is the provider's own stable address: no other board's open or close moves it.
// - A listing is the device list of the last FT_CreateDeviceInfoList in the process, as the
//   vendor's library keeps it; details and port names are by index into that one list.
class D2xx {
 public:
  virtual ~D2xx() = default;

  // `description` is the serial number instead when flags is OPEN_BY_SERIAL_NUMBER.
  virtual FT_STATUS FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) = 0;
  virtual FT_STATUS FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) = 0;
  virtual FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) = 0;
  virtual FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) = 0;
  virtual FT_STATUS FT_Purge(FT_HANDLE handle, DWORD mask) = 0;
  virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) = 0;
  virtual FT_STATUS FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) = 0;
  virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;

  // Enumeration, a capability not every provider has; those without it still open the one
  // board by its description. The list is taken at FT_CreateDeviceInfoList; details are by
  // index into it, serial number and description copied NUL-terminated into buffers of
  // SERIAL_NUMBER_SIZE and DESCRIPTION_SIZE bytes.
  virtual FT_STATUS FT_CreateDeviceInfoList(DWORD* /*count*/) { return ft::NOT_SUPPORTED; }
  virtual FT_STATUS FT_GetDeviceInfoDetail(DWORD /*index*/, DWORD* /*flags*/, DWORD* /*type*/,
                                           DWORD* /*id*/, DWORD* /*locId*/, void* /*serialNumber*/,
                                           void* /*description*/, FT_HANDLE* /*handle*/) {
    return ft::NOT_SUPPORTED;
  }
  // Not a driver call: what stands in the way of opening listed device `index`, for the
  // operator's advice.
  virtual Obstacle OpenObstacle(DWORD /*index*/) { return Obstacle::Unknown; }
  // Not a driver call: where listed device `index` is plugged in, as the operator names the
  // port ("1-1.4", or the vendor's location id); empty when the provider cannot tell.
  virtual std::string PortName(DWORD /*index*/) { return {}; }
};

}  // namespace qvx
