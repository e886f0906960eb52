#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/context.h"

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
void AddBoardOptions(CLI::App* command, BoardOptions& boards, bool mayTakeAll);
void AddImageOption(CLI::App* command, std::string& image);
void AddRecordOption(CLI::App* command, std::string& record);
struct FlashPolicy;
// --if-needed and --allow-older, for every command that writes boards.
void AddFlashPolicyOptions(CLI::App* command, FlashPolicy& policy);
// Refuses an empty value, which would otherwise read as "not given".
extern const CLI::Validator kNotEmpty;

// One subcommand: its parser, with its own options, and what runs it once it is chosen.
struct Command {
  CLI::App* parser;
  const std::string* image;   // its --image FILE; null for a command that takes none
  const std::string* output;  // the file it writes; null for a command that writes none
  const std::string* record;  // its --record FILE; null for a command that takes none
  std::function<int(Context&)> run;
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
