#include "cli/commands/parser.h"

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>

#include "cli/commands/help.h"
#include "cli/commands/options.h"

namespace qvx::cli {

namespace {

constexpr std::size_t kDemoBoards = 4;
constexpr std::size_t kMostDemoBoards = 16;

// Each command's help ends with examples; the exit statuses are the main help's.
const std::map<std::string, std::string> kExamples{
    {"list", "quorvex list --json"},
    {"info", "quorvex info --port 1-1.4"},
    {"flash",
     "quorvex flash --serial QVX00002 --if-needed\n  quorvex flash --all --expect 4 "
     "--wait=60"},
    {"verify", "quorvex verify --all --json"},
    {"dump", "quorvex dump board.bin --serial QVX00002"},
    {"watch", "quorvex watch --record shift.jsonl --hardware 2.1 --on-result ./light.sh"},
    {"report", "quorvex report --since 2026-12-01 shift.jsonl"}};

// The first word that is no option nor an option's value: the command, if it is one.
std::string FirstWord(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool count =
        i + 1 < args.size() && !args[i + 1].empty() &&
        std::ranges::all_of(args[i + 1], [](char c) { return c >= '0' && c <= '9'; });
    // --demo's count may follow it apart; a command name never does.
    if (args[i] == "--log" || (args[i] == "--demo" && count)) {
      ++i;
    } else if (args[i] == "--") {
      return i + 1 < args.size() ? args[i + 1] : "";
    } else if (!args[i].starts_with("-")) {
      return args[i];
    }
  }
  return "";
}

}  // namespace

Parser::Parser(GlobalOptions& options)
    : options_(options),
      app_(
          "Identifies Quorvex boards and replaces their firmware, on one board or on many at "
          "once.",
          "quorvex") {
  app_.formatter(std::make_shared<HelpFormatter>());
  app_.footer(
      "Examples:\n"
      "  quorvex list\n"
      "  quorvex flash --all --expect 4 --record shift.jsonl\n"
      "  quorvex watch --record shift.jsonl --lot L-2041\n"
      "  quorvex report shift.jsonl\n\n" +
      StatusHelp());
  app_.set_version_flag("-V,--version", "quorvex " QVX_VERSION);
  app_.require_subcommand(1);
  // "/x" is a path, never an option, on Windows too.
  app_.allow_windows_style_options(false);
  // The options below are taken after the command too.
  app_.fallthrough();
  AddGlobalOptions(app_);
  commands_ = {AddList(app_), AddInfo(app_),  AddFlash(app_), AddVerify(app_),
               AddDump(app_), AddWatch(app_), AddReport(app_)};
  for (const Command& command : commands_) {
    command.parser->footer("Example:\n  " + kExamples.at(command.parser->get_name()) +
                           "\n\nExit statuses: see 'quorvex --help'.");
    // Listed in every command's help too.
    AddGlobalOptions(*command.parser);
  }
}

void Parser::AddGlobalOptions(CLI::App& app) {
  const auto global = [](CLI::Option* option) { return option->group("Global options"); };
  global(app.add_flag("--json", options_.json,
                      "One JSON document on standard output instead of tables"));
  global(app.add_flag("-q,--quiet", options_.quiet, "No progress: only the outcome"));
  global(
      app.add_flag("-v,--verbose", options_.verbose,
                   "Log on standard error what the link does that matters when something fails"));
  global(app.add_option("--log", options_.log, "Write that log to FILE, a regular file"))
      ->option_text("FILE")
      ->check(kNotEmpty);
  global(app.add_option_function<std::string>(
             "--demo",
             [this](const std::string& text) {
               std::size_t boards = kDemoBoards;
               if (!text.empty()) ParseCount("--demo", text, boards, 1, kMostDemoBoards);
               options_.demo = boards;
             },
             "A demonstration: N virtual boards (4 by default), no hardware; all it prints "
             "and records says so"))
      ->expected(0, 1)
      ->option_text("[=N]");
}

std::variant<const Command*, Status> Parser::Parse(std::vector<std::string> args, std::ostream& out,
                                                   ErrorChannel& errors,
                                                   nlohmann::ordered_json& document) {
  // "quorvex help [COMMAND]" is "quorvex [COMMAND] --help".
  if (!args.empty() && args.front() == "help") {
    args.erase(args.begin());
    args.emplace_back("--help");
  }
  options_.json = std::ranges::find(args, "--json") != args.end();
  std::vector<std::string> names;
  for (const Command& command : commands_) names.push_back(command.parser->get_name());
  if (const std::string word = FirstWord(args);
      !word.empty() && std::ranges::find(names, word) == names.end()) {
    const std::string nearest = NearestCommand(word, names);
    errors.Error("unknown command '" + word + "'" +
                 (nearest.empty() ? "" : " (did you mean '" + nearest + "'?)") +
                 "; see 'quorvex --help'");
    return Status::Usage;
  }
  const auto parsed = [this] {
    return std::ranges::find_if(commands_, [](const Command& c) { return c.parser->parsed(); });
  };
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app_.parse(reversed);
  } catch (const CLI::ParseError& error) {
    if (parsed() != commands_.end()) chosen_ = parsed()->parser->get_name();
    std::ostringstream help;
    std::ostringstream ignored;
    if (app_.exit(error, help, ignored) == 0) {
      if (options_.json) {
        document["help"] = help.str();
      } else {
        out << help.str();
      }
      return Status::Succeeded;
    }
    // An argument taken for an unknown option says more than what it left missing.
    const std::vector<std::string> left = app_.remaining(/*recurse=*/true);
    const auto option =
        std::ranges::find_if(left, [](const std::string& a) { return a.starts_with("-"); });
    errors.Error(option != left.end() ? UsageMessage(CLI::ExtrasError({*option}), chosen_)
                                      : UsageMessage(error, chosen_));
    return Status::Usage;
  }
  chosen_ = parsed()->parser->get_name();
  return &*parsed();
}

}  // namespace qvx::cli
