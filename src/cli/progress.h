#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "cli/shared_stream.h"

namespace qvx::cli {

// Every board's progress on standard error. In place: one line per board, redrawn together
// (activity, bar, percentage, bytes done of total, time left). Per stage: a line each time a
// board starts something new, for logs and pipes. Quiet: nothing.
class ProgressDisplay {
 public:
  enum class Style { InPlace, PerStage, Quiet };

  ProgressDisplay(SharedStream& out, Style style) : out_(out), style_(style) {}

  // A line for this board, at the bottom; returns its number.
  std::size_t Add(std::string board);
  // At every block: what the board is doing, and how many of its blocks are done.
  void Show(std::size_t line, const std::string& activity, int done, int total);
  // When the board is done with: what came of it.
  void End(std::size_t line, const std::string& result);
  // When the board has gone away: its line goes too.
  void Remove(std::size_t line);
  // After the last block of every board, so that the final picture stays.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  struct Line {
    std::string board;
    std::string activity;
    int done = 0;
    int total = 0;
    Clock::time_point start;
    bool ended = false;
    bool removed = false;
  };

  void Changed(const Line& line, bool newActivity, Clock::time_point now);
  void Draw(Clock::time_point now);
  std::string Render(const Line& line, Clock::time_point now) const;

  SharedStream& out_;
  const Style style_;
  std::mutex lock_;
  std::vector<Line> lines_;
  std::size_t drawn_ = 0;  // lines of the last frame, which the next one overwrites
  Clock::time_point lastDraw_{};
};

}  // namespace qvx::cli
