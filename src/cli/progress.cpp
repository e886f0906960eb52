#include "cli/progress.h"

#include <algorithm>
#include <cstdio>

#include "update/stages.h"

namespace qvx::cli {

namespace {

// Often enough to look live, seldom enough that four boards cost nothing to draw.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;
constexpr std::size_t kActivityWidth = 13;  // "Verify Step 2"
constexpr int kBlockBytes = 4 * kBlockWords;
constexpr int kBytesPerKiB = 1024;

std::string Bar(int done, int total) {
  const int filled = total > 0 ? done * kBarWidth / total : 0;
  std::string bar(kBarWidth + 2, '-');
  bar.front() = '[';
  bar.back() = ']';
  std::fill_n(bar.begin() + 1, filled, '#');
  return bar;
}

}  // namespace

std::size_t ProgressDisplay::Add(std::string board) {
  const std::lock_guard guard(lock_);
  lines_.emplace_back();
  lines_.back().board = std::move(board);
  return lines_.size() - 1;
}

void ProgressDisplay::Show(std::size_t line, const std::string& activity, int done, int total) {
  const std::lock_guard guard(lock_);
  const Clock::time_point now = Clock::now();
  Line& l = lines_.at(line);
  if (done > 0 && (l.done == 0 || done < l.done)) l.start = now;  // a new pass: its own pace
  const bool newActivity = l.activity != activity;
  l.activity = activity;
  l.done = done;
  l.total = total;
  Changed(l, newActivity, now);
}

void ProgressDisplay::End(std::size_t line, const std::string& result) {
  const std::lock_guard guard(lock_);
  Line& l = lines_.at(line);
  l.activity = result;
  l.ended = true;
  Changed(l, true, Clock::now());
}

void ProgressDisplay::Remove(std::size_t line) {
  const std::lock_guard guard(lock_);
  Line& l = lines_.at(line);
  l.removed = true;
  if (style_ == Style::PerStage) out_.Write(l.board + ": removed\n");
  if (style_ == Style::InPlace) Draw(Clock::now());
}

void ProgressDisplay::Changed(const Line& line, bool newActivity, Clock::time_point now) {
  switch (style_) {
    case Style::Quiet:
      break;
    case Style::PerStage:
      if (newActivity) out_.Write(line.board + ": " + line.activity + "\n");
      break;
    case Style::InPlace:
      if (newActivity || now - lastDraw_ >= kRedrawInterval) Draw(now);
      break;
  }
}

void ProgressDisplay::Finish() {
  const std::lock_guard guard(lock_);
  if (style_ == Style::InPlace && !lines_.empty()) Draw(Clock::now());
}

// The whole frame goes out in one write, cursor moves included, so nothing flickers.
void ProgressDisplay::Draw(Clock::time_point now) {
  std::string frame;
  if (drawn_ > 0) frame = "\x1b[" + std::to_string(drawn_) + "F";  // to the first line's start
  drawn_ = 0;
  for (const Line& line : lines_) {
    if (line.removed) continue;
    frame += Render(line, now) + "\x1b[K\n";
    ++drawn_;
  }
  out_.Write(frame + "\x1b[J");  // what was below, when a line went

  lastDraw_ = now;
}

std::string ProgressDisplay::Render(const Line& line, Clock::time_point now) const {
  std::size_t boardWidth = 0;
  for (const Line& l : lines_) {
    if (!l.removed) boardWidth = std::max(boardWidth, l.board.size());
  }
  std::string text = line.board + std::string(boardWidth - line.board.size(), ' ') + "  ";
  if (line.total == 0) return text + (line.activity.empty() ? "waiting" : line.activity);
  std::string activity = line.activity;
  activity.resize(std::max<std::size_t>(activity.size(), kActivityWidth), ' ');
  text += activity + " " + Bar(line.done, line.total);
  char figures[64];
  std::snprintf(figures, sizeof figures, " %3d%%  %4d/%d KiB", line.done * 100 / line.total,
                line.done * kBlockBytes / kBytesPerKiB, line.total * kBlockBytes / kBytesPerKiB);
  text += figures;
  if (line.ended || line.done == 0) return text;
  // What is left at the pace so far.
  const auto left = static_cast<int>(std::chrono::duration<double>(now - line.start).count() *
                                     (line.total - line.done) / line.done);
  std::snprintf(figures, sizeof figures, "  %d:%02d left", left / 60, left % 60);
  return text + figures;
}

}  // namespace qvx::cli
