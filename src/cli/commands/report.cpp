// quorvex report: the yield of each image, from the record files that stations append to, one
// JSON object a line.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <tuple>
#include <unordered_set>

#include "cli/commands/command.h"
#include "cli/commands/options.h"
#include "cli/output/printable.h"
#include "cli/output/record_reader.h"
#include "cli/output/results.h"
#include "cli/output/status.h"
#include "cli/output/yield.h"
#include "image/file_io.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kWarningsPerFile = 3;  // then only how many more
constexpr std::size_t kColumns = 80;
constexpr std::size_t kMostMaxLine = std::size_t{1} << 30;

struct ReportOptions {
  std::vector<std::string> files;
  std::size_t maxLine = 65536;
  std::string since;
  std::string until;
  std::string image;  // a SHA-256 prefix, or a version
  std::string host;
  std::string lot;
  std::string workOrder;
  std::string operatorName;
};

// Which records a run counts.
class Filters {
 public:
  explicit Filters(const ReportOptions& o)
      : since_(ParseUtc(o.since)), until_(ParseUtc(o.until)), options_(o) {
    std::ranges::transform(options_.image, options_.image.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }

  bool Pass(const Record& record) const {
    const auto same = [](const std::string& wanted, const std::string& field) {
      return wanted.empty() || wanted == field;
    };
    const bool version = options_.image.find('.') != std::string::npos;
    return (!since_ || record.time >= *since_) && (!until_ || record.time < *until_) &&
           (version ? options_.image == record.version
                    : record.sha256.starts_with(options_.image)) &&
           same(options_.host, record.host) && same(options_.lot, record.lot) &&
           same(options_.workOrder, record.workOrder) &&
           same(options_.operatorName, record.operatorName);
  }

 private:
  std::optional<Moment> since_;
  std::optional<Moment> until_;
  ReportOptions options_;
};

// What came of the lines, beside the boards.
struct LineCounts {
  long long counted = 0;
  long long duplicates = 0;
  long long outside = 0;  // of the filters
  long long notRecords = 0;
};

class Reading {
 public:
  Reading(const Context& context, const ReportOptions& options)
      : context_(context), filters_(options), maxLine_(options.maxLine) {}

  // Counts the records of one stream; false when it could not be read to its end.
  bool Read(const std::string& name, std::istream& in) {
    LineReader reader(in, maxLine_);
    long long bad = 0;
    for (;;) {
      std::string why;
      switch (reader.Next()) {
        case LineReader::Got::End:
          Summarize(name, bad);
          return true;
        case LineReader::Got::Failed:
          Summarize(name, bad);
          return false;
        case LineReader::Got::TooLong:
          why = "longer than " + std::to_string(maxLine_) + " bytes";
          break;
        case LineReader::Got::CutShort:
          why = "cut short";
          break;
        case LineReader::Got::Line:
          why = Count(reader.Line());
          break;
      }
      if (why.empty()) continue;
      ++counts_.notRecords;
      if (++bad <= kWarningsPerFile) {
        std::string warning = name + ":" + std::to_string(reader.Number());
        warning += ": not a record (" + why + ")";
        context_.errors.Say(warning);
      }
    }
  }

  const LineCounts& Counts() const { return counts_; }
  const Yield& Boards() const { return yield_; }

 private:
  // Why the line is not a record, or nothing.
  std::string Count(std::string_view line) {
    if (line.find_first_not_of(" \t\r") == std::string_view::npos) return {};
    auto parsed = ParseRecord(line);
    if (const auto* why = std::get_if<std::string>(&parsed)) return *why;
    const Record& record = std::get<Record>(parsed);
    if (!Counted(record.command)) return {};
    if (!filters_.Pass(record)) {
      ++counts_.outside;
    } else if (!seen_.insert(record.key).second) {
      ++counts_.duplicates;
    } else {
      ++counts_.counted;
      yield_.Add(record);
    }
    return {};
  }

  void Summarize(const std::string& name, long long bad) {
    if (bad > kWarningsPerFile) {
      context_.errors.Say(name + ": " + std::to_string(bad) + " lines that are not records in all");
    }
  }

  const Context& context_;
  const Filters filters_;
  const std::size_t maxLine_;
  Yield yield_;
  std::unordered_set<RecordKey, RecordKeyHash> seen_;
  LineCounts counts_;
};

// At most that many columns, as a terminal shows UTF-8.
std::string Fit(const std::string& text, std::size_t columns) {
  std::size_t shown = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++shown > columns) {
      std::size_t cut = i;
      for (int drop = 0; drop < 3; ++drop) {
        do --cut;
        while ((static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80);
      }
      return text.substr(0, cut) + "...";
    }
  }
  return text;
}

// In tenths, rounded down, so that 100.0 % means every board.
long long Tenths(long long part, long long whole) {
  return part * 1000 / whole;
}

std::string Percent(long long part, long long whole) {
  const long long tenths = Tenths(part, whole);
  return std::to_string(part) + "  (" + std::to_string(tenths / 10) + "." +
         std::to_string(tenths % 10) + " %)";
}

void PrintImage(std::ostream& out, const ImageYield& y, bool demo) {
  const std::string head = std::string(demo ? "DEMO IMAGE " : "IMAGE ") +
                           Fit(Printable(y.version.empty() ? "-" : y.version), 16) + "  sha256 " +
                           y.sha256.substr(0, 12) + "  source ";
  out << head << Fit(Printable(y.source.empty() ? "-" : y.source), kColumns - head.size()) << "\n";
  Table rows{{"  boards", std::to_string(y.boards)}};
  if (y.withoutSerial > 0) {
    rows.push_back({"    without a serial",
                    std::to_string(y.withoutSerial) + "  (blank or shared: a board each)"});
  }
  rows.push_back({"  first-pass yield", Percent(y.firstPass, y.boards)});
  rows.push_back({"  final yield", Percent(y.passed, y.boards)});
  if (y.unconfirmed > 0) rows.push_back({"    unconfirmed", std::to_string(y.unconfirmed)});
  char attempts[64];
  std::snprintf(attempts, sizeof attempts, "%.2f mean, %lld most",
                static_cast<double>(y.attempts) / static_cast<double>(y.boards), y.mostAttempts);
  rows.push_back({"  attempts per board", attempts});
  const auto causes = [&rows](const char* title, const Causes& causes) {
    long long all = 0;
    for (const auto& [cause, count] : causes) all += count;
    if (all == 0) return;
    rows.push_back({title, std::to_string(all)});
    for (const auto& [cause, count] : causes) {
      rows.push_back({"    " + Fit(Printable(cause), 40), std::to_string(count)});
    }
  };
  causes("  failed at the last attempt", y.failedLast);
  causes("  failed attempts", y.failedAttempts);
  PrintTable(out, rows);
}

void PrintText(std::ostream& out, const LineCounts& counts, const std::vector<ImageYield>& images,
               const std::vector<ImageYield>& demos) {
  if (counts.counted == 0) {
    out << "No records.\n";
  } else {
    out << "RECORDS\n";
  }
  Table rows;
  if (counts.counted > 0) rows.push_back({"  counted", std::to_string(counts.counted)});
  if (counts.duplicates > 0) {
    rows.push_back({"  duplicates", std::to_string(counts.duplicates) + "  (counted once)"});
  }
  if (counts.outside > 0) rows.push_back({"  outside the filters", std::to_string(counts.outside)});
  if (counts.notRecords > 0) {
    rows.push_back({"  not records", std::to_string(counts.notRecords)});
  }
  PrintTable(out, rows);
  if (counts.counted > 0 && images.empty() && demos.empty()) {
    out << "No boards: no record of flash or watch.\n";
  }
  for (const ImageYield& image : images) {
    out << "\n";
    PrintImage(out, image, false);
  }
  if (demos.empty()) return;
  out << "\nDEMO: demonstration boards, counted apart from the others\n";
  for (const ImageYield& image : demos) {
    out << "\n";
    PrintImage(out, image, true);
  }
}

Json ToJson(const std::vector<ImageYield>& images) {
  const auto causes = [](const Causes& causes) {
    Json object = Json::object();
    for (const auto& [cause, count] : causes) object[cause] = count;
    return object;
  };
  Json list = Json::array();
  for (const ImageYield& y : images) {
    const double mean = static_cast<double>(y.attempts) / static_cast<double>(y.boards);
    list.push_back({{"sha256", y.sha256},
                    {"version", y.version},
                    {"source", y.source},
                    {"boards", y.boards},
                    {"withoutSerial", y.withoutSerial},
                    {"firstPass", y.firstPass},
                    {"firstPassPercent", static_cast<double>(Tenths(y.firstPass, y.boards)) / 10},
                    {"finalPass", y.passed},
                    {"finalPassPercent", static_cast<double>(Tenths(y.passed, y.boards)) / 10},
                    {"unconfirmed", y.unconfirmed},
                    {"attempts", y.attempts},
                    {"meanAttempts", std::round(mean * 100) / 100},
                    {"mostAttempts", y.mostAttempts},
                    {"failedAtLastAttempt", causes(y.failedLast)},
                    {"failedAttempts", causes(y.failedAttempts)}});
  }
  return list;
}

// Opens a record file; what stands in the way, or nothing.
std::optional<std::string> Open(const std::string& file, std::ifstream& in) {
  const std::filesystem::path path = PathFromUtf8(file);
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) return "a folder, not a record file";
  errno = 0;
  in.open(path, std::ios::binary);
  if (!in) return SystemReason(errno);
  return std::nullopt;
}

Status Report(const Context& context, const ReportOptions& options) {
  Status status = Status::Succeeded;
  Reading reading(context, options);
  for (const std::string& file : options.files) {
    std::ifstream opened;
    std::istream* in = &opened;
    if (file == "-") {
      in = &std::cin;
#ifdef _WIN32
      _setmode(_fileno(stdin), _O_BINARY);
#endif
    } else if (const auto problem = Open(file, opened)) {
      context.Error(file + ": " + *problem);
      status = Status::Usage;
      continue;
    }
    const std::string name = in == &std::cin ? "standard input" : file;
    errno = 0;
    if (!reading.Read(name, *in) || (in == &std::cin && std::ferror(stdin) != 0)) {
      const int error = errno;
      context.Error(name + ": cannot be read" + (error != 0 ? ": " + SystemReason(error) : ""));
      status = Status::Usage;
    }
  }
  const auto images = reading.Boards().Images(false);
  const auto demos = reading.Boards().Images(true);
  const LineCounts& counts = reading.Counts();
  if (!context.options.json) {
    PrintText(context.out, counts, images, demos);
    return status;
  }
  context.document["records"] = {{"counted", counts.counted},
                                 {"duplicates", counts.duplicates},
                                 {"outsideFilters", counts.outside},
                                 {"notRecords", counts.notRecords}};
  context.document["images"] = ToJson(images);
  context.document["demoImages"] = ToJson(demos);
  return status;
}

// The records a report counts: --since, --until, --image and a field's exact value.
void AddFilterOptions(CLI::App* report, ReportOptions& options) {
  const CLI::Validator utc(
      [](const std::string& value) {
        return ParseUtc(value) ? std::string()
                               : "'" + value +
                                     "' is not a UTC time such as 2026-12-07, 2026-12-07T21:00 "
                                     "or 2026-12-07T21:00:00.000Z";
      },
      "", "");
  report->add_option("--since", options.since, "Records from this time on (UTC)")
      ->option_text("TIME")
      ->check(utc);
  report->add_option("--until", options.until, "Records before this time (UTC)")
      ->option_text("TIME")
      ->check(utc);
  report
      ->add_option("--image", options.image,
                   "Records of this image: a SHA-256 prefix, or a version (1.6)")
      ->option_text("SHA256|VERSION")
      ->check(CLI::Validator(
          [](const std::string& value) {
            const bool version = value.find('.') != std::string::npos &&
                                 value.find_first_not_of("0123456789.") == std::string::npos;
            const bool prefix =
                !value.empty() && value.size() <= 64 &&
                value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
            return version || prefix
                       ? std::string()
                       : "'" + value + "' is neither a SHA-256 prefix nor a version such as 1.6";
          },
          "", ""));
  for (const auto& [name, field, what] :
       {std::tuple{"--host", &options.host, "Records from this host"},
        {"--lot", &options.lot, "Records of this lot"},
        {"--work-order", &options.workOrder, "Records of this work order"},
        {"--operator", &options.operatorName, "Records of this operator"}}) {
    report->add_option(name, *field, what)->option_text("TEXT")->check(kNotEmpty);
  }
}

}  // namespace

Command AddReport(CLI::App& app) {
  auto options = std::make_shared<ReportOptions>();
  CLI::App* report =
      app.add_subcommand("report", "The yield of each image from record files, counting boards");
  report->add_option("FILE", options->files, "Record files (JSON lines); - for standard input")
      ->required()
      ->check(kNotEmpty);
  AddFilterOptions(report, *options);
  AddCount(report, "--max-line", options->maxLine, 1, kMostMaxLine,
           "Skip longer lines, with a warning (default 65536 bytes)")
      ->option_text("BYTES");
  return {report, nullptr, nullptr, nullptr, [options](Context& c) { return Report(c, *options); }};
}

}  // namespace qvx::cli
