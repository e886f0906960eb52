#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <utility>

#include "app/texts.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "image/firmware_file.h"

namespace qvx::cli {

void AddBoardOptions(CLI::App* command, BoardOptions& boards, bool mayTakeAll) {
  CLI::Option* serial =
      command->add_option("--serial", boards.serial, "The board with this serial number");
  serial->option_text("S");
  if (mayTakeAll) {
    command->add_flag("--all", boards.all, "Every board in update mode, all at once")
        ->excludes(serial);
  }
}

void AddImageOption(CLI::App* command, std::string& image) {
  command
      ->add_option("--image", image,
                   "Firmware file instead of the image the program carries: a container "
                   "(262,176 bytes) or a plain image (65,544 bytes)")
      ->option_text("FILE");
}

int Run(const std::vector<std::string>& args, const Environment& env) {
  GlobalOptions options;
  CLI::App app{
      "Identifies Quorvex boards and replaces their firmware, on one board or on many at once.",
      "quorvex"};
  app.footer(kExitStatusHelp);
  app.set_version_flag("--version", "quorvex " QVX_VERSION);
  app.require_subcommand(1);
  // The options below are taken after the command too.
  app.fallthrough();
  app.add_flag("--json", options.json, "One JSON document on standard output instead of tables");
  app.add_flag("-q,--quiet", options.quiet, "No progress: only the outcome");
  app.add_flag("-v,--verbose", options.verbose,
               "Log on standard error what the link does that matters when something fails");
  app.add_option("--log", options.log, "Write that log to FILE")->option_text("FILE");
  const std::array commands{AddList(app), AddInfo(app), AddFlash(app), AddVerify(app),
                            AddDump(app)};
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return app.exit(error, env.out, env.err) == 0 ? kSucceeded : kUsage;
  }
  const Command& command =
      *std::ranges::find_if(commands, [](const Command& c) { return c.parser->parsed(); });
  SharedStream err(env.err);

  // The image is checked before any board is touched.
  ResourceLoader image = env.firmware;
  if (command.image != nullptr && !command.image->empty()) {
    FirmwareFile file = ReadFirmwareFile(*command.image);
    if (file.problem) {
      err.Write("quorvex: " + file.problem->Text() + "\n");
      return kUsage;
    }
    image = ServeContainer(std::move(file.container));
  }
  FirmwareImage probe(image);
  probe.ImageResourceId = kImageResourceId;
  if (const auto problem = probe.LoadFirmwareImage()) {
    err.Write("quorvex: the firmware image is not valid: " + problem->Text() + "\n");
    return kUsage;
  }

  LinkLog log;
  if (options.verbose) log.AddSink(err);
  std::ofstream logFile;
  std::optional<SharedStream> logSink;
  if (!options.log.empty()) {
    logFile.open(options.log, std::ios::app);
    if (!logFile) {
      err.Write("quorvex: " + options.log + ": cannot be written\n");
      return kUsage;
    }
    log.AddSink(logSink.emplace(logFile));
  }
  LoggingDriver loggingDriver(env.driver, log);

  // The log shares standard error with the progress, so with -v the lines are never redrawn.
  const auto style = options.quiet                           ? ProgressDisplay::Style::Quiet
                     : env.errIsTerminal && !options.verbose ? ProgressDisplay::Style::InPlace
                                                             : ProgressDisplay::Style::PerStage;
  ProgressDisplay display(err, style);
  Context context{options,
                  log.Enabled() ? static_cast<D2xx&>(loggingDriver) : env.driver,
                  image,
                  VersionText(probe.ImageMajor, probe.ImageMinor),
                  env.out,
                  err,
                  log,
                  display,
                  env.interrupted};
  return command.run(context);
}

}  // namespace qvx::cli
