#pragma once

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>

#include "cli/link_log.h"
#include "cli/progress.h"
#include "update/update_engine.h"

namespace qvx::cli {

// What one board's engine sees instead of a window: the bar feeds the progress display, the
// box is kept as the board's failure, retries go to the log, and an interrupt is a closed
// window.
class BoardView : public UpdateView {
 public:
  BoardView(std::string board, ProgressDisplay& display, const std::atomic<bool>& interrupted,
            LinkLog& log);

  // The engine whose stage the progress names; set once both exist.
  void Watch(const UpdateEngine& engine) { engine_ = &engine; }
  // Before an operation: how many blocks it moves, and what to call it; unnamed, the progress
  // names the stage the engine is in.
  void Expect(int blocks, std::string activity = {});
  const std::optional<Message>& Failure() const { return failure_; }
  // The board's last line of progress: what came of it.
  void Ended(const std::string& result) { display_.End(line_, result); }

  int ProgressValue() const override;
  void SetProgressValue(int value) override;
  void SetProgressMaximum(int /*maximum*/) override {}
  void SetProgressVisible(bool /*visible*/) override {}
  void SetButtonVisible(Button /*button*/, bool /*visible*/) override {}
  void SetStatusText(const std::string& /*text*/) override {}
  void ProcessMessages() override {}
  void ShowMessage(const Message& message) override { failure_ = message; }
  bool IsClosed() const override { return interrupted_; }
  void AttemptFailed(std::int32_t flashAddress, int failedAttempts) override;

 private:
  std::string Activity() const;

  const std::string board_;
  ProgressDisplay& display_;
  const std::size_t line_;
  const std::atomic<bool>& interrupted_;
  LinkLog& log_;
  const UpdateEngine* engine_ = nullptr;
  std::string activity_;
  int value_ = 0;
  // Every pass reads the bar once before its first block and sets it once for each block, so
  // the settings after a pass has begun count the blocks done; the update's own resets of the
  // bar to 0 come before its first pass.
  mutable bool passBegun_ = false;
  int done_ = 0;
  int total_ = 0;
  std::optional<Message> failure_;
};

// The stage whose region starts at that flash address, as its messages name it; "" for none.
std::string StageAt(std::int32_t address);

}  // namespace qvx::cli
