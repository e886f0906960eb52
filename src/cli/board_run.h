#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "app/board_session.h"
#include "cli/boards.h"
#include "cli/context.h"

namespace qvx::cli {

enum class Operation { Open, Identify, Flash, Verify, Dump };

// What came of one board.
struct BoardReport {
  std::string board;  // its serial number, or the description it was opened by
  Operation operation = Operation::Open;
  std::string before;  // firmware version before, "1.1"; empty when never asked
  std::string after;   // after a successful update
  // Unset only by a defect, which reports as a failure, never as a success.
  std::optional<Outcome> outcome;
  std::string message;   // what to say of it: the outcome's text, or why the board did not open
  bool skipped = false;  // left alone: --all takes only boards in update mode
  double seconds = 0;
};

// "ok", "up to date", "differs", "failed", "not opened", "interrupted", ...
std::string ResultText(const BoardReport& report);
// The program's status, were this board the only one.
int ExitStatus(const BoardReport& report);

// One board's run: its session (link, image arrays, engine), its line of progress, its log lines
// and its report. Open and Close belong on the main thread, as not every driver takes an open or
// a close beside other calls; the operations between them may run on a thread of their own.
class BoardRun : private UpdateEvents {
 public:
  BoardRun(const Context& context, const std::string& serialNumber, ProgressDisplay& display);

  // Opens the link and asks for the versions; false, with the report finished, when the board
  // cannot be used. The listing, where there is one, tells why a board did not open.
  bool Open(const Listing& listing);
  void Close();

  // Each finishes the report.
  void Identify();  // the Find Device check
  void Flash();     // the Find Device check, then the update
  void Verify();
  void Dump(const std::filesystem::path& file, bool replace);
  // Says what came of the board, in the outcome's words unless `message` says more.
  void Finish(Outcome outcome, std::string message = {});
  void Skip();

  const BoardSession& Session() const { return session_; }
  const BoardReport& Report() const { return report_; }

 private:
  void Begin(Operation operation);

  // UpdateEvents
  void Started(int blocks, int progressMaximum) override;
  void StageStarted(const Stage& stage) override;
  void BlockDone() override;
  void AttemptFailed(std::int32_t flashAddress, int attempt) override;
  void Purged() override;
  void Executed(std::int32_t operand) override;
  bool StopNow() override;
  bool StopRequested() override;

  const Context& context_;
  ProgressDisplay& display_;
  const std::size_t line_;
  BoardSession session_;
  BoardReport report_;
  std::string activity_;
  int done_ = 0;
  int total_ = 0;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace qvx::cli
