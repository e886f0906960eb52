#include "cli/board_view.h"

#include <cstdio>
#include <utility>

namespace qvx::cli {

std::string StageAt(std::int32_t address) {
  for (const Stage& stage : kStages) {
    if (stage.address == address) return std::string(stage.step);
  }
  return "";
}

BoardView::BoardView(std::string board, ProgressDisplay& display,
                     const std::atomic<bool>& interrupted, LinkLog& log)
    : board_(board),
      display_(display),
      line_(display.Add(std::move(board))),
      interrupted_(interrupted),
      log_(log) {}

void BoardView::Expect(int blocks, std::string activity) {
  activity_ = std::move(activity);
  value_ = 0;
  passBegun_ = false;
  done_ = 0;
  total_ = blocks;
}

int BoardView::ProgressValue() const {
  passBegun_ = true;
  return value_;
}

std::string BoardView::Activity() const {
  if (!activity_.empty() || engine_ == nullptr) return activity_;
  return StageAt(engine_->RegionAddress);
}

void BoardView::SetProgressValue(int value) {
  value_ = value;
  if (!passBegun_) return;
  ++done_;
  display_.Show(line_, Activity(), done_, total_);
}

void BoardView::AttemptFailed(std::int32_t flashAddress, int failedAttempts) {
  if (!log_.Enabled()) return;
  char event[96];
  std::snprintf(event, sizeof event, "%s at 0x%04X: attempt %d of %d failed", Activity().c_str(),
                static_cast<unsigned>(flashAddress), failedAttempts, UpdateEngine::kRetryBudget);
  log_.Write(board_, event);
}

}  // namespace qvx::cli
