#include "cli/boards/listing.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <tuple>

#include "cli/output/printable.h"

namespace qvx::cli {

std::string DeviceName(const ListedDevice& device) {
  if (!device.serialNumber.empty()) return BoardName(device.serialNumber, device.port);
  return device.port.empty() ? "FTDI device" : "FTDI device at " + Printable(device.port);
}

Listing ListDevices(D2xx& driver) {
  DWORD count = 0;
  if (driver.FT_CreateDeviceInfoList(&count) != ft::OK) return std::nullopt;
  std::vector<ListedDevice> devices;
  for (DWORD i = 0; i < count; ++i) {
    DWORD flags = 0;
    DWORD type = 0;
    DWORD id = 0;
    DWORD locId = 0;
    FT_HANDLE handle = nullptr;
    std::array<char, ft::SERIAL_NUMBER_SIZE> serial{};
    std::array<char, ft::DESCRIPTION_SIZE> description{};
    if (driver.FT_GetDeviceInfoDetail(i, &flags, &type, &id, &locId, serial.data(),
                                      description.data(), &handle) != ft::OK) {
      continue;  // gone since the list was taken
    }
    // The buffers' last bytes are the driver's to fill; make sure they end.
    serial.back() = '\0';
    description.back() = '\0';
    ListedDevice device{i,
                        serial.data(),
                        description.data(),
                        (flags & ft::FLAGS_OPENED) != 0,
                        driver.PortName(i),
                        locId};
    if (device.IsBoard() || device.description.empty()) devices.push_back(device);
  }
  // So that the rack's boards list the same whichever driver found them.
  std::ranges::sort(devices, [](const ListedDevice& a, const ListedDevice& b) {
    return std::tie(a.serialNumber, a.port) < std::tie(b.serialNumber, b.port);
  });
  for (ListedDevice& device : devices) {
    device.serialShared =
        !device.serialNumber.empty() &&
        std::ranges::count(devices, device.serialNumber, &ListedDevice::serialNumber) > 1;
  }
  return devices;
}

std::string OpenAdvice(D2xx& driver, const ListedDevice& device) {
  switch (device.inUse ? Obstacle::InUse : driver.OpenObstacle(device.index)) {
    case Obstacle::NoPermission:
      return "no permission to use it: install the udev rule 70-quorvex-updater.rules, then "
             "unplug and replug the board";
    case Obstacle::InUse:
      return "in use by another program: close that program, then try again";
    case Obstacle::KernelDriver:
      return "held by the kernel's ftdi_sio driver, which the D2XX library cannot take over: "
             "unload it with \"sudo modprobe -r ftdi_sio\"";
    case Obstacle::Unknown:
      break;
  }
  return "could not be opened";
}

std::string WhyNotOpened(D2xx& driver, const Listing& listing, const std::string& serialNumber,
                         const Outcome& opened) {
  if (opened.cause() == Outcome::Cause::NotInUpdateMode) {
    return opened.Text() + " (" + std::string(text::kUpdateModeAdvice) + ")";
  }
  if (opened.cause() == Outcome::Cause::LinkFailed) {
    return "did not answer \"SI\": " + opened.call()->Text();
  }
  // The device opened, so no advice on opening it applies: the call that failed says it all.
  if (opened.call() && opened.call()->call != "FT_OpenEx") {
    return "could not be set up (" + opened.call()->Text() + ")";
  }
  for (const ListedDevice& device : listing.value_or(std::vector<ListedDevice>{})) {
    if (!serialNumber.empty() && device.serialNumber == serialNumber) {
      return "could not be opened: " + OpenAdvice(driver, device);
    }
  }
  if (!opened.call() || opened.call()->status != ft::DEVICE_NOT_FOUND) {
    return "could not be opened" + (opened.call() ? " (" + opened.call()->Text() + ")" : "");
  }
  return serialNumber.empty()
             ? "no Quorvex board found"
             : "no board with serial number " + Printable(serialNumber) + " is attached";
}

}  // namespace qvx::cli
