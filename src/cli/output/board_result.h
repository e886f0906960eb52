#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/outcome.h"
#include "cli/output/status.h"
#include "image/problem.h"

namespace qvx::cli {

enum class Operation { Open, Identify, Flash, Verify, Dump };

// What came of one board: all a finished board keeps.
struct BoardResult {
  std::string board;          // its serial number, blank when the driver gave none
  std::string port;           // where it is plugged in; empty when the driver cannot say
  bool serialShared = false;  // another attached device had the same serial number
  Operation operation = Operation::Open;
  std::string hardware;  // "2.1"; empty when never asked
  std::string before;    // firmware version before, "1.1"; empty when never asked
  std::string after;     // as the board answered when asked after an update; empty for none
  // "ok", "up to date", "differs", "failed", "refused", "not opened", "interrupted", ... and its
  // status. Left as they start only by a defect, which reports as a failure, never a success.
  std::string result = "no outcome";
  Status status = Status::Failed;
  int step = 0;         // the step it failed in; 0 for none
  std::string message;  // what to say of a failure: the outcome's text, or why it did not open
  std::string note;     // what a success does not say by itself: "no answer after the update"
  std::vector<Difference> differences;  // a verify's
  bool unplugged = false;               // it went away before it was done with
  int retries = 0;                      // block attempts that failed and were tried again
  double seconds = 0;
  // What kept its record from the file or the hook: then it is not done with, whatever its result.
  std::optional<Problem> notRecorded;
  bool demo = false;  // a virtual board of a demonstration, which its every word says
};

// "failed at Step 2", "ok, but no answer after the update", "ok (demo)": the result with its step
// or note.
std::string Verdict(const BoardResult& board);
// The status of several boards: the one that wins of theirs.
Status Combined(const std::vector<const BoardResult*>& results);

}  // namespace qvx::cli
