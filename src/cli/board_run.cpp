#include "cli/board_run.h"

#include <cstdio>
#include <utility>

#include "cli/exit_status.h"
#include "cli/printable.h"

namespace qvx::cli {

std::string ResultText(const BoardReport& report) {
  if (report.skipped) return "skipped";
  if (!report.outcome) return "no outcome";
  switch (report.outcome->kind) {
    case Outcome::Kind::Done:
      return report.operation == Operation::Verify ? "up to date" : "ok";
    case Outcome::Kind::Failed:
      return report.operation == Operation::Verify &&
                     report.outcome->cause == Outcome::Cause::Differs
                 ? "differs"
                 : "failed";
    case Outcome::Kind::Cancelled:
      return "interrupted";
    case Outcome::Kind::NotOpened:
      return report.outcome->cause == Outcome::Cause::NotInUpdateMode ? "not in update mode"
                                                                      : "not opened";
  }
  return "no outcome";
}

int ExitStatus(const BoardReport& report) {
  if (report.skipped) return kSucceeded;
  if (!report.outcome) return kFailed;
  switch (report.outcome->kind) {
    case Outcome::Kind::Done:
      return kSucceeded;
    case Outcome::Kind::Failed:
      return kFailed;
    case Outcome::Kind::Cancelled:
      return kInterrupted;
    case Outcome::Kind::NotOpened:
      return kNoBoard;
  }
  return kFailed;
}

BoardRun::BoardRun(const Context& context, const std::string& serialNumber,
                   ProgressDisplay& display)
    : context_(context),
      display_(display),
      line_(display.Add(serialNumber.empty() ? kBoardDescription : Printable(serialNumber))),
      session_(context.driver, context.image, *this),
      start_(std::chrono::steady_clock::now()) {
  session_.Link.SerialNumber = serialNumber;
  report_.board = serialNumber.empty() ? kBoardDescription : serialNumber;
}

void BoardRun::Begin(Operation operation) {
  report_.operation = operation;
  start_ = std::chrono::steady_clock::now();
}

void BoardRun::Finish(Outcome outcome, std::string message) {
  report_.message = message.empty() ? outcome.Text() : std::move(message);
  report_.outcome = std::move(outcome);
  report_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  display_.End(line_, ResultText(report_));
}

void BoardRun::Skip() {
  report_.skipped = true;
  display_.End(line_, ResultText(report_));
}

bool BoardRun::Open(const Listing& listing) {
  Outcome opened = session_.Open();
  if (opened.kind == Outcome::Kind::Done) {
    report_.before = VersionText(session_.Link.FwMajor, session_.Link.FwMinor);
    return true;
  }
  std::string why = WhyNotOpened(context_.driver, listing, session_.Link.SerialNumber, opened);
  Finish(std::move(opened), std::move(why));
  return false;
}

void BoardRun::Close() {
  session_.Close();
}

void BoardRun::Identify() {
  Begin(Operation::Identify);
  Finish(session_.Identify());
}

void BoardRun::Flash() {
  Begin(Operation::Flash);
  Outcome found = session_.Identify();
  if (found.kind != Outcome::Kind::Done) return Finish(std::move(found));
  Outcome flashed = session_.Flash();
  if (flashed.kind == Outcome::Kind::Done) {
    report_.after = VersionText(session_.Image.ImageMajor, session_.Image.ImageMinor);
  }
  Finish(std::move(flashed));
}

void BoardRun::Verify() {
  Begin(Operation::Verify);
  Finish(session_.Verify());
}

void BoardRun::Dump(const std::filesystem::path& file, bool replace) {
  Begin(Operation::Dump);
  Finish(session_.Dump(file, replace));
}

void BoardRun::Started(int blocks, int /*progressMaximum*/) {
  done_ = 0;
  total_ = blocks;
}

void BoardRun::StageStarted(const Stage& stage) {
  activity_ = stage.step == 0 ? "Reading flash" : "Step " + std::to_string(stage.step);
}

void BoardRun::BlockDone() {
  display_.Show(line_, activity_, ++done_, total_);
}

void BoardRun::AttemptFailed(std::int32_t flashAddress, int attempt) {
  if (!context_.log.Enabled()) return;
  char event[96];
  std::snprintf(event, sizeof event, "%s at 0x%04X: attempt %d of %d failed", activity_.c_str(),
                static_cast<unsigned>(flashAddress), attempt, UpdateEngine::kRetryBudget);
  context_.log.Write(report_.board, event);
}

void BoardRun::Purged() {
  if (context_.log.Enabled()) context_.log.Write(report_.board, "purge");
}

void BoardRun::Executed(std::int32_t operand) {
  if (!context_.log.Enabled()) return;
  char event[16];
  std::snprintf(event, sizeof event, "EX 0x%04X", static_cast<unsigned>(operand));
  context_.log.Write(report_.board, event);
}

bool BoardRun::StopNow() {
  return context_.interrupted;
}

// An interrupt also ends a silent board's read retries, which would otherwise last seconds.
bool BoardRun::StopRequested() {
  return context_.interrupted;
}

}  // namespace qvx::cli
