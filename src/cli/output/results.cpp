#include "cli/output/results.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/output/printable.h"
#include "cli/output/status.h"

namespace qvx::cli {

using Json = nlohmann::ordered_json;

Json SerialJson(const std::string& serial) {
  Json fields{{"serial", serial}};
  if (!IsUtf8(serial)) fields["serialHex"] = Hex(serial);
  return fields;
}

void PrintTable(std::ostream& out, const Table& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    out << line << "\n";
  }
}

std::string FailureGroup(const std::string& result, long long step) {
  const bool inStep = step > 0 && (result == "failed" || result == "differs");
  return inStep ? "Step " + std::to_string(step) : result;
}

std::string Describe(const BoardResult& board) {
  if (board.notRecorded) return Verdict(board) + ": " + board.notRecorded->Text();
  if (!board.note.empty()) return Verdict(board);
  return (board.demo ? board.result + " (demo)" : board.result) +
         (board.message.empty() ? "" : ": " + board.message);
}

nlohmann::ordered_json AfterJson(const BoardResult& board) {
  return board.after.empty() ? Json() : Json(board.after);
}

Json BoardJson(const BoardResult& r) {
  Json board = SerialJson(r.board);
  board.update({{"port", r.port},
                {"result", r.result},
                {"message", r.message},
                {"hardware", r.hardware},
                {"firmwareBefore", r.before}});
  if (r.operation == Operation::Verify) {
    board["differences"] = Json::array();
    for (const Difference& d : r.differences) {
      board["differences"].push_back({{"step", "Step " + std::to_string(d.step)},
                                      {"firstAddress", d.firstAddress},
                                      {"blocks", d.blocks}});
    }
  } else {
    board["firmwareAfter"] = AfterJson(r);
  }
  if (!r.note.empty()) board["note"] = r.note;
  if (r.notRecorded) board["notRecorded"] = r.notRecorded->Text();
  board["retries"] = r.retries;
  board["seconds"] = r.seconds;
  return board;
}

Table ResultTable(const std::vector<const BoardResult*>& results) {
  // The result last, as a failure's text is long.
  Table rows{{"SERIAL", "PORT", "FIRMWARE", "SECONDS", "RESULT"}};
  for (const BoardResult* r : results) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.1f", r->seconds);
    rows.push_back({Printable(r->board), Printable(r->port),
                    r->after.empty() ? r->before : r->before + " -> " + r->after, seconds,
                    Describe(*r)});
  }
  return rows;
}

}  // namespace qvx::cli
