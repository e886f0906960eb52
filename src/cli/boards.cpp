#include "cli/boards.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <thread>

#include "cli/exit_status.h"
#include "cli/printable.h"

namespace qvx::cli {

namespace {

// A few times a second: a board is taken up soon after it appears, and a listing costs little.
constexpr std::chrono::milliseconds kPollInterval{250};
// How long a wait may sleep before it looks at the interrupt flag again.
constexpr std::chrono::milliseconds kInterruptCheck{50};

// What came of looking at one listing for the boards a command asked for.
struct Choice {
  std::vector<ListedDevice> boards;
  std::optional<int> status;          // end with this, after saying the problems
  std::vector<std::string> problems;  // in words
  bool complete = true;               // false: what is missing may still be plugged in
};

Choice Found(std::vector<ListedDevice> boards, bool complete = true) {
  return {std::move(boards), std::nullopt, {}, complete};
}

// Nothing to work on: the status and why; `complete` false when waiting may still help.
Choice Refused(int status, std::string why, bool complete) {
  return {{}, status, {std::move(why)}, complete};
}

Choice NoneFound(const Context& context, const std::vector<ListedDevice>& devices) {
  Choice choice{{}, kNoBoard, {"no Quorvex board found"}, false};
  for (const ListedDevice& device : devices) {
    choice.problems.push_back(DeviceName(device) +
                              " could not be opened: " + OpenAdvice(context.driver, device));
  }
  return choice;
}

std::string PortsOf(const std::vector<ListedDevice>& devices) {
  std::string text;
  for (const ListedDevice& d : devices) text += "\n  " + BoardName(d.serialNumber, d.port);
  return text;
}

Choice Select(const Context& context, const BoardOptions& options, bool mayTakeAll,
              const std::vector<ListedDevice>& devices) {
  std::vector<ListedDevice> matching;
  if (!options.port.empty()) {
    std::ranges::copy_if(devices, std::back_inserter(matching),
                         [&options](const ListedDevice& d) { return d.port == options.port; });
    if (matching.empty())
      return Refused(kNoBoard, "no board at port " + Printable(options.port), false);
    return Found(matching);
  }
  if (!options.serial.empty()) {
    std::ranges::copy_if(devices, std::back_inserter(matching), [&options](const ListedDevice& d) {
      return d.serialNumber == options.serial;
    });
    if (matching.empty()) {
      return Refused(kNoBoard,
                     "no board with serial number " + Printable(options.serial) + " is attached",
                     false);
    }
    if (matching.size() > 1) {
      return Refused(kUsage,
                     std::to_string(matching.size()) + " boards have serial number " +
                         Printable(options.serial) +
                         "; choose one with --port:" + PortsOf(matching),
                     true);
    }
    return Found(matching);
  }
  std::ranges::copy_if(devices, std::back_inserter(matching), &ListedDevice::IsBoard);
  if (matching.empty()) return NoneFound(context, devices);
  if (mayTakeAll && options.all) {
    return Found(matching, Shortfall(options, matching).empty());
  }
  if (matching.size() > 1) {
    return Refused(
        kUsage,
        std::to_string(matching.size()) + " boards are attached; choose one with " +
            (mayTakeAll ? "--serial or --port, or take all with --all:" : "--serial or --port:") +
            PortsOf(matching),
        true);
  }
  return Found(matching);
}

}  // namespace

std::string BoardName(const std::string& serialNumber, const std::string& port) {
  std::string name =
      serialNumber.empty() ? "a board without serial number" : Printable(serialNumber);
  return port.empty() ? name : name + " at " + Printable(port);
}

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
  if (opened.cause == Outcome::Cause::NotInUpdateMode) {
    return opened.Text() + " (" + std::string(text::kUpdateModeAdvice) + ")";
  }
  // The device opened, so no advice on opening it applies: the call that failed says it all.
  if (opened.call && opened.call->call != "FT_OpenEx") {
    return "could not be set up (" + opened.call->Text() + ")";
  }
  for (const ListedDevice& device : listing.value_or(std::vector<ListedDevice>{})) {
    if (!serialNumber.empty() && device.serialNumber == serialNumber) {
      return "could not be opened: " + OpenAdvice(driver, device);
    }
  }
  if (!opened.call || opened.call->status != ft::DEVICE_NOT_FOUND) {
    return "could not be opened" + (opened.call ? " (" + opened.call->Text() + ")" : "");
  }
  return serialNumber.empty()
             ? "no Quorvex board found"
             : "no board with serial number " + Printable(serialNumber) + " is attached";
}

bool Pause(const Context& context, std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  while (!context.interrupted && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::min(kInterruptCheck, time));
  }
  return !context.interrupted;
}

std::optional<int> Choose(const Context& context, const BoardOptions& boards, bool mayTakeAll,
                          Listing& listing, std::vector<ListedDevice>& chosen) {
  const auto start = std::chrono::steady_clock::now();
  const bool forEver = boards.wait && boards.wait->empty();
  const auto limit = std::chrono::duration<double>(
      boards.wait && !forEver ? std::strtod(boards.wait->c_str(), nullptr) : 0.0);
  for (;;) {
    listing = ListDevices(context.driver);
    if (!listing) {
      // Nothing to wait on: the open says whether the board is there.
      if (!boards.port.empty()) {
        context.Error("the driver cannot list devices, so no board can be chosen by its port");
        return kNoBoard;
      }
      chosen = {ListedDevice{0, boards.serial, kBoardDescription, false, "", 0}};
      return std::nullopt;
    }
    Choice choice = Select(context, boards, mayTakeAll, *listing);
    const bool waiting =
        boards.wait && (forEver || std::chrono::steady_clock::now() - start < limit);
    if (!choice.complete && waiting) {
      if (!Pause(context, kPollInterval)) return kInterrupted;
      continue;
    }
    for (const std::string& problem : choice.problems) context.Error(problem);
    if (choice.status) return choice.status;
    chosen = std::move(choice.boards);
    return std::nullopt;
  }
}

std::vector<std::string> Shortfall(const BoardOptions& boards,
                                   const std::vector<ListedDevice>& chosen) {
  std::vector<std::string> missing;
  if (chosen.size() < boards.expect) {
    missing.push_back(std::to_string(boards.expect) + " boards expected, " +
                      std::to_string(chosen.size()) + " found");
  }
  for (const std::string& serial : boards.serials) {
    if (std::ranges::none_of(
            chosen, [&serial](const ListedDevice& d) { return d.serialNumber == serial; })) {
      missing.push_back("board " + Printable(serial) + " is missing");
    }
  }
  return missing;
}

}  // namespace qvx::cli
