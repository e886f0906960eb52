#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/boards/board_run.h"
#include "cli/boards/choosing.h"
#include "cli/boards/context.h"

namespace qvx::cli {

// How many boards a command works on.
enum class Boards { One, Many };

// The boards a command worked on, in the order they were chosen.
struct BoardsWorked {
  std::optional<Status> refused;  // no board was touched: end with this, its reasons said
  std::vector<std::unique_ptr<BoardRun>> runs;
  std::vector<std::string> missing;  // what --expect and --serials asked for and was not there

  std::vector<const BoardResult*> Results() const;
  // The status of the boards, and of what was missing.
  Status Worst() const;
};

// Chooses the boards, opens each, does `work` on each that opened (on a thread of its own when
// there are several: no board waits for another), and closes them all; written once for every
// command. A board that does not open, or is not in update mode, is a failure, never passed
// over.
BoardsWorked WorkOnBoards(const Context& context, const BoardOptions& options, Boards boards,
                          const std::function<void(BoardRun&)>& work);

}  // namespace qvx::cli
