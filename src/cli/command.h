#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "cli/context.h"

namespace qvx::cli {

// Which boards a command works on.
struct BoardOptions {
  std::string serial;  // --serial: the one board to work on
  bool all = false;    // --all: every board in update mode
};
void AddBoardOptions(CLI::App* command, BoardOptions& boards, bool mayTakeAll);
void AddImageOption(CLI::App* command, std::string& image);
// Refuses an empty value, which would otherwise read as "not given".
extern const CLI::Validator kNotEmpty;

// One subcommand: its parser, with its own options, and what runs it once it is chosen.
struct Command {
  CLI::App* parser;
  const std::string* image;   // its --image FILE; null for a command that takes none
  const std::string* output;  // the file it writes; null for a command that writes none
  std::function<int(Context&)> run;
};

// Each adds its subcommand to the program's parser.
Command AddList(CLI::App& app);
Command AddInfo(CLI::App& app);
Command AddFlash(CLI::App& app);
Command AddVerify(CLI::App& app);
Command AddDump(CLI::App& app);
Command AddReport(CLI::App& app);

}  // namespace qvx::cli
