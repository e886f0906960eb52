#pragma once

#include <cstddef>

#include "app/board_session.h"
#include "cli/boards/context.h"
#include "cli/output/status.h"

namespace qvx::cli {

struct StationOptions {
  std::size_t count = 0;  // 0: until interrupted
  UpdatePolicy policy;
};

// The station: every board that is plugged in is flashed, asked its version again and checked,
// on its own thread, once per plug-in; its line shows the result until the board is pulled out.
// Ends with a table of the boards and a summary.
Status RunStation(const Context& context, const StationOptions& options);

}  // namespace qvx::cli
