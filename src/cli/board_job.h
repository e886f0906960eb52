#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "app/core.h"
#include "cli/board_view.h"
#include "cli/boards.h"

namespace qvx::cli {

// Where a region's read-back first differs from the image, and in how many blocks.
struct RegionDifference {
  std::string step;
  std::int32_t firstAddress = 0;  // flash address of the first byte that differs
  int blocks = 0;
};

// What came of one board, in a word or two.
enum class Result {
  Ok,
  UpToDate,
  Skipped,
  Differs,
  Failed,
  NotOpened,
  NotInUpdateMode,
  Interrupted
};
const char* ResultText(Result result);  // "ok", "up to date", ...
int ExitStatus(Result result);          // the program's status, were this board the only one

struct Outcome {
  std::string board;  // its serial number, or the description it was opened by
  Result result = Result::Ok;
  std::string message;  // the detail: the failure's text, the differences
  std::string before;   // firmware version before, "1.1"; empty when never asked
  std::string after;    // after a successful update
  std::vector<RegionDifference> differences;
  double seconds = 0;
};

// One board's run: its view, its own Core (link, image arrays, engine) and its outcome.
// Open and Close belong on the main thread, as not every driver takes an open or a close
// beside other calls; the operations between them may run on a thread of their own.
class BoardJob {
 public:
  // serialNumber "" opens the one board by its description.
  BoardJob(D2xx& driver, ResourceLoader image, ProgressDisplay& display,
           const std::atomic<bool>& interrupted, LinkLog& log, const std::string& serialNumber);

  // Opens the link and asks for the versions; false, with the outcome said, when the board
  // cannot be used. The listing, where there is one, tells why a board did not open.
  bool Open(const Listing& listing);
  void Close();

  // The window's update: "Find Device" (purge, "SI", purge, the image), then FlashDevice.
  void Flash();
  // Reads back what an update would write and compares it with the image; writes nothing.
  void Verify();
  // Reads the whole flash into a plain image file.
  void Dump(const std::filesystem::path& file, bool replace);

  // The image arrays and the image, as "Find Device" loads them; false with the outcome said.
  bool LoadImage();
  // Says what came of the board; also for a board the command leaves alone.
  void Finish(Result result, std::string message = {});

  const Core& Board() const { return core_; }
  const Outcome& Summary() const { return outcome_; }

 private:
  void Stopped(const std::string& failure);

  D2xx& driver_;
  const std::atomic<bool>& interrupted_;
  BoardView view_;
  Core core_;
  Outcome outcome_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace qvx::cli
