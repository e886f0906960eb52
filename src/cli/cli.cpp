#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <fstream>
#include <optional>
#include <utility>

#include "app/core.h"
#include "cli/commands.h"
#include "cli/exit_status.h"
#include "image/firmware_file.h"

namespace qvx::cli {

namespace {

// Returns the status to end with when the command line is not one to run (help, or wrong).
std::optional<int> Parse(const std::vector<std::string>& args, const Environment& env, Options& o) {
  CLI::App app{
      "Identifies Quorvex boards and replaces their firmware, on one board or on many "
      "at once.",
      "quorvex"};
  app.footer(kExitStatusHelp);
  app.require_subcommand(1);
  // The options below are taken after the command too.
  app.fallthrough();
  app.add_flag("--json", o.json, "One JSON document on standard output instead of tables");
  app.add_flag("-q,--quiet", o.quiet, "No progress: only the outcome");
  app.add_flag("-v,--verbose", o.verbose,
               "Log on standard error what the link does that matters when something fails");
  app.add_option("--log", o.log, "Write that log to FILE")->option_text("FILE");

  app.add_subcommand("list",
                     "Every attached board and its versions; every FTDI device that "
                     "could not be opened, and why");
  CLI::App* info = app.add_subcommand("info", "One board's versions beside the image's");
  CLI::App* flash = app.add_subcommand("flash", "Write the image into the board's flash");
  CLI::App* verify =
      app.add_subcommand("verify", "Compare the board's flash with the image; writes nothing");
  CLI::App* dump = app.add_subcommand("dump", "Read the whole flash into FILE, a plain image");
  for (CLI::App* command : {info, flash, verify, dump}) {
    CLI::Option* serial =
        command->add_option("--serial", o.serial, "The board with this serial number");
    serial->option_text("S");
    if (command == flash || command == verify) {
      command->add_flag("--all", o.all, "Every board in update mode, all at once")
          ->excludes(serial);
    }
    if (command != dump) {
      command
          ->add_option("--image", o.image,
                       "Firmware file instead of the image the program carries: a container "
                       "(262,176 bytes) or a plain image (65,544 bytes)")
          ->option_text("FILE");
    }
  }
  dump->add_option("FILE", o.file, "Where the image goes")->required();
  dump->add_flag("--force", o.force, "Replace FILE when it exists");

  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    return app.exit(error, env.out, env.err) == 0 ? kSucceeded : kUsage;
  }
  o.command = app.get_subcommands().front()->get_name();
  return std::nullopt;
}

}  // namespace

int Run(const std::vector<std::string>& args, const Environment& env) {
  Options options;
  if (const std::optional<int> status = Parse(args, env, options)) return *status;
  SharedStream err(env.err);

  // The image is checked before any board is touched.
  ResourceLoader image = env.firmware;
  if (!options.image.empty()) {
    FirmwareFile file = ReadFirmwareFile(options.image);
    if (!file.error.empty()) {
      err.Write("quorvex: " + file.error + "\n");
      return kUsage;
    }
    image = ServeContainer(std::move(file.container));
  }
  FirmwareImage probe(image);
  probe.CreateArrays();
  probe.ImageResourceId = kImageResourceId;
  probe.LoadFirmwareImage();
  if (probe.OpResult != op::kSuccess) {
    err.Write("quorvex: the firmware image is not valid\n");
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
  Session session{options,
                  log.Enabled() ? static_cast<D2xx&>(loggingDriver) : env.driver,
                  image,
                  VersionText(probe.ImageMajor, probe.ImageMinor),
                  env.out,
                  err,
                  log,
                  display,
                  env.interrupted};
  if (options.command == "list") return List(session);
  if (options.command == "info") return Info(session);
  if (options.command == "dump") return Dump(session);
  return Update(session, options.command == "verify");
}

}  // namespace qvx::cli
