#pragma once

#include <CLI/CLI.hpp>
#include <span>
#include <string>
#include <string_view>

namespace qvx::cli {

// CLI11's help laid out within 80 columns: descriptions wrapped beside the options' names.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() { column_width(kNameColumns); }
  std::string make_option_desc(const CLI::Option* option) const override;
  std::string make_subcommand(const CLI::App* command) const override;
  std::string make_description(const CLI::App* app) const override;

 private:
  static constexpr std::size_t kNameColumns = 26;
};

// The text wrapped at word boundaries to lines of at most `columns`, joined by newlines.
std::string Wrapped(std::string_view text, std::size_t columns);

// What went wrong with the arguments, in one line of the program's own words, naming the
// argument and what it takes, ending with where to read more: "see 'quorvex flash --help'".
std::string UsageMessage(const CLI::ParseError& error, const std::string& command);

// The command among `commands` nearest to `word` by spelling, or nothing close enough.
std::string NearestCommand(std::string_view word, std::span<const std::string> commands);

}  // namespace qvx::cli
