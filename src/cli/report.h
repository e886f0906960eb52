#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/board_run.h"
#include "cli/context.h"

namespace qvx::cli {

using Table = std::vector<std::vector<std::string>>;

// Columns as wide as their widest cell; the last one is not padded.
void PrintTable(std::ostream& out, const Table& rows);

// The worst that happened, as one status: an interrupt, then a failure, then a board that
// could not be used.
int Combined(const std::vector<const BoardReport*>& reports);

// What a board that did not pass is counted under: "Step 2" for a failure in a step, else its
// result ("not in update mode", "unplugged", ...).
std::string FailureGroup(const std::string& result, long long step);

// "failed: Step 1 - Device verify error! ...", "up to date".
std::string Describe(const BoardReport& report);

// {"serial": ...}, and beside it "serialHex", the bytes themselves, when they are not UTF-8 (the
// document then shows each bad byte of "serial" as U+FFFD).
nlohmann::ordered_json SerialJson(const std::string& serial);

// What came of the boards of a flash or verify: a table on standard output, or with --json the
// document's fields.
void ReportBoards(const Context& context, const std::vector<const BoardReport*>& reports);

}  // namespace qvx::cli
