#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cli/boards/context.h"
#include "cli/boards/listing.h"
#include "cli/output/status.h"

namespace qvx::cli {

// Which boards a command works on.
struct BoardOptions {
  std::string serial;  // --serial: the one board to work on
  std::string port;    // --port: the one board plugged in there
  bool all = false;    // --all: every board
  // --wait[=SECONDS]: wait for the boards to appear; "" without a limit.
  std::optional<std::string> wait;
  std::size_t expect = 0;            // --expect N: with --all, fewer boards is a failure
  std::vector<std::string> serials;  // --serials: with --all, each of these must be there
};
// The boards a command is to work on (without a device list, the one by its description or the
// serial number given), waiting for them with --wait; or the status to end with when it must
// touch none. With --all, boards short of --expect or --serials are said by Shortfall.
std::optional<Status> Choose(const Context& context, const BoardOptions& boards, bool mayTakeAll,
                             Listing& listing, std::vector<ListedDevice>& chosen);

// What --expect and --serials ask for that the chosen boards lack, in words; empty when nothing.
std::vector<std::string> Shortfall(const BoardOptions& boards,
                                   const std::vector<ListedDevice>& chosen);

// Sleeps for about that long, or less when interrupted; false when interrupted.
bool Pause(const Context& context, std::chrono::milliseconds time);

}  // namespace qvx::cli
