#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
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
  std::string port;   // where it is plugged in; empty when the driver cannot say
  Operation operation = Operation::Open;
  std::string hardware;  // "2.1"; empty when never asked
  std::string before;    // firmware version before, "1.1"; empty when never asked
  std::string after;     // as the board gave it after an update
  // Unset only by a defect, which reports as a failure, never as a success.
  std::optional<Outcome> outcome;
  std::string message;     // what to say of it: the outcome's text, or why the board did not open
  bool upToDate = false;   // a flash that found the image there already and wrote nothing
  bool unplugged = false;  // it went away before it was done with
  int retries = 0;         // block attempts that failed and were tried again
  double seconds = 0;
};

// "ok", "up to date", "differs", "failed", "refused", "not opened", "interrupted", ...
std::string ResultText(const BoardReport& report);
// "failed at Step 2": the result with the step it ended in.
std::string Verdict(const BoardReport& report);
// The program's status, were this board the only one.
int ExitStatus(const BoardReport& report);

// How a flash goes about a board: what the command line adds to the window's update.
struct FlashPolicy {
  bool ifNeeded = false;     // verify first, and write nothing to a board that holds the image
  bool allowOlder = false;   // write an image older than the board's firmware
  bool verifyAfter = false;  // read the whole image back once it is written
};

// One board's run: its session (link, image arrays, engine), its line of progress, its log
// lines, its report and its record. Open and Close belong on the main thread, as not every
// driver takes an open or a close beside other calls; the operations between them may run on a
// thread of their own.
class BoardRun : private UpdateEvents {
 public:
  BoardRun(const Context& context, const ListedDevice& device, ProgressDisplay& display);

  // Opens the link and asks for the versions; false, with the report finished, when the board
  // cannot be used. The listing, where there is one, tells why a board did not open.
  bool Open(const Listing& listing);
  void Close();

  // Each finishes the report.
  void Identify();                        // the Find Device check
  void Flash(const FlashPolicy& policy);  // the Find Device check, then the update
  void Verify();
  void Dump(const std::filesystem::path& file, bool replace);
  // Says what came of the board, in the outcome's words unless `message` says more, and records
  // it.
  void Finish(Outcome outcome, std::string message = {});
  // Asked when the board fails: false when it was pulled out, which its result then says.
  void CheckPresence(std::function<bool()> stillThere) { stillThere_ = std::move(stillThere); }

  const BoardSession& Session() const { return session_; }
  const BoardReport& Report() const { return report_; }
  std::size_t Line() const { return line_; }

 private:
  void Begin(Operation operation);
  // The Find Device check, and the versions it gave.
  Outcome Identified();
  // The session's verify, its stages shown as a check rather than a write.
  Outcome Checked();

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
  bool checking_ = false;
  int done_ = 0;
  int total_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::function<bool()> stillThere_;
};

}  // namespace qvx::cli
