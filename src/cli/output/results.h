#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/output/board_result.h"

namespace qvx::cli {

using Table = std::vector<std::vector<std::string>>;

// Columns as wide as their widest cell; the last one is not padded.
void PrintTable(std::ostream& out, const Table& rows);

// What a board that did not pass is counted under: "Step 2" for a failure in a step, else its
// result ("not in update mode", "unplugged", ...).
std::string FailureGroup(const std::string& result, long long step);

// "failed: Step 1 - Device verify error! ...", "up to date", "ok, but no answer after the update".
std::string Describe(const BoardResult& board);
// The firmware the board answered after an update, or null when it gave none.
nlohmann::ordered_json AfterJson(const BoardResult& board);

// {"serial": ...}, and beside it "serialHex", the bytes themselves, when they are not UTF-8 (the
// document then shows each bad byte of "serial" as U+FFFD).
nlohmann::ordered_json SerialJson(const std::string& serial);

// A board's entry in a document's "boards".
nlohmann::ordered_json BoardJson(const BoardResult& r);
// What came of the boards, a row each: serial number, port, firmware, seconds, result.
Table ResultTable(const std::vector<const BoardResult*>& results);

}  // namespace qvx::cli
