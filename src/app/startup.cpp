#include "app/startup.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "image/file_io.h"
#include "image/firmware_file.h"

namespace qvx {

namespace {

constexpr char kProgram[] = "quorvex-updater";
constexpr char kUsage[] = "Usage: quorvex-updater [--image FILE] [--demo] [--help] [--version]";
constexpr char kBoxUsage[] = "Usage: quorvex-updater [--image FILE] [--demo]";
constexpr char kBoxHelpHint[] = "quorvex-updater /? shows the options.";
constexpr char kBoxHelp[] =
    "Opens the window that replaces the firmware of a\n"
    "Quorvex board.\n\n"
    "--image FILE: write this firmware file (a container or\n"
    "a plain image) instead of the program's own image.\n"
    "--demo: work on a virtual board; no hardware is\n"
    "touched.\n"
    "--version: show the program's version.\n"
    "--help or /?: show this text.";

Startup Refused(std::string message, AnswersIn answers) {
  // A box has the program's name in its title.
  if (answers == AnswersIn::Box) return {{}, false, kBadStartup, std::move(message)};
  return {{}, false, kBadStartup, std::string(kProgram) + ": " + std::move(message)};
}

Startup Answered(std::string text) {
  return {{}, false, 0, std::move(text)};
}

std::string Help(std::span<const ToolkitOption> toolkit) {
  std::string help = std::string(kUsage) +
                     "\nOpens the window that replaces the firmware of a Quorvex board.\n"
                     "  --image FILE  write this firmware file (a container or a plain image)\n"
                     "                instead of the image the program carries\n"
                     "  --demo        work on a virtual board, for a demonstration: no hardware\n"
                     "                is touched, and the caption says \"(demo)\"\n"
                     "  --help        show this text\n"
                     "  --version     show the program's version";
  if (!toolkit.empty()) help += "\nThe window toolkit's own options pass through to it:\n ";
  std::size_t line = help.size();
  for (const ToolkitOption& option : toolkit) {
    if (help.size() - line + option.name.size() >= 78) line = help.append("\n ").size();
    help.append(" ").append(option.name);
  }
  return help;
}

const ToolkitOption* ToolkitOptionOf(std::string_view argument,
                                     std::span<const ToolkitOption> toolkit) {
  if (argument.starts_with("--")) argument.remove_prefix(1);
  const auto option = std::ranges::find_if(toolkit, [argument](const ToolkitOption& o) {
    return o.name.ends_with('=') ? argument.starts_with(o.name) : argument == o.name;
  });
  return option == toolkit.end() ? nullptr : &*option;
}

}  // namespace

Startup ParseStartup(const std::vector<std::string>& arguments, ResourceLoader embedded,
                     std::span<const ToolkitOption> toolkit, AnswersIn answers) {
  const bool box = answers == AnswersIn::Box;
  Startup startup{std::move(embedded), false, std::nullopt, {}};
  for (auto at = arguments.begin(); at != arguments.end(); ++at) {
    if (*at == "--help" || *at == "-h" || (box && *at == "/?")) {
      return Answered(box ? std::string(kBoxUsage) + "\n\n" + kBoxHelp : Help(toolkit));
    }
    if (*at == "--version") return Answered(std::string(kProgram) + " " + QVX_VERSION);
    if (*at == "--demo") {
      startup.demo = true;
      continue;
    }
    if (*at == "--image") {
      if (++at == arguments.end()) return Refused("--image needs a FILE", answers);
      FirmwareFile file = ReadFirmwareFile(PathFromUtf8(*at));
      if (file.problem) return Refused(file.problem->Text(), answers);
      startup.image = ServeContainer(std::move(file.container));
      continue;
    }
    const ToolkitOption* option = ToolkitOptionOf(*at, toolkit);
    if (option == nullptr) {
      return Refused((at->starts_with('-') ? "unknown option: " : "unexpected argument: ") + *at +
                         (box ? std::string("\n\n") + kBoxUsage + "\n" + kBoxHelpHint
                              : std::string("\n") + kUsage),
                     answers);
    }
    if (option->takesValue && ++at == arguments.end()) {
      return Refused(std::string(option->name) + " needs a value", answers);
    }
  }
  return startup;
}

}  // namespace qvx
