#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <utility>

#include "app/texts.h"
#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/sha256.h"
#include "image/file_io.h"
#include "image/firmware_file.h"

namespace qvx::cli {

const CLI::Validator kNotEmpty(
    [](const std::string& value) { return value.empty() ? "must not be empty" : std::string(); },
    "", "not empty");

// "" (no limit) or a number of seconds.
const CLI::Validator kSeconds(
    [](const std::string& value) {
      char* end = nullptr;
      const double seconds = std::strtod(value.c_str(), &end);
      return value.empty() || (*end == '\0' && seconds >= 0 && seconds < 1e9)
                 ? std::string()
                 : "must be a number of seconds";
    },
    "", "seconds");

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
  command->add_option("--expect", boards.expect, "With --all: fewer than N boards is a failure")
      ->option_text("N")
      ->check(CLI::PositiveNumber)
      ->needs(all);
  command
      ->add_option("--serials", boards.serials,
                   "With --all: each of these boards must be there, or the run fails")
      ->option_text("S1,S2,...")
      ->delimiter(',')
      ->check(kNotEmpty)
      ->needs(all);
}

void AddRecordOption(CLI::App* command, std::string& record) {
  command
      ->add_option("--record", record,
                   "Append a JSON line per board to FILE, synced before the result shows")
      ->option_text("FILE")
      ->check(kNotEmpty);
}

void AddFlashPolicyOptions(CLI::App* command, FlashPolicy& policy) {
  command->add_flag("--if-needed", policy.ifNeeded,
                    "Compare first, and write nothing to a board that holds the image");
  command->add_flag("--allow-older", policy.allowOlder, "Write the image even over newer firmware");
}

void AddImageOption(CLI::App* command, std::string& image) {
  command
      ->add_option("--image", image,
                   "Firmware file instead of the image the program carries: a container "
                   "(262,176 bytes) or a plain image (65,544 bytes)")
      ->option_text("FILE")
      ->check(kNotEmpty);
}

namespace {

using Json = nlohmann::ordered_json;

// Of the JSON documents: raised when a field changes meaning or goes away.
constexpr int kDocumentSchema = 1;

std::string NotWritten(const std::string& what, int error) {
  return what + " could not be written" + (error != 0 ? ": " + SystemReason(error) : "");
}

// One run of the program: what it was asked, what it must still say, and whether everything it
// wrote went out.
class Program {
 public:
  explicit Program(const Environment& env) : env_(env), err_(env.err) {}

  // Parses, checks and runs the command; its status.
  int Start(const std::vector<std::string>& args);
  // The JSON document, whatever way the run ended, and the checks of what was written: a status
  // that would be a success becomes kNotWritten when something was lost.
  int Finish(int status);

 private:
  int Fail(const std::string& text, int status) {
    errors_.push_back(text);
    err_.Write("quorvex: " + text + "\n");
    return status;
  }
  void Lost(int& status, const std::string& text) {
    if (status == kSucceeded) status = kNotWritten;
    Fail(text, status);
  }
  void AddGlobalOptions(CLI::App& app);
  int OpenLog(const Command& command);
  int OpenRecords(const Command& command);

  const Environment& env_;
  GlobalOptions options_;
  SharedStream err_;
  std::vector<std::string> errors_;
  Json document_ = Json::object();
  Json command_ = nullptr;  // the command's name, once known
  LinkLog log_;
  std::ofstream logFile_;
  std::optional<SharedStream> logSink_;
  ImageInfo image_;
  std::optional<Records> records_;
};

void Program::AddGlobalOptions(CLI::App& app) {
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
}

int Program::Start(const std::vector<std::string>& args) {
  CLI::App app{
      "Identifies Quorvex boards and replaces their firmware, on one board or on many at once.",
      "quorvex"};
  app.footer(kExitStatusHelp);
  app.set_version_flag("--version", "quorvex " QVX_VERSION);
  app.require_subcommand(1);
  // "/x" is a path, never an option, on Windows too.
  app.allow_windows_style_options(false);
  // The options below are taken after the command too.
  app.fallthrough();
  AddGlobalOptions(app);
  const std::array commands{AddList(app), AddInfo(app),  AddFlash(app), AddVerify(app),
                            AddDump(app), AddWatch(app), AddReport(app)};
  // Listed in every command's help too.
  for (const Command& command : commands) AddGlobalOptions(*command.parser);
  const auto chosen = [&commands] {
    return std::ranges::find_if(commands, [](const Command& c) { return c.parser->parsed(); });
  };
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& error) {
    std::ostringstream help;
    std::ostringstream message;
    const int status = app.exit(error, help, message) == 0 ? kSucceeded : kUsage;
    options_.json = options_.json || std::ranges::find(args, "--json") != args.end();
    if (chosen() != commands.end()) command_ = chosen()->parser->get_name();
    if (!message.str().empty()) Fail(message.str().substr(0, message.str().find('\n')), status);
    if (!options_.json) {
      env_.out << help.str();
    } else if (!help.str().empty()) {
      document_["help"] = help.str();
    }
    return status;
  }
  const Command& command = *chosen();
  command_ = command.parser->get_name();

  // The image is checked before any board is touched.
  ResourceLoader image = env_.firmware;
  if (command.image != nullptr && !command.image->empty()) {
    FirmwareFile file = ReadFirmwareFile(PathFromUtf8(*command.image));
    if (file.problem) return Fail(file.problem->Text(), kUsage);
    image = ServeContainer(std::move(file.container));
  }
  FirmwareImage probe(image);
  probe.ImageResourceId = kImageResourceId;
  if (const auto problem = probe.LoadFirmwareImage()) {
    return Fail("the firmware image is not valid: " + problem->Text(), kUsage);
  }
  const bool fromFile = command.image != nullptr && !command.image->empty();
  image_ = {fromFile ? *command.image : "embedded", Sha256Hex(probe.ImageBuffer),
            VersionText(probe.ImageMajor, probe.ImageMinor)};
  if (options_.verbose) log_.AddSink(err_);
  if (const int status = OpenLog(command); status != kSucceeded) return status;
  if (const int status = OpenRecords(command); status != kSucceeded) return status;
  LoggingDriver loggingDriver(env_.driver, log_);

  // The log shares standard error with the progress, so with -v the lines are never redrawn.
  const auto style = options_.quiet                            ? ProgressDisplay::Style::Quiet
                     : env_.errIsTerminal && !options_.verbose ? ProgressDisplay::Style::InPlace
                                                               : ProgressDisplay::Style::PerStage;
  ProgressDisplay display(err_, style);
  Context context{options_,
                  log_.Enabled() ? static_cast<D2xx&>(loggingDriver) : env_.driver,
                  image,
                  image_,
                  records_ ? &*records_ : nullptr,
                  env_.out,
                  err_,
                  log_,
                  display,
                  env_.interrupted,
                  document_,
                  errors_};
  return command.run(context);
}

// The record never goes into a file the command reads or writes, nor into the log.
int Program::OpenRecords(const Command& command) {
  if (command.record == nullptr || command.record->empty()) return kSucceeded;
  const std::filesystem::path path = PathFromUtf8(*command.record);
  const std::array<const std::string*, 3> others{command.image, command.output, &options_.log};
  for (const std::string* other : others) {
    if (other != nullptr && !other->empty() && SameFile(path, PathFromUtf8(*other))) {
      return Fail(*command.record +
                      ": the record cannot go into a file the command reads or "
                      "writes, or into the log",
                  kUsage);
    }
  }
  if (const auto problem = AppendTargetProblem(path)) return Fail(problem->Text(), kUsage);
  records_.emplace(path, command.parser->get_name(), image_);
  return kSucceeded;
}

// The log never goes into a file the command reads or writes.
int Program::OpenLog(const Command& command) {
  if (options_.log.empty()) return kSucceeded;
  const std::filesystem::path path = PathFromUtf8(options_.log);
  for (const std::string* other : {command.image, command.output}) {
    if (other != nullptr && !other->empty() && SameFile(path, PathFromUtf8(*other))) {
      return Fail(options_.log + ": the log cannot go into a file the command reads or writes",
                  kUsage);
    }
  }
  if (const auto problem = AppendTargetProblem(path)) return Fail(problem->Text(), kUsage);
  logFile_.open(path, std::ios::app | std::ios::binary);
  if (!logFile_) return Fail(options_.log + ": cannot be written", kUsage);
  log_.AddSink(logSink_.emplace(logFile_));
  return kSucceeded;
}

int Program::Finish(int status) {
  if (logSink_ && logSink_->Error() != 0) {
    Lost(status, NotWritten("the log " + options_.log, logSink_->Error()));
  }
  if (const auto lost = records_ ? records_->Lost() : std::nullopt) {
    Lost(status, "the record could not be written: " + lost->Text());
  }
  if (err_.Error() != 0) Lost(status, NotWritten("standard error", err_.Error()));
  if (options_.json) {
    Json document{{"schema", kDocumentSchema},
                  {"program", "quorvex " QVX_VERSION},
                  {"command", command_},
                  {"status", status},
                  {"imageSha256", image_.sha256.empty() ? Json() : Json(image_.sha256)}};
    if (status != kSucceeded && !errors_.empty()) {
      std::string text;
      for (const std::string& line : errors_) text += (text.empty() ? "" : "\n") + line;
      document["error"] = text;
    }
    document.update(document_);
    // Serial numbers and file names are bytes: any that are not UTF-8 show as U+FFFD.
    env_.out << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  }
  errno = 0;
  env_.out.flush();
  if (!env_.out) Lost(status, NotWritten("standard output", errno));
  return status;
}

}  // namespace

int Run(const std::vector<std::string>& args, const Environment& env) {
  Program program(env);
  return program.Finish(program.Start(args));
}

}  // namespace qvx::cli
