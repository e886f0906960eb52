#pragma once

#include <CLI/CLI.hpp>
#include <array>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "cli/boards/context.h"
#include "cli/commands/command.h"
#include "cli/output/errors.h"
#include "cli/output/status.h"

namespace qvx::cli {

// The program's arguments: every command with its options, the global ones, the help.
class Parser {
 public:
  explicit Parser(GlobalOptions& options);
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // The command the arguments choose, its options set; or the status to end with, once the
  // help or version is shown (with --json, into the document's "help") or the usage error said.
  std::variant<const Command*, Status> Parse(std::vector<std::string> args, std::ostream& out,
                                             ErrorChannel& errors,
                                             nlohmann::ordered_json& document);
  // The chosen command's name, once one could be read.
  const std::string& CommandName() const { return chosen_; }

 private:
  void AddGlobalOptions(CLI::App& app);

  GlobalOptions& options_;
  CLI::App app_;
  std::vector<Command> commands_;
  std::string chosen_;
};

}  // namespace qvx::cli
