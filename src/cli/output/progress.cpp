#include "cli/output/progress.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "update/stages.h"

namespace qvx::cli {

namespace {

// Often enough to look live, seldom enough that four boards cost nothing to draw.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr int kBarWidth = 24;
constexpr int kNarrowBarWidth = 10;
constexpr std::size_t kActivityWidth = 13;  // "Verify Step 2"
constexpr int kBlockBytes = 4 * kBlockWords;
constexpr int kBytesPerKiB = 1024;

std::string Bar(int done, int total, int width) {
  const int filled = total > 0 ? done * width / total : 0;
  std::string bar(static_cast<std::size_t>(width) + 2, '-');
  bar.front() = '[';
  bar.back() = ']';
  std::fill_n(bar.begin() + 1, filled, '#');
  return bar;
}

// Columns of printable UTF-8 text: one a character.
int Columns(const std::string& text) {
  return static_cast<int>(std::ranges::count_if(
      text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// The text cut to at most that many columns, never inside a character.
std::string Clip(const std::string& text, int columns) {
  std::size_t end = 0;
  for (int seen = 0; end < text.size(); ++end) {
    if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && seen++ == columns) break;
  }
  return text.substr(0, end);
}

std::string Padded(std::string text, std::size_t width) {
  text.resize(std::max(text.size(), width), ' ');
  return text;
}

}  // namespace

std::size_t ProgressDisplay::Add(std::string name, std::string shortName) {
  const std::lock_guard guard(lock_);
  Line& line = lines_[next_];
  line.name = std::move(name);
  line.shortName = std::move(shortName);
  return next_++;
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
  const auto it = lines_.find(line);
  if (it == lines_.end()) return;
  if (style_ == Style::PerStage) out_.Write(it->second.name + ": removed\n");
  lines_.erase(it);
  if (style_ == Style::InPlace) Draw(Clock::now());
}

void ProgressDisplay::Say(const std::string& text) {
  const std::lock_guard guard(lock_);
  if (style_ != Style::InPlace || drawn_.empty()) return out_.Write(text);
  // Where the lines were, and the lines again below it.
  screen_->Redraw(out_, DrawnRows(), {});
  drawn_.clear();
  out_.Write(text);
  Draw(Clock::now());
}

void ProgressDisplay::Changed(const Line& line, bool newActivity, Clock::time_point now) {
  switch (style_) {
    case Style::Quiet:
      break;
    case Style::PerStage:
      if (newActivity) out_.Write(line.name + ": " + line.activity + "\n");
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

// The frame goes over the one drawn last, which takes as many rows as the terminal now wraps its
// lines into (a narrower window wraps them), and no line is as wide as the screen.
int ProgressDisplay::DrawnRows() const {
  const int width = std::max(1, screen_->Width());
  int rows = 0;
  for (const int columns : drawn_) rows += std::max(1, (columns + width - 1) / width);
  return rows;
}

void ProgressDisplay::Draw(Clock::time_point now) {
  const int width = std::max(1, screen_->Width());
  const int rows = DrawnRows();
  std::size_t nameWidth = 0;
  for (const auto& [number, line] : lines_) nameWidth = std::max(nameWidth, line.name.size());
  std::vector<std::string> frame;
  drawn_.clear();
  for (const auto& [number, line] : lines_) {
    frame.push_back(Render(line, nameWidth, width - 1, now));
    drawn_.push_back(Columns(frame.back()));
  }
  screen_->Redraw(out_, rows, frame);
  lastDraw_ = now;
}

// The widest form that fits: every figure; then without the bytes, the time left, a long bar,
// any bar; then the port, step and percentage alone, cut to fit.
std::string ProgressDisplay::Render(const Line& line, std::size_t nameWidth, int width,
                                    Clock::time_point now) const {
  const std::string name = Padded(line.name, nameWidth) + "  ";
  if (line.total == 0 || line.ended) {
    const std::string result = line.activity.empty() ? "waiting" : line.activity;
    const std::string wide = name + result;
    return Clip(Columns(wide) <= width ? wide : line.shortName + " " + result, width);
  }
  const std::string activity = Padded(line.activity, kActivityWidth);
  char figure[64];
  std::snprintf(figure, sizeof figure, "%3d%%", line.done * 100 / line.total);
  const std::string percent = figure;
  std::snprintf(figure, sizeof figure, "  %4d/%d KiB", line.done * kBlockBytes / kBytesPerKiB,
                line.total * kBlockBytes / kBytesPerKiB);
  const std::string bytes = figure;
  std::string left;
  if (line.done > 0) {
    // What is left at the pace so far.
    const auto seconds = static_cast<int>(std::chrono::duration<double>(now - line.start).count() *
                                          (line.total - line.done) / line.done);
    std::snprintf(figure, sizeof figure, "  %d:%02d left", seconds / 60, seconds % 60);
    left = figure;
  }
  const std::string head = name + activity + " ";
  const std::string bar = head + Bar(line.done, line.total, kBarWidth) + " " + percent;
  const std::array<std::string, 4> forms{
      bar + bytes + left, bar + left,
      head + Bar(line.done, line.total, kNarrowBarWidth) + " " + percent, head + percent};
  for (const std::string& form : forms) {
    if (Columns(form) <= width) return form;
  }
  return Clip(line.shortName + " " + line.activity + " " + percent, width);
}

}  // namespace qvx::cli
