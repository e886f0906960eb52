#pragma once

#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>

#include "app/board_session.h"
#include "cli/boards/choosing.h"
#include "cli/output/records.h"

// The option groups the commands share, each added to a command's parser in one call.
namespace qvx::cli {

void AddBoardOptions(CLI::App* command, BoardOptions& boards, bool mayTakeAll);

// The image a command takes: --image FILE, and for the commands that write boards the SHA-256
// its plain bytes must have.
struct ImageOptions {
  std::string file;
  std::string sha256;
};
void AddImageOption(CLI::App* command, ImageOptions& image, bool mayPin);

// Where each board's record goes, and what a line writes into it.
struct RecordOptions {
  std::string file;  // --record FILE
  std::string hook;  // --on-result CMD
  LineFields fields;
};
void AddRecordOptions(CLI::App* command, RecordOptions& record);

// --hardware, --if-needed, --allow-older and --require-version, for every command that writes
// boards.
void AddUpdatePolicyOptions(CLI::App* command, UpdatePolicy& policy);
// Refuses an empty value, which would otherwise read as "not given".
extern const CLI::Validator kNotEmpty;

// Turns a decimal whole number from `low` to `high` into the option's value, or says which
// numbers it takes: no sign, no base, no overflow.
void ParseCount(const std::string& name, const std::string& text, std::size_t& value,
                std::size_t low, std::size_t high);
CLI::Option* AddCount(CLI::App* command, const std::string& name, std::size_t& value,
                      std::size_t low, std::size_t high, const std::string& description);

}  // namespace qvx::cli
