// quorvex report: the yield of each image, from the record files that stations append to, one
// JSON object a line.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/printable.h"
#include "cli/report.h"
#include "image/file_io.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::uintmax_t kMaxFileBytes = 256 << 20;
constexpr int kWarningsPerFile = 3;  // then only how many more

// One image's boards, as the records tell them.
struct Yield {
  std::string sha256;
  std::string version;
  std::string source;
  long long boards = 0;
  long long passed = 0;
  Json failed = Json::object();  // "Step 1" or the result: how many, in order of first appearance
  std::vector<double> seconds;   // of the boards that passed
};

struct Tally {
  std::vector<Yield> images;
  long long lines = 0;
  long long badLines = 0;
};

std::string Text(const Json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Counts one line; why it is not a record, or nothing.
std::optional<std::string> Count(Tally& tally, std::string_view line) {
  const Json record = Json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (record.is_discarded()) return "not valid JSON";
  if (!record.is_object()) return "not an object";
  const auto schema = record.find("schema");
  if (schema == record.end() || !schema->is_number_integer() || *schema != 1) {
    return "schema is not 1";
  }
  const std::string command = Text(record, "command");
  if (command.empty()) return "no command";
  // info and dump update nothing.
  if (command != "flash" && command != "verify" && command != "watch") return std::nullopt;
  const std::string result = Text(record, "result");
  if (result.empty()) return "no result";
  const Json image = record.value("image", Json());
  std::string sha256 = Text(image, "sha256");
  if (sha256.size() != 64 ||
      !std::ranges::all_of(sha256, [](unsigned char c) { return std::isxdigit(c) != 0; })) {
    return "no image sha256";
  }
  std::ranges::transform(sha256, sha256.begin(),
                         [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto yield = std::ranges::find(tally.images, sha256, &Yield::sha256);
  if (yield == tally.images.end()) {
    yield = tally.images.insert(tally.images.end(), Yield{});
    yield->sha256 = sha256;
    yield->version = Text(image, "version");
    yield->source = Text(image, "source");
  }
  ++yield->boards;
  if (result == "ok" || result == "up to date") {
    ++yield->passed;
    const auto seconds = record.find("seconds");
    if (seconds != record.end() && seconds->is_number() && *seconds >= 0) {
      yield->seconds.push_back(seconds->get<double>());
    }
    return std::nullopt;
  }
  // Any other result, known or not, is a failure.
  const auto step = record.find("step");
  const std::string group = FailureGroup(
      result, step != record.end() && step->is_number_integer() ? step->get<long long>() : 0);
  yield->failed[group] = yield->failed.value(group, 0LL) + 1;
  return std::nullopt;
}

// Counts every line of one file, and warns of the first few that are not records.
void CountFile(const Context& context, const std::string& name, std::string_view text,
               Tally& tally) {
  long long bad = 0;
  long long number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    const bool torn = end == text.size();  // a station still writing, or one cut off
    start = end + 1;
    ++number;
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
    ++tally.lines;
    const auto why = Count(tally, line);
    if (!why) continue;
    ++tally.badLines;
    if (++bad <= kWarningsPerFile) {
      context.err.Write("quorvex: " + name + ":" + std::to_string(number) + ": not a record (" +
                        (torn && *why == "not valid JSON" ? "cut short" : *why) + ")\n");
    }
  }
  if (bad > kWarningsPerFile) {
    context.err.Write("quorvex: " + name + ": " + std::to_string(bad) +
                      " lines that are not records in all\n");
  }
}

std::optional<double> Median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::ranges::sort(values);
  const std::size_t half = values.size() / 2;
  return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// Rounded down, so that 100.0 % means every board passed.
std::string Percent(long long part, long long whole) {
  const long long tenths = part * 1000 / whole;
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " %";
}

void Print(std::ostream& out, const Yield& yield) {
  const auto shown = [](const std::string& text) { return text.empty() ? "-" : Printable(text); };
  out << "IMAGE " << shown(yield.version) << "  sha256 " << yield.sha256.substr(0, 8) << "..."
      << yield.sha256.substr(60) << "  source " << shown(yield.source) << "\n";
  Table rows{{"  boards", std::to_string(yield.boards)},
             {"  passed",
              std::to_string(yield.passed) + "  (" + Percent(yield.passed, yield.boards) + ")"},
             {"  failed", std::to_string(yield.boards - yield.passed)}};
  for (const auto& [group, count] : yield.failed.items()) {
    rows.push_back({"    " + Printable(group), std::to_string(count.get<long long>())});
  }
  char median[32] = "-";
  if (const auto seconds = Median(yield.seconds)) {
    std::snprintf(median, sizeof median, "%.1f s", *seconds);
  }
  rows.push_back({"  median", median});
  PrintTable(out, rows);
}

int Report(const Context& context, const std::vector<std::string>& files) {
  int status = kSucceeded;
  Tally tally;
  for (const std::string& file : files) {
    std::vector<std::uint8_t> bytes;
    const auto problem = ReadWholeFile(PathFromUtf8(file), bytes, [](std::uintmax_t size) {
      return size > kMaxFileBytes ? std::optional<std::string>("larger than 256 MiB")
                                  : std::nullopt;
    });
    if (problem) {
      context.Error(problem->Text());
      status = kUsage;
      continue;
    }
    CountFile(context, file, {reinterpret_cast<const char*>(bytes.data()), bytes.size()}, tally);
  }
  if (!context.options.json) {
    for (const Yield& yield : tally.images) {
      if (&yield != &tally.images.front()) context.out << "\n";
      Print(context.out, yield);
    }
    return status;
  }
  Json images = Json::array();
  for (const Yield& yield : tally.images) {
    const auto median = Median(yield.seconds);
    images.push_back({{"sha256", yield.sha256},
                      {"version", yield.version},
                      {"source", yield.source},
                      {"boards", yield.boards},
                      {"passed", yield.passed},
                      {"failed", yield.failed},
                      {"medianSeconds", median ? Json(*median) : Json(nullptr)}});
  }
  context.document["images"] = images;
  context.document["lines"] = tally.lines;
  context.document["badLines"] = tally.badLines;
  return status;
}

}  // namespace

Command AddReport(CLI::App& app) {
  auto files = std::make_shared<std::vector<std::string>>();
  CLI::App* report = app.add_subcommand(
      "report", "The yield of each image from record files: boards, passed, failures by step");
  report->add_option("FILE", *files, "Record files, one JSON object a line")
      ->required()
      ->check(kNotEmpty);
  return {report, nullptr, nullptr, nullptr, [files](Context& c) { return Report(c, *files); }};
}

}  // namespace qvx::cli
