#include "cli/program.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <variant>

#include "cli/commands/parser.h"
#include "cli/output/status.h"
#include "image/file_io.h"
#include "image/firmware_file.h"
#include "image/sha256.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

// Of the JSON documents: raised when a field changes meaning or goes away.
constexpr int kDocumentSchema = 2;

std::string NotWritten(const std::string& what, int error) {
  return what + " could not be written" + (error != 0 ? ": " + SystemReason(error) : "");
}

// One run of the program: what it was asked, what it must still say, and whether everything it
// wrote went out.
class Program {
 public:
  explicit Program(const Environment& env)
      : env_(env), err_(env.err), errors_(err_), parser_(options_) {}

  // Parses, checks and runs the command; its status.
  Status Start(const std::vector<std::string>& args);
  // The JSON document, whatever way the run ended, and the checks of what was written: a status
  // that would be a success becomes Status::NotWritten when something was lost.
  Status Finish(Status status);

 private:
  Status Fail(const std::string& text, Status status) {
    errors_.Error(text);
    return status;
  }
  void Lost(Status& status, const std::string& text) {
    status = Worse(status, Status::NotWritten);
    errors_.Error(text);
  }
  // The image checked before any board is touched, and decoded once for them all.
  std::variant<std::shared_ptr<const DecodedImage>, Status> TakeImage(const Command& command);
  Status OpenLog(const Command& command);
  Status OpenRecords(const Command& command);

  const Environment& env_;
  GlobalOptions options_;
  SharedStream err_;
  ErrorChannel errors_;
  Parser parser_;
  Json document_ = Json::object();
  LinkLog log_;
  std::ofstream logFile_;
  std::optional<SharedStream> logSink_;
  ImageInfo image_;
  std::optional<Records> records_;
};

Status Program::Start(const std::vector<std::string>& args) {
  const auto parsed = parser_.Parse(args, env_.out, errors_, document_);
  if (const auto* status = std::get_if<Status>(&parsed)) return *status;
  const Command& command = *std::get<const Command*>(parsed);
  const auto image = TakeImage(command);
  if (const auto* status = std::get_if<Status>(&image)) return *status;
  if (options_.verbose) log_.AddSink(err_);
  if (const Status status = OpenLog(command); status != Status::Succeeded) return status;
  if (const Status status = OpenRecords(command); status != Status::Succeeded) return status;
  std::unique_ptr<D2xx> demo;
  if (options_.demo != 0) {
    if (!env_.demo) return Fail("--demo: this build carries no virtual boards", Status::Usage);
    demo = env_.demo(options_.demo, parser_.CommandName() == "watch");
    errors_.Say("a demonstration on " + std::to_string(options_.demo) + " virtual board" +
                (options_.demo == 1 ? "" : "s") + ": no hardware, no result counts");
  }
  D2xx& driver = demo ? *demo : env_.driver;
  LoggingDriver loggingDriver(driver, log_);

  // The log shares standard error with the progress, so with -v the lines are never redrawn.
  const auto style = options_.quiet      ? ProgressDisplay::Style::Quiet
                     : !options_.verbose ? ProgressDisplay::Style::InPlace
                                         : ProgressDisplay::Style::PerStage;
  ProgressDisplay display(err_, style, env_.screen);
  errors_.Through(&display);
  Context context{options_,
                  log_.Enabled() ? static_cast<D2xx&>(loggingDriver) : driver,
                  std::get<std::shared_ptr<const DecodedImage>>(image),
                  image_,
                  records_ ? &*records_ : nullptr,
                  env_.out,
                  errors_,
                  log_,
                  display,
                  env_.interrupted,
                  document_};
  const Status status = command.run(context);
  errors_.Through(nullptr);
  return status;
}

std::variant<std::shared_ptr<const DecodedImage>, Status> Program::TakeImage(
    const Command& command) {
  const std::string file = command.image != nullptr ? command.image->file : "";
  ResourceLoader loader = env_.firmware;
  if (!file.empty()) {
    FirmwareFile read = ReadFirmwareFile(PathFromUtf8(file));
    if (read.problem) return Fail(read.problem->Text(), Status::Usage);
    loader = ServeContainer(std::move(read.container));
  }
  LoadedImage loaded = LoadImage(loader);
  if (loaded.problem) {
    return Fail("the firmware image is not valid: " + loaded.problem->Text(), Status::Usage);
  }
  const std::string pinned = command.image != nullptr ? command.image->sha256 : "";
  image_ = {file.empty() ? "embedded" : file, Sha256Hex(loaded.image->plain),
            loaded.image->version.Text(), !pinned.empty()};
  if (!pinned.empty() && !std::ranges::equal(pinned, image_.sha256, [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
      })) {
    return Fail("the image's SHA-256 is " + image_.sha256 + ", not the approved " + pinned,
                Status::Usage);
  }
  return std::make_shared<const DecodedImage>(std::move(*loaded.image));
}

// The record never goes into a file the command reads or writes, nor into the log.
Status Program::OpenRecords(const Command& command) {
  if (command.record == nullptr) return Status::Succeeded;
  const RecordOptions& record = *command.record;
  std::optional<std::filesystem::path> file;
  if (!record.file.empty()) {
    file = PathFromUtf8(record.file);
    const std::array<const std::string*, 3> others{
        command.image != nullptr ? &command.image->file : nullptr, command.output, &options_.log};
    for (const std::string* other : others) {
      if (other != nullptr && !other->empty() && SameFile(*file, PathFromUtf8(*other))) {
        return Fail(record.file +
                        ": the record cannot go into a file the command reads or "
                        "writes, or into the log",
                    Status::Usage);
      }
    }
    if (const auto problem = AppendTargetProblem(*file)) {
      return Fail(problem->Text(), Status::Usage);
    }
  }
  if (file || !record.hook.empty()) {
    records_.emplace(file, record.hook, parser_.CommandName(), image_, record.fields,
                     options_.demo != 0);
  }
  return Status::Succeeded;
}

// The log never goes into a file the command reads or writes.
Status Program::OpenLog(const Command& command) {
  if (options_.log.empty()) return Status::Succeeded;
  const std::filesystem::path path = PathFromUtf8(options_.log);
  for (const std::string* other :
       {command.image != nullptr ? &command.image->file : nullptr, command.output}) {
    if (other != nullptr && !other->empty() && SameFile(path, PathFromUtf8(*other))) {
      return Fail(options_.log + ": the log cannot go into a file the command reads or writes",
                  Status::Usage);
    }
  }
  if (const auto problem = AppendTargetProblem(path)) return Fail(problem->Text(), Status::Usage);
  logFile_.open(path, std::ios::app | std::ios::binary);
  if (!logFile_) return Fail(options_.log + ": cannot be written", Status::Usage);
  log_.AddSink(logSink_.emplace(logFile_));
  return Status::Succeeded;
}

Status Program::Finish(Status status) {
  if (logSink_ && logSink_->Error() != 0) {
    Lost(status, NotWritten("the log " + options_.log, logSink_->Error()));
  }
  if (const auto lost = records_ ? records_->Lost() : std::nullopt) {
    Lost(status, "the record could not be written: " + lost->Text());
  }
  if (err_.Error() != 0) Lost(status, NotWritten("standard error", err_.Error()));
  if (options_.json) {
    const std::string command = parser_.CommandName();
    Json document{{"schema", kDocumentSchema},
                  {"program", "quorvex " QVX_VERSION},
                  {"command", command.empty() ? Json() : Json(command)},
                  {"status", Code(status)},
                  {"imageSha256", image_.sha256.empty() ? Json() : Json(image_.sha256)}};
    const std::vector<std::string> errors = errors_.Errors();
    if (status != Status::Succeeded && !errors.empty()) {
      std::string text;
      for (const std::string& line : errors) text += (text.empty() ? "" : "\n") + line;
      document["error"] = text;
    }
    if (options_.demo != 0) document["demo"] = true;
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
  return Code(program.Finish(program.Start(args)));
}

}  // namespace qvx::cli
