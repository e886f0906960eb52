#include "cli/boards/choosing.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

#include "cli/output/printable.h"

namespace qvx::cli {

namespace {

// A few times a second: a board is taken up soon after it appears, and a listing costs little.
constexpr std::chrono::milliseconds kPollInterval{250};
// How long a wait may sleep before it looks at the interrupt flag again.
constexpr std::chrono::milliseconds kInterruptCheck{50};

// What came of looking at one listing for the boards a command asked for.
struct Choice {
  std::vector<ListedDevice> boards;
  std::optional<Status> status;       // end with this, after saying the problems
  std::vector<std::string> problems;  // in words
  bool complete = true;               // false: what is missing may still be plugged in
};

Choice Found(std::vector<ListedDevice> boards, bool complete = true) {
  return {std::move(boards), std::nullopt, {}, complete};
}

// Nothing to work on: the status and why; `complete` false when waiting may still help.
Choice Refused(Status status, std::string why, bool complete) {
  return {{}, status, {std::move(why)}, complete};
}

Choice NoneFound(const Context& context, const std::vector<ListedDevice>& devices) {
  Choice choice{{}, Status::NoBoard, {"no Quorvex board found"}, false};
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
      return Refused(Status::NoBoard, "no board at port " + Printable(options.port), false);
    return Found(matching);
  }
  if (!options.serial.empty()) {
    std::ranges::copy_if(devices, std::back_inserter(matching), [&options](const ListedDevice& d) {
      return d.serialNumber == options.serial;
    });
    if (matching.empty()) {
      return Refused(Status::NoBoard,
                     "no board with serial number " + Printable(options.serial) + " is attached",
                     false);
    }
    if (matching.size() > 1) {
      return Refused(Status::Usage,
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
        Status::Usage,
        std::to_string(matching.size()) + " boards are attached; choose one with " +
            (mayTakeAll ? "--serial or --port, or take all with --all:" : "--serial or --port:") +
            PortsOf(matching),
        true);
  }
  return Found(matching);
}

}  // namespace

bool Pause(const Context& context, std::chrono::milliseconds time) {
  const auto end = std::chrono::steady_clock::now() + time;
  while (!context.interrupted && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::min(kInterruptCheck, time));
  }
  return !context.interrupted;
}

std::optional<Status> Choose(const Context& context, const BoardOptions& boards, bool mayTakeAll,
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
        return Status::NoBoard;
      }
      chosen = {ListedDevice{0, boards.serial, kBoardDescription, false, "", 0, false}};
      return std::nullopt;
    }
    Choice choice = Select(context, boards, mayTakeAll, *listing);
    const bool waiting =
        boards.wait && (forEver || std::chrono::steady_clock::now() - start < limit);
    if (!choice.complete && waiting) {
      if (!Pause(context, kPollInterval)) return Status::Interrupted;
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
