#include "cli/board_run.h"

#include <cstdio>
#include <utility>

#include "cli/exit_status.h"
#include "cli/records.h"

namespace qvx::cli {

std::string ResultText(const BoardReport& report) {
  if (report.unplugged) return "unplugged";
  if (!report.outcome) return "no outcome";
  switch (report.outcome->kind) {
    case Outcome::Kind::Done:
      return report.operation == Operation::Verify || report.upToDate ? "up to date" : "ok";
    case Outcome::Kind::Failed:
      if (report.outcome->cause == Outcome::Cause::Older) return "refused";
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

std::string Verdict(const BoardReport& report) {
  const int step = report.outcome ? report.outcome->step : 0;
  if (step == 0 || ExitStatus(report) == kSucceeded) return ResultText(report);
  return ResultText(report) + (report.unplugged ? " in Step " : " at Step ") + std::to_string(step);
}

int ExitStatus(const BoardReport& report) {
  if (report.unplugged || !report.outcome) return kFailed;
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

BoardRun::BoardRun(const Context& context, const ListedDevice& device, ProgressDisplay& display)
    : context_(context),
      display_(display),
      line_(display.Add(device.serialNumber.empty() && device.port.empty()
                            ? kBoardDescription
                            : BoardName(device.serialNumber, device.port))),
      session_(context.driver, context.image, *this),
      start_(std::chrono::steady_clock::now()) {
  session_.Link.SerialNumber = device.serialNumber;
  // By its place when the driver can say, so that a serial number shared or blank still
  // names one board.
  session_.Link.LocationId = device.location;
  report_.board =
      device.serialNumber.empty() && device.location == 0 ? kBoardDescription : device.serialNumber;
  report_.port = device.port;
}

void BoardRun::Begin(Operation operation) {
  report_.operation = operation;
  start_ = std::chrono::steady_clock::now();
}

void BoardRun::Finish(Outcome outcome, std::string message) {
  report_.unplugged = outcome.kind == Outcome::Kind::Failed && stillThere_ && !stillThere_();
  report_.message = message.empty() ? outcome.Text() : std::move(message);
  report_.outcome = std::move(outcome);
  report_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // On the disk before the board shows as passed.
  if (context_.records != nullptr) context_.records->Append(report_);
  display_.End(line_, Verdict(report_));
}

bool BoardRun::Open(const Listing& listing) {
  Outcome opened = session_.Open();
  if (opened.kind == Outcome::Kind::Done) {
    report_.hardware = VersionText(session_.Link.HwMajor, session_.Link.HwMinor);
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

Outcome BoardRun::Identified() {
  Outcome found = session_.Identify();
  report_.hardware = VersionText(session_.Link.HwMajor, session_.Link.HwMinor);
  return found;
}

void BoardRun::Identify() {
  Begin(Operation::Identify);
  Finish(Identified());
}

void BoardRun::Flash(const FlashPolicy& policy) {
  Begin(Operation::Flash);
  Outcome found = Identified();
  if (found.kind != Outcome::Kind::Done) return Finish(std::move(found));
  const QVXModule& link = session_.Link;
  const FirmwareImage& image = session_.Image;
  if (!policy.allowOlder &&
      std::pair(image.ImageMajor, image.ImageMinor) < std::pair(link.FwMajor, link.FwMinor)) {
    return Finish(Outcome::Failed(Outcome::Cause::Older, {std::string(text::kOlderImage), ""}));
  }
  if (policy.ifNeeded) {
    Outcome compared = Checked();
    if (compared.kind == Outcome::Kind::Done) {
      report_.upToDate = true;
      report_.after = report_.before;
      return Finish(std::move(compared));
    }
    if (compared.cause != Outcome::Cause::Differs) return Finish(std::move(compared));
  }
  Outcome flashed = session_.Flash();
  if (flashed.kind != Outcome::Kind::Done) return Finish(std::move(flashed));
  // The version the new firmware gives, not the one the image claims.
  Outcome asked = Identified();
  if (asked.kind != Outcome::Kind::Done) return Finish(std::move(asked));
  report_.after = VersionText(link.FwMajor, link.FwMinor);
  Finish(policy.verifyAfter ? Checked() : std::move(flashed));
}

void BoardRun::Verify() {
  Begin(Operation::Verify);
  Finish(Checked());
}

Outcome BoardRun::Checked() {
  checking_ = true;
  Outcome compared = session_.Verify();
  checking_ = false;
  return compared;
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
  const std::string step = "Step " + std::to_string(stage.step);
  activity_ = stage.step == 0 ? "Reading flash" : checking_ ? "Verify " + step : step;
}

void BoardRun::BlockDone() {
  display_.Show(line_, activity_, ++done_, total_);
}

void BoardRun::AttemptFailed(std::int32_t flashAddress, int attempt) {
  ++report_.retries;
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
