#include "cli/commands/help.h"

#include <algorithm>
#include <numeric>
#include <sstream>
#include <vector>

namespace qvx::cli {

namespace {

constexpr std::size_t kColumns = 80;

// The option or argument a CLI11 message starts with ("--serial: 1 required TEXT missing").
std::string Subject(const std::string& message) {
  const std::size_t colon = message.find(':');
  return colon == std::string::npos ? std::string() : message.substr(0, colon);
}

std::string Help(const std::string& command) {
  return "; see 'quorvex" + (command.empty() ? std::string() : " " + command) + " --help'";
}

}  // namespace

std::string Wrapped(std::string_view text, std::size_t columns) {
  std::string out;
  std::size_t lineStart = 0;
  std::istringstream words{std::string(text)};
  for (std::string word; words >> word;) {
    const bool fits = out.size() - lineStart + (out.empty() ? 0 : 1) + word.size() <= columns;
    if (!out.empty()) {
      out += fits ? " " : "\n";
      if (!fits) lineStart = out.size();
    }
    out += word;
  }
  return out;
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
  return Wrapped(CLI::Formatter::make_option_desc(option), kColumns - kNameColumns);
}

std::string HelpFormatter::make_subcommand(const CLI::App* command) const {
  std::stringstream out;
  CLI::detail::format_help(out, command->get_display_name(),
                           Wrapped(command->get_description(), kColumns - kNameColumns),
                           kNameColumns);
  return out.str();
}

std::string HelpFormatter::make_description(const CLI::App* app) const {
  const std::string description = app->get_description();
  return description.empty() ? std::string() : Wrapped(description, kColumns) + "\n";
}

std::string UsageMessage(const CLI::ParseError& error, const std::string& command) {
  const std::string what = error.what();
  const std::string subject = Subject(what);
  std::string text;
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr && !subject.empty()) {
    text = subject + " needs a value";
  } else if (dynamic_cast<const CLI::ValidationError*>(&error) != nullptr ||
             dynamic_cast<const CLI::ConversionError*>(&error) != nullptr) {
    text = what;  // the checks' own words, which name the option
  } else if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    const std::string extra = what.substr(what.find(':') + 2);
    text = !extra.starts_with("-") ? "unexpected argument " + extra
           : extra.starts_with("--")
               ? "unknown option " + extra
               : "unknown option " + extra + " (a file whose name starts with '-' is written ./" +
                     extra + ")";
  } else if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    text = what.find("subcommand") != std::string::npos
               ? "a command is needed: list, info, flash, verify, dump, watch or report"
           : subject.empty() ? what
                             : subject + " is needed";
    if (subject.empty() && what.ends_with(" is required")) {
      text = what.substr(0, what.size() - 12) + " is needed";
    }
  } else if (dynamic_cast<const CLI::ExcludesError*>(&error) != nullptr) {
    const std::size_t excludes = what.find(" excludes ");
    text = excludes == std::string::npos
               ? what
               : what.substr(0, excludes) + " and " + what.substr(excludes + 10) +
                     " cannot be given together";
  } else if (dynamic_cast<const CLI::RequiresError*>(&error) != nullptr) {
    const std::size_t needs = what.find(" requires ");
    text = needs == std::string::npos ? what
                                      : what.substr(0, needs) + " needs " + what.substr(needs + 10);
  } else {
    text = what.substr(0, what.find('\n'));
  }
  return text + Help(command);
}

std::string NearestCommand(std::string_view word, std::span<const std::string> commands) {
  std::string best;
  std::size_t bestDistance = 3;  // further than two edits is no spelling of it
  for (const std::string& command : commands) {
    // Levenshtein distance, one row at a time.
    std::vector<std::size_t> row(command.size() + 1);
    std::iota(row.begin(), row.end(), 0);
    for (std::size_t i = 1; i <= word.size(); ++i) {
      std::size_t diagonal = row[0];
      row[0] = i;
      for (std::size_t j = 1; j <= command.size(); ++j) {
        const std::size_t above = row[j];
        row[j] = std::min(
            {row[j] + 1, row[j - 1] + 1, diagonal + (word[i - 1] == command[j - 1] ? 0 : 1)});
        diagonal = above;
      }
    }
    if (row.back() < bestDistance) {
      bestDistance = row.back();
      best = command;
    }
  }
  return best;
}

}  // namespace qvx::cli
