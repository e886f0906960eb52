#include "cli/boards/board_run.h"

#include <cstdio>
#include <utility>

#include "cli/output/printable.h"
#include "cli/output/records.h"

namespace qvx::cli {

namespace {

using Kind = Outcome::Kind;
using Cause = Outcome::Cause;

std::string ResultOf(const Outcome& outcome, Operation operation) {
  switch (outcome.kind()) {
    case Kind::Done:
      return operation == Operation::Verify || outcome.upToDate() ? "up to date" : "ok";
    case Kind::Failed:
      if (outcome.cause() == Cause::Older) return "refused";
      if (outcome.cause() == Cause::WrongHardware) return "wrong hardware";
      return operation == Operation::Verify && outcome.cause() == Cause::Differs ? "differs"
                                                                                 : "failed";
    case Kind::Cancelled:
      return "interrupted";
    case Kind::NotOpened:
      return outcome.cause() == Cause::NotInUpdateMode ? "not in update mode"
             : outcome.cause() == Cause::LinkFailed    ? "link failure"
                                                       : "not opened";
  }
  return "no outcome";
}

Status StatusOf(const Outcome& outcome) {
  switch (outcome.kind()) {
    case Kind::Done:
      return Status::Succeeded;
    case Kind::Failed:
      return Status::Failed;
    case Kind::Cancelled:
      return Status::Interrupted;
    case Kind::NotOpened:
      return Status::NoBoard;
  }
  return Status::Failed;
}

}  // namespace

BoardRun::BoardRun(const Context& context, const ListedDevice& device, ProgressDisplay& display)
    : context_(context),
      display_(display),
      line_(display.Add(device.serialNumber.empty() && device.port.empty()
                            ? kBoardDescription
                            : BoardName(device.serialNumber, device.port),
                        Printable(device.port.empty() ? device.serialNumber : device.port))),
      // By its place when the driver can say, so that a serial number shared or blank still
      // names one board.
      session_(context.driver, context.image, *this, {device.serialNumber, device.location}),
      serialNumber_(device.serialNumber),
      location_(device.location),
      start_(std::chrono::steady_clock::now()) {
  // Never the description in its place: a record's serial number must not name every board
  // opened by description as one.
  result_.board = device.serialNumber;
  result_.port = device.port;
  result_.serialShared = device.serialShared;
  result_.demo = context_.options.demo != 0;
  if (context_.log.Enabled()) context_.log.Name(location_, serialNumber_, Name());
}

BoardRun::~BoardRun() {
  if (context_.log.Enabled()) context_.log.Forget(location_, serialNumber_);
}

std::string BoardRun::Name() const {
  return serialNumber_.empty() && result_.port.empty() ? kBoardDescription
                                                       : BoardName(serialNumber_, result_.port);
}

void BoardRun::Begin(Operation operation) {
  result_.operation = operation;
  start_ = std::chrono::steady_clock::now();
}

void BoardRun::Finish(const Outcome& outcome, std::string message) {
  result_.unplugged = outcome.kind() == Kind::Failed && stillThere_ && !stillThere_();
  result_.result = result_.unplugged ? "unplugged" : ResultOf(outcome, result_.operation);
  result_.status = result_.unplugged ? Status::Failed : StatusOf(outcome);
  result_.step = outcome.step();
  result_.message = message.empty() ? outcome.Text() : std::move(message);
  if (result_.status == Status::Succeeded) result_.note = outcome.note();
  if (outcome.firmwareAfter()) result_.after = outcome.firmwareAfter()->Text();
  result_.differences = outcome.differences();
  result_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // On the disk, and taken by the hook, before the board shows as done.
  if (context_.records != nullptr) {
    result_.notRecorded = context_.records->Keep(context_.records->Line(result_));
    if (result_.notRecorded) result_.status = Worse(result_.status, Status::NotWritten);
  }
  display_.End(line_, Verdict(result_));
}

bool BoardRun::Open(const Listing& listing) {
  const Outcome opened = session_.Open();
  if (opened.kind() == Kind::Done) {
    result_.hardware = session_.Versions().hardware.Text();
    result_.before = session_.Versions().firmware.Text();
    return true;
  }
  Finish(opened, WhyNotOpened(context_.driver, listing, serialNumber_, opened));
  return false;
}

void BoardRun::Close() {
  session_.Close();
}

Outcome BoardRun::Identified() {
  Outcome found = session_.Identify();
  result_.hardware = session_.Versions().hardware.Text();
  return found;
}

void BoardRun::Identify() {
  Begin(Operation::Identify);
  Finish(Identified());
}

void BoardRun::Flash(const UpdatePolicy& policy) {
  Begin(Operation::Flash);
  const Outcome found = Identified();
  Finish(found.kind() == Kind::Done ? session_.Update(policy) : found);
}

void BoardRun::Verify() {
  Begin(Operation::Verify);
  Finish(session_.Verify());
}

void BoardRun::Dump(const std::filesystem::path& file, bool replace) {
  Begin(Operation::Dump);
  Finish(session_.Dump(file, replace));
}

void BoardRun::Started(Purpose purpose, int blocks, int /*progressMaximum*/) {
  purpose_ = purpose;
  done_ = 0;
  total_ = blocks;
}

void BoardRun::StageStarted(const Stage& stage) {
  const std::string step = "Step " + std::to_string(stage.step);
  activity_ = purpose_ == Purpose::Dump    ? "Reading flash"
              : purpose_ == Purpose::Check ? "Verify " + step
                                           : step;
}

void BoardRun::BlockDone() {
  display_.Show(line_, activity_, ++done_, total_);
}

void BoardRun::AttemptFailed(std::int32_t flashAddress, int attempt) {
  ++result_.retries;
  if (!context_.log.Enabled()) return;
  char event[96];
  std::snprintf(event, sizeof event, "%s at 0x%04X: attempt %d of %d failed", activity_.c_str(),
                static_cast<unsigned>(flashAddress), attempt, UpdateEngine::kRetryBudget);
  context_.log.Write(Name(), event);
}

void BoardRun::Purged() {
  if (context_.log.Enabled()) context_.log.Write(Name(), "purge");
}

void BoardRun::Executed(std::int32_t operand) {
  if (!context_.log.Enabled()) return;
  char event[16];
  std::snprintf(event, sizeof event, "EX 0x%04X", static_cast<unsigned>(operand));
  context_.log.Write(Name(), event);
}

bool BoardRun::StopNow() {
  return context_.interrupted;
}

// An interrupt also ends a silent board's read retries, which would otherwise last seconds.
bool BoardRun::StopRequested() {
  return context_.interrupted;
}

}  // namespace qvx::cli
