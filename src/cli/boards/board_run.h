#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/board_session.h"
#include "cli/boards/context.h"
#include "cli/boards/listing.h"
#include "cli/output/board_result.h"
#include "cli/output/status.h"

namespace qvx::cli {

// One board's run: its session (link, image arrays, engine), its line of progress, its log
// lines, its report and its record. Open and Close belong on the main thread; the operations
// between them may run on a thread of their own.
class BoardRun : private UpdateEvents {
 public:
  BoardRun(const Context& context, const ListedDevice& device, ProgressDisplay& display);
  ~BoardRun() override;

  // Opens the link and asks for the versions; false, with the report finished, when the board
  // cannot be used. The listing, where there is one, tells why a board did not open.
  bool Open(const Listing& listing);
  void Close();

  // Each finishes the report.
  void Identify();                         // the Find Device check
  void Flash(const UpdatePolicy& policy);  // the Find Device check, then the update
  void Verify();
  void Dump(const std::filesystem::path& file, bool replace);
  // Says what came of the board, in the outcome's words unless `message` says more, and records
  // it: the board is done with only once its record is kept.
  void Finish(const Outcome& outcome, std::string message = {});
  // Asked when the board fails: false when it was pulled out, which its result then says.
  void CheckPresence(std::function<bool()> stillThere) { stillThere_ = std::move(stillThere); }

  // What the board said to its last "SI", and the image's version once it was loaded.
  BoardVersions Versions() const { return session_.Versions(); }
  Version ImageVersion() const { return session_.ImageVersion(); }
  const BoardResult& Result() const { return result_; }
  std::size_t Line() const { return line_; }

 private:
  void Begin(Operation operation);
  // The Find Device check, and the hardware version it gave.
  Outcome Identified();
  std::string Name() const;  // "QVX00002 at 1-1.2", as results and the log name it

  // UpdateEvents
  void Started(Purpose purpose, int blocks, int progressMaximum) override;
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
  const std::string serialNumber_;  // as listed; empty for the board opened by its description
  const DWORD location_;
  BoardResult result_;
  std::string activity_;
  Purpose purpose_ = Purpose::Update;
  int done_ = 0;
  int total_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::function<bool()> stillThere_;
};

}  // namespace qvx::cli
