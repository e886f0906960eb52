#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cli/platform/shared_stream.h"
#include "cli/platform/terminal.h"

namespace qvx::cli {

// Every board's progress on standard error. In place, on a screen: one line per board, redrawn
// together, never wider than the screen (activity, bar, percentage, bytes done of total, time
// left; on a narrow screen less). Per stage: a line each time a board starts something new, for
// logs and pipes. Quiet: nothing. Whatever else goes to standard error meanwhile goes through
// Say, above the lines.
class ProgressDisplay {
 public:
  enum class Style { InPlace, PerStage, Quiet };

  // In place needs the screen.
  ProgressDisplay(SharedStream& out, Style style, Screen* screen = nullptr)
      : out_(out), style_(screen != nullptr ? style : Style::PerStage), screen_(screen) {
    if (style == Style::Quiet) style_ = Style::Quiet;
  }

  // A line for this board, at the bottom, by its name ("QVX00002 at 1-1.2") and by what a
  // narrow screen shows of it ("1-1.2"); returns its number.
  std::size_t Add(std::string name, std::string shortName);
  // At every block: what the board is doing, and how many of its blocks are done.
  void Show(std::size_t line, const std::string& activity, int done, int total);
  // When the board is done with: what came of it.
  void End(std::size_t line, const std::string& result);
  // When the board has gone away: its line goes too.
  void Remove(std::size_t line);
  // After the last block of every board, so that the final picture stays.
  void Finish();
  // A line of text for standard error, kept above the boards' lines.
  void Say(const std::string& text);

 private:
  using Clock = std::chrono::steady_clock;
  struct Line {
    std::string name;
    std::string shortName;
    std::string activity;
    int done = 0;
    int total = 0;
    Clock::time_point start;
    bool ended = false;
  };

  void Changed(const Line& line, bool newActivity, Clock::time_point now);
  void Draw(Clock::time_point now);
  int DrawnRows() const;  // of the last frame, as the screen wraps its lines now
  std::string Render(const Line& line, std::size_t nameWidth, int width,
                     Clock::time_point now) const;

  SharedStream& out_;
  Style style_;
  Screen* screen_;
  std::mutex lock_;
  std::map<std::size_t, Line> lines_;  // by number, in the order they came; removed ones go
  std::size_t next_ = 0;
  std::vector<int> drawn_;  // the columns of each line of the last frame, which the next replaces
  Clock::time_point lastDraw_{};
};

}  // namespace qvx::cli
