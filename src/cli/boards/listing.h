#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "link/d2xx.h"

namespace qvx::cli {

inline constexpr char kBoardDescription[] = "Quorvex";

// A device of the driver's list that may be a board: described as one, or a device whose
// description could not be read.
struct ListedDevice {
  DWORD index = 0;  // in the driver's list
  std::string serialNumber;
  std::string description;    // empty when it could not be read
  bool inUse = false;         // some process holds it open
  std::string port;           // where it is plugged in, "1-1.4"; empty when the driver cannot say
  DWORD location = 0;         // opens it whatever its serial number; 0 for none
  bool serialShared = false;  // another listed device has the same serial number

  bool IsBoard() const { return description == kBoardDescription; }
};

// "QVX00002 at 1-1.2", "FTDI device at 1-1.3": a device that may not be a board.
std::string DeviceName(const ListedDevice& device);

// Every such device; nothing when the driver cannot enumerate, and then the one board is
// opened by its description.
using Listing = std::optional<std::vector<ListedDevice>>;
Listing ListDevices(D2xx& driver);

// Why the device could not be opened, in words, and what to do about it.
std::string OpenAdvice(D2xx& driver, const ListedDevice& device);

// Why the board with that serial number ("" for the one by its description) did not open as
// `opened` says: the listed device's advice, or that no such board is attached.
std::string WhyNotOpened(D2xx& driver, const Listing& listing, const std::string& serialNumber,
                         const Outcome& opened);

}  // namespace qvx::cli
