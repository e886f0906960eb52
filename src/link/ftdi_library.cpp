#include "link/ftdi_library.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <string_view>

#include "link/dynamic_library.h"

namespace qvx {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kFtdiVendor = 0x0403;
// FT232R/FT245R, FT2232, FT4232, FT232H, and the FT230X/FT231X/FT234X family.
constexpr std::array<int, 5> kProductIds = {0x6001, 0x6010, 0x6011, 0x6014, 0x6015};
// With no read timeout set, a read waits for its full count; each pass still ends this soon.
constexpr int kUntimedPassMs = 1000;
// The chip answers every read request within its latency timer, with data or with status bytes
// alone. A pass given less than that would time out inside libusb, and libftdi drops whatever
// that transfer had brought, so each pass gets at least the latency plus this slack.
constexpr int kPassSlackMs = 10;
constexpr int kChipDefaultLatencyMs = 16;
constexpr DWORD kMaxTransfer = 65536;
constexpr DWORD kTransferUnit = 64;
// Room for any USB string descriptor (at most 126 characters) and its NUL.
constexpr std::size_t kStringSize = 128;
// libftdi1's own libusb, loaded already: it tells where a device is plugged in.
constexpr const char* kUsbLibraryName = "libusb-1.0.so.0";
constexpr int kMaxPortDepth = 7;  // as USB allows

}  // namespace

// Only the signatures come from the header; the functions themselves are looked up at run time.
struct FtdiLibrary::Functions {
  decltype(&::ftdi_new) newContext = nullptr;
  decltype(&::ftdi_free) freeContext = nullptr;
  decltype(&::ftdi_usb_find_all) findAll = nullptr;
  decltype(&::ftdi_list_free) listFree = nullptr;
  decltype(&::ftdi_usb_get_strings2) getStrings = nullptr;
  decltype(&::ftdi_usb_open_dev) openDev = nullptr;
  decltype(&::ftdi_usb_close) close = nullptr;
  decltype(&::ftdi_set_latency_timer) setLatency = nullptr;
  decltype(&::ftdi_read_data_set_chunksize) setReadChunk = nullptr;
  decltype(&::ftdi_write_data_set_chunksize) setWriteChunk = nullptr;
  decltype(&::ftdi_tciflush) flushIn = nullptr;
  decltype(&::ftdi_tcoflush) flushOut = nullptr;
  decltype(&::ftdi_tcioflush) flushBoth = nullptr;
  decltype(&::ftdi_read_data) read = nullptr;
  decltype(&::ftdi_write_data) write = nullptr;
  // Optional: without them, devices have no port names.
  decltype(&::libusb_get_bus_number) busNumber = nullptr;
  decltype(&::libusb_get_port_numbers) portNumbers = nullptr;
};

struct FtdiLibrary::Device {
  ftdi_context* context;
  DWORD readTimeoutMs = 0;  // 0: wait for the full count
  int latencyMs = kChipDefaultLatencyMs;
};

std::unique_ptr<FtdiLibrary> FtdiLibrary::Load(const char* name) {
  const std::optional<DynamicLibrary> library = DynamicLibrary::Open(name);
  if (!library) return nullptr;
  auto f = std::make_unique<Functions>();
  const bool complete =
      library->Bind(f->newContext, "ftdi_new") && library->Bind(f->freeContext, "ftdi_free") &&
      library->Bind(f->findAll, "ftdi_usb_find_all") &&
      library->Bind(f->listFree, "ftdi_list_free") &&
      library->Bind(f->getStrings, "ftdi_usb_get_strings2") &&
      library->Bind(f->openDev, "ftdi_usb_open_dev") && library->Bind(f->close, "ftdi_usb_close") &&
      library->Bind(f->setLatency, "ftdi_set_latency_timer") &&
      library->Bind(f->setReadChunk, "ftdi_read_data_set_chunksize") &&
      library->Bind(f->setWriteChunk, "ftdi_write_data_set_chunksize") &&
      library->Bind(f->flushIn, "ftdi_tciflush") && library->Bind(f->flushOut, "ftdi_tcoflush") &&
      library->Bind(f->flushBoth, "ftdi_tcioflush") && library->Bind(f->read, "ftdi_read_data") &&
      library->Bind(f->write, "ftdi_write_data");
  if (!complete) return nullptr;
  if (const auto usb = DynamicLibrary::Open(kUsbLibraryName);
      !usb || !usb->Bind(f->busNumber, "libusb_get_bus_number") ||
      !usb->Bind(f->portNumbers, "libusb_get_port_numbers")) {
    f->busNumber = nullptr;
    f->portNumbers = nullptr;
  }
  return std::unique_ptr<FtdiLibrary>(new FtdiLibrary(std::move(f)));
}

FtdiLibrary::FtdiLibrary(std::unique_ptr<Functions> functions) : fn_(std::move(functions)) {}

FtdiLibrary::~FtdiLibrary() {
  for (auto& device : devices_) Release(std::move(device));
}

// The device stays valid after the lock is let go: only its own close, which never runs beside
// a call on the same handle, takes it away.
FtdiLibrary::Device* FtdiLibrary::Find(FT_HANDLE handle) const {
  const std::lock_guard guard(lock_);
  const auto it = std::find_if(devices_.begin(), devices_.end(),
                               [handle](const auto& d) { return d.get() == handle; });
  return it == devices_.end() ? nullptr : it->get();
}

std::optional<FtdiLibrary::Listed> FtdiLibrary::ListedAt(DWORD index) const {
  const std::lock_guard guard(lock_);
  if (index >= listed_.size()) return std::nullopt;
  return listed_[index];
}

// "1-1.4": the bus, then the port on each hub down to the device.
std::string FtdiLibrary::PortOf(libusb_device* device) const {
  if (fn_->busNumber == nullptr) return {};
  std::array<std::uint8_t, kMaxPortDepth> ports{};
  const int depth = fn_->portNumbers(device, ports.data(), static_cast<int>(ports.size()));
  if (depth <= 0) return {};
  std::string name = std::to_string(fn_->busNumber(device));
  // Piece by piece: GCC 12 takes a literal plus a temporary string for an overlapping copy.
  for (int i = 0; i < depth; ++i) {
    name += i == 0 ? '-' : '.';
    name += std::to_string(ports.at(i));
  }
  return name;
}

void FtdiLibrary::ForEachDevice(ftdi_context* context, const Visitor& visit) {
  bool more = true;
  for (const int product : kProductIds) {
    ftdi_device_list* list = nullptr;
    if (fn_->findAll(context, &list, kFtdiVendor, product) > 0) {
      for (ftdi_device_list* node = list; node != nullptr && more; node = node->next) {
        std::array<char, kStringSize> description{};
        std::array<char, kStringSize> serial{};
        // Reading the strings opens the device; one we may not open gives none. The serial
        // number is asked for apart, as a chip without one must still be found by description.
        const bool readable =
            fn_->getStrings(context, node->dev, nullptr, 0, description.data(),
                            static_cast<int>(description.size()), nullptr, 0) >= 0;
        if (readable && fn_->getStrings(context, node->dev, nullptr, 0, nullptr, 0, serial.data(),
                                        static_cast<int>(serial.size())) < 0) {
          serial[0] = '\0';
        }
        const auto id = static_cast<DWORD>(kFtdiVendor) << 16 | static_cast<DWORD>(product);
        more =
            visit(node->dev, {id, serial.data(), description.data(), PortOf(node->dev), readable});
      }
    }
    fn_->listFree(&list);
    if (!more) return;
  }
}

FT_STATUS FtdiLibrary::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  if (description == nullptr || handle == nullptr) return ft::INVALID_PARAMETER;
  if (flags != ft::OPEN_BY_SERIAL_NUMBER && flags != ft::OPEN_BY_DESCRIPTION &&
      flags != ft::OPEN_BY_LOCATION) {
    return ft::NOT_SUPPORTED;
  }
  // Whether a listed device is the one asked for.
  const auto wanted = [description, flags](const Listed& listed) {
    switch (flags) {
      case ft::OPEN_BY_LOCATION:
        return !listed.port.empty() &&
               ft::LocationIdOf(listed.port) == ft::LocationOfArgument(description);
      case ft::OPEN_BY_SERIAL_NUMBER:
        return listed.serialNumber == std::string_view(description);
      default:
        return listed.description == std::string_view(description);
    }
  };

  // No context means no USB access at all: to the caller, no board.
  ftdi_context* context = fn_->newContext();
  if (context == nullptr) return ft::DEVICE_NOT_FOUND;

  bool seenButBusy = false;
  bool opened = false;
  ForEachDevice(context, [&](libusb_device* device, const Listed& listed) {
    // A device we may not read (no permission, gone again) cannot be ours to open either.
    if (!listed.readable || !wanted(listed)) return true;
    opened = fn_->openDev(context, device) == 0;
    seenButBusy = seenButBusy || !opened;
    return !opened;
  });
  if (!opened) {
    fn_->freeContext(context);
    return seenButBusy ? ft::DEVICE_NOT_OPENED : ft::DEVICE_NOT_FOUND;
  }
  context->usb_write_timeout = kUnlimitedWriteMs;
  auto device = std::make_unique<Device>(Device{context});
  *handle = device.get();
  const std::lock_guard guard(lock_);
  devices_.push_back(std::move(device));
  return ft::OK;
}

FT_STATUS FtdiLibrary::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  Device* device = Find(handle);
  if (device == nullptr) return ft::INVALID_HANDLE;
  device->readTimeoutMs = readMs;
  device->context->usb_write_timeout =
      writeMs == 0 ? kUnlimitedWriteMs : static_cast<int>(std::min<DWORD>(writeMs, INT_MAX));
  return ft::OK;
}

FT_STATUS FtdiLibrary::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  Device* device = Find(handle);
  if (device == nullptr) return ft::INVALID_HANDLE;
  switch (fn_->setLatency(device->context, ms)) {
    case 0:
      device->latencyMs = ms;
      return ft::OK;
    case -1:  // out of range
      return ft::INVALID_PARAMETER;
    default:
      return ft::IO_ERROR;
  }
}

FT_STATUS FtdiLibrary::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  Device* device = Find(handle);
  if (device == nullptr) return ft::INVALID_HANDLE;
  // The inbound size is whole 64-byte packets; an outbound size of 0 leaves it as it is.
  if (inSize < kTransferUnit || inSize > kMaxTransfer || inSize % kTransferUnit != 0 ||
      outSize > kMaxTransfer) {
    return ft::INVALID_PARAMETER;
  }
  if (fn_->setReadChunk(device->context, inSize) != 0) return ft::INSUFFICIENT_RESOURCES;
  if (outSize != 0 && fn_->setWriteChunk(device->context, outSize) != 0) return ft::IO_ERROR;
  return ft::OK;
}

FT_STATUS FtdiLibrary::FT_Purge(FT_HANDLE handle, DWORD mask) {
  Device* device = Find(handle);
  if (device == nullptr) return ft::INVALID_HANDLE;
  if ((mask & ~(ft::PURGE_RX | ft::PURGE_TX)) != 0) return ft::INVALID_PARAMETER;
  int result = 0;
  if (mask == (ft::PURGE_RX | ft::PURGE_TX)) {
    result = fn_->flushBoth(device->context);
  } else if (mask == ft::PURGE_RX) {
    result = fn_->flushIn(device->context);
  } else if (mask == ft::PURGE_TX) {
    result = fn_->flushOut(device->context);
  }
  return result == 0 ? ft::OK : ft::IO_ERROR;
}

FT_STATUS FtdiLibrary::FT_Write(FT_HANDLE handle, const void* data, DWORD count, DWORD* written) {
  Device* device = Find(handle);
  if (device == nullptr) return ft::INVALID_HANDLE;
  if (written == nullptr || (data == nullptr && count > 0) || count > INT_MAX) {
    return ft::INVALID_PARAMETER;
  }
  *written = 0;
  if (count == 0) return ft::OK;
  const int sent =
      fn_->write(device->context, static_cast<const unsigned char*>(data), static_cast<int>(count));
  if (sent < 0) return ft::IO_ERROR;
  *written = static_cast<DWORD>(sent);
  return ft::OK;
}

FT_STATUS FtdiLibrary::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  Device* device = Find(handle);
  if (device == nullptr) return ft::INVALID_HANDLE;
  if (read == nullptr || (data == nullptr && count > 0) || count > INT_MAX) {
    return ft::INVALID_PARAMETER;
  }
  // One libftdi read returns what one USB transfer brought, often nothing, so loop until the
  // count is in or the deadline has passed. Each pass waits inside libusb for the chip's next
  // packet, which comes at least every latency period, so the loop never spins.
  auto* target = static_cast<unsigned char*>(data);
  const bool timed = device->readTimeoutMs != 0;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(device->readTimeoutMs);
  DWORD got = 0;
  FT_STATUS status = ft::OK;
  while (got < count) {
    int passMs = kUntimedPassMs;
    if (timed) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      passMs = static_cast<int>(std::min<long long>(left, kUntimedPassMs));
    }
    device->context->usb_read_timeout = std::max(passMs, device->latencyMs + kPassSlackMs);
    const int n = fn_->read(device->context, target + got, static_cast<int>(count - got));
    if (n == LIBUSB_ERROR_TIMEOUT) continue;  // nothing came; the deadline decides
    if (n < 0) {
      status = ft::IO_ERROR;
      break;
    }
    got += static_cast<DWORD>(n);
  }
  *read = got;
  return status;
}

FT_STATUS FtdiLibrary::FT_Close(FT_HANDLE handle) {
  std::unique_ptr<Device> device;
  {
    const std::lock_guard guard(lock_);
    const auto it = std::find_if(devices_.begin(), devices_.end(),
                                 [handle](const auto& d) { return d.get() == handle; });
    if (it == devices_.end()) return ft::INVALID_HANDLE;
    device = std::move(*it);
    devices_.erase(it);
  }
  return Release(std::move(device));
}

FT_STATUS FtdiLibrary::Release(std::unique_ptr<Device> device) {
  const int closed = fn_->close(device->context);
  fn_->freeContext(device->context);
  return closed == 0 ? ft::OK : ft::IO_ERROR;
}

// The list is made apart, reading each device's strings, and takes the place of the last one
// whole.
FT_STATUS FtdiLibrary::FT_CreateDeviceInfoList(DWORD* count) {
  if (count == nullptr) return ft::INVALID_PARAMETER;
  std::vector<Listed> listed;
  ftdi_context* context = fn_->newContext();
  if (context != nullptr) {
    ForEachDevice(context, [&listed](libusb_device* /*device*/, const Listed& device) {
      listed.push_back(device);
      return true;
    });
    fn_->freeContext(context);
  }
  *count = static_cast<DWORD>(listed.size());
  const std::lock_guard guard(lock_);
  listed_ = std::move(listed);
  return ft::OK;
}

FT_STATUS FtdiLibrary::FT_GetDeviceInfoDetail(DWORD index, DWORD* flags, DWORD* type, DWORD* id,
                                              DWORD* locId, void* serialNumber, void* description,
                                              FT_HANDLE* handle) {
  const std::optional<Listed> found = ListedAt(index);
  if (!found) return ft::DEVICE_NOT_FOUND;
  const Listed& listed = *found;
  // Whether another process holds it cannot be known without trying to open it.
  if (flags != nullptr) *flags = 0;
  if (type != nullptr) *type = 0;
  if (id != nullptr) *id = listed.id;
  if (locId != nullptr) *locId = listed.port.empty() ? 0 : ft::LocationIdOf(listed.port);
  if (handle != nullptr) *handle = nullptr;
  ft::CopyDetail(serialNumber, ft::SERIAL_NUMBER_SIZE, listed.serialNumber);
  ft::CopyDetail(description, ft::DESCRIPTION_SIZE, listed.description);
  return ft::OK;
}

std::string FtdiLibrary::PortName(DWORD index) {
  const std::optional<Listed> listed = ListedAt(index);
  return listed ? listed->port : std::string();
}

Obstacle FtdiLibrary::OpenObstacle(DWORD index) {
  const std::optional<Listed> listed = ListedAt(index);
  if (!listed) return Obstacle::Unknown;
  // libftdi1 detaches the kernel's serial driver itself; a device whose strings it could read
  // we may open, so only another program's claim stands in the way.
  return listed->readable ? Obstacle::InUse : Obstacle::NoPermission;
}

}  // namespace qvx
