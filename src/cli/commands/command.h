#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/board_session.h"
#include "cli/boards/context.h"
#include "cli/commands/options.h"
#include "cli/output/status.h"

namespace qvx::cli {

// One subcommand: its parser, with its own options, and what runs it once it is chosen.
struct Command {
  CLI::App* parser;
  const ImageOptions* image;    // null for a command that takes none
  const std::string* output;    // the file it writes; null for a command that writes none
  const RecordOptions* record;  // null for a command that takes none
  std::function<Status(Context&)> run;
};

// Each adds its subcommand to the program's parser.
Command AddList(CLI::App& app);
Command AddInfo(CLI::App& app);
Command AddFlash(CLI::App& app);
Command AddVerify(CLI::App& app);
Command AddDump(CLI::App& app);
Command AddWatch(CLI::App& app);
Command AddReport(CLI::App& app);

}  // namespace qvx::cli
