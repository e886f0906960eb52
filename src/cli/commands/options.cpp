#include "cli/commands/options.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace qvx::cli {

const CLI::Validator kNotEmpty(
    [](const std::string& value) { return value.empty() ? "must not be empty" : std::string(); },
    "", "not empty");

// "" (no limit) or a decimal number of seconds up to a day.
const CLI::Validator kSeconds(
    [](const std::string& value) {
      const bool decimal =
          std::ranges::all_of(value, [](char c) { return (c >= '0' && c <= '9') || c == '.'; }) &&
          std::ranges::count(value, '.') <= 1 && value != ".";
      return value.empty() || (decimal && std::strtod(value.c_str(), nullptr) <= 86400)
                 ? std::string()
                 : "'" + value + "' is not a number of seconds from 0 to 86400";
    },
    "", "");

void AddBoardOptions(CLI::App* command, BoardOptions& boards, bool mayTakeAll) {
  CLI::Option* serial =
      command->add_option("--serial", boards.serial, "The board with this serial number");
  serial->option_text("S")->check(kNotEmpty);
  CLI::Option* port = command->add_option(
      "--port", boards.port, "The board plugged in at this port, as list shows it (1-1.4)");
  port->option_text("P")->check(kNotEmpty)->excludes(serial);
  command
      ->add_option("--wait", boards.wait,
                   "Wait for the board (with --all, for --expect N boards) to appear, at most "
                   "SECONDS; without them, until interrupted")
      ->expected(0, 1)
      ->option_text("[=SECONDS]")
      ->check(kSeconds);
  if (!mayTakeAll) return;
  CLI::Option* all = command->add_flag("--all", boards.all, "Every board, all at once");
  all->excludes(serial)->excludes(port);
  AddCount(command, "--expect", boards.expect, 1, 1000,
           "With --all: fewer than N boards is a failure")
      ->needs(all);
  command
      ->add_option_function<std::string>(
          "--serials",
          [&boards](const std::string& list) {
            // Blanks around the names are no part of them.
            std::istringstream names(list);
            for (std::string name; std::getline(names, name, ',');) {
              name.erase(0, name.find_first_not_of(" \t"));
              name.erase(name.find_last_not_of(" \t") + 1);
              if (name.empty()) throw CLI::ValidationError("--serials: an empty serial number");
              if (std::ranges::count(boards.serials, name) > 0) {
                throw CLI::ValidationError("--serials: " + name + " is named twice");
              }
              boards.serials.push_back(name);
            }
          },
          "With --all: each of these boards must be there, or the run fails")
      ->option_text("S1,S2,...")
      ->needs(all);
}

void AddRecordOptions(CLI::App* command, RecordOptions& record) {
  command
      ->add_option("--record", record.file,
                   "Append a JSON line per board to FILE, synced before the result shows")
      ->option_text("FILE")
      ->check(kNotEmpty);
  command
      ->add_option("--on-result", record.hook,
                   "Run CMD for each finished board, its record on standard input")
      ->option_text("CMD")
      ->check(kNotEmpty);
  for (const auto& [name, field, what] :
       {std::tuple{"--lot", &record.fields.lot, "The lot, written into every record"},
        {"--work-order", &record.fields.workOrder, "The work order, written into every record"},
        {"--operator", &record.fields.operatorName,
         "Who runs the line, written into every record"}}) {
    command->add_option(name, *field, what)->option_text("TEXT")->check(kNotEmpty);
  }
}

void AddUpdatePolicyOptions(CLI::App* command, UpdatePolicy& policy) {
  command
      ->add_option_function<std::string>(
          "--hardware",
          [&policy](const std::string& text) {
            unsigned major = 0, minor = 0;
            char end = 0;
            if (std::sscanf(text.c_str(), "%u.%u%c", &major, &minor, &end) != 2 || major > 15 ||
                minor > 15) {
              throw CLI::ValidationError("--hardware", "a version such as 2.1, each part 0 to 15");
            }
            policy.hardware =
                Version{static_cast<std::uint8_t>(major), static_cast<std::uint8_t>(minor)};
          },
          "Refuse, before writing, a board of another hardware version")
      ->option_text("M.N");
  command->add_flag("--if-needed", policy.ifNeeded,
                    "Compare first, and write nothing to a board that holds the image");
  command->add_flag_callback(
      "--allow-older", [&policy] { policy.refuseOlder = false; },
      "Write the image even over newer firmware");
  command->add_flag("--require-version", policy.requireVersion,
                    "Fail a board that does not answer the image's version after the update");
}

void AddImageOption(CLI::App* command, ImageOptions& image, bool mayPin) {
  command
      ->add_option("--image", image.file,
                   "Firmware file instead of the image the program carries: a container "
                   "(262,176 bytes) or a plain image (65,544 bytes)")
      ->option_text("FILE")
      ->check(kNotEmpty);
  if (!mayPin) return;
  command
      ->add_option("--image-sha256", image.sha256,
                   "Refuse any image whose plain bytes have another SHA-256, before any board")
      ->option_text("HEX")
      ->check(CLI::Validator(
          [](const std::string& value) {
            const bool hex = value.size() == 64 &&
                             value.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
            return hex ? std::string() : "must be 64 hexadecimal digits";
          },
          "", ""));
}

void ParseCount(const std::string& name, const std::string& text, std::size_t& value,
                std::size_t low, std::size_t high) {
  const bool digits = !text.empty() && text.size() <= 19 &&
                      std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; });
  const std::size_t number = digits ? std::stoull(text) : 0;
  if (!digits || number < low || number > high) {
    throw CLI::ValidationError(name + ": '" + text + "' is not a whole number from " +
                               std::to_string(low) + " to " + std::to_string(high));
  }
  value = number;
}

CLI::Option* AddCount(CLI::App* command, const std::string& name, std::size_t& value,
                      std::size_t low, std::size_t high, const std::string& description) {
  return command
      ->add_option_function<std::string>(
          name,
          [&value, name, low, high](const std::string& text) {
            ParseCount(name, text, value, low, high);
          },
          description)
      ->option_text("N");
}

}  // namespace qvx::cli
