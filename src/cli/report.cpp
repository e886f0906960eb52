#include "cli/report.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "cli/printable.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

Json ToJson(const BoardReport& r) {
  Json board = SerialJson(r.board);
  board.update({{"port", r.port},
                {"result", ResultText(r)},
                {"message", r.message},
                {"hardware", r.hardware},
                {"firmwareBefore", r.before}});
  if (r.operation == Operation::Verify) {
    board["differences"] = Json::array();
    for (const Difference& d : r.outcome ? r.outcome->differences : std::vector<Difference>{}) {
      board["differences"].push_back({{"step", "Step " + std::to_string(d.step)},
                                      {"firstAddress", d.firstAddress},
                                      {"blocks", d.blocks}});
    }
  } else {
    board["firmwareAfter"] = r.after;
  }
  board["retries"] = r.retries;
  board["seconds"] = r.seconds;
  return board;
}

}  // namespace

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

int Combined(const std::vector<const BoardReport*>& reports) {
  for (const int worst : {kInterrupted, kFailed, kNoBoard}) {
    if (std::ranges::any_of(reports,
                            [worst](const BoardReport* r) { return ExitStatus(*r) == worst; })) {
      return worst;
    }
  }
  return kSucceeded;
}

std::string FailureGroup(const std::string& result, long long step) {
  const bool inStep = step > 0 && (result == "failed" || result == "differs");
  return inStep ? "Step " + std::to_string(step) : result;
}

std::string Describe(const BoardReport& report) {
  return ResultText(report) + (report.message.empty() ? "" : ": " + report.message);
}

void ReportBoards(const Context& context, const std::vector<const BoardReport*>& reports) {
  if (context.options.json) {
    // Without a table, each board that did not succeed is also an error line.
    for (const BoardReport* r : reports) {
      if (ExitStatus(*r) != kSucceeded)
        context.Error(BoardName(r->board, r->port) + ": " + Describe(*r));
    }
    context.document["image"] = context.imageInfo.version;
    context.document["boards"] = Json::array();
    for (const BoardReport* r : reports) context.document["boards"].push_back(ToJson(*r));
    return;
  }
  // The result last, as a failure's text is long.
  Table rows{{"SERIAL", "PORT", "FIRMWARE", "SECONDS", "RESULT"}};
  for (const BoardReport* r : reports) {
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.1f", r->seconds);
    rows.push_back({Printable(r->board), Printable(r->port),
                    r->after.empty() ? r->before : r->before + " -> " + r->after, seconds,
                    Describe(*r)});
  }
  PrintTable(context.out, rows);
}

}  // namespace qvx::cli
