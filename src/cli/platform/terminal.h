#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/platform/shared_stream.h"

namespace qvx::cli {

// Standard error as a screen on which a frame of lines is drawn over the one before.
class Screen {
 public:
  virtual ~Screen() = default;
  // Its width in columns, read anew each time: the window may have been resized.
  virtual int Width() = 0;
  // Moves up `rows` rows (those of the frame drawn last, as the terminal wraps them now), draws
  // `lines` there, each narrower than the width, and clears what is left below them.
  virtual void Redraw(SharedStream& out, int rows, const std::vector<std::string>& lines) = 0;
};

// A terminal that takes the common escape sequences, at the width `width` tells.
class EscapeScreen : public Screen {
 public:
  explicit EscapeScreen(std::function<int()> width) : width_(std::move(width)) {}
  int Width() override { return width_(); }
  void Redraw(SharedStream& out, int rows, const std::vector<std::string>& lines) override;

 private:
  std::function<int()> width_;
};

// The screen standard error is; nothing for a pipe, a file, TERM=dumb, or a console that would
// show the sequences as text.
std::unique_ptr<Screen> ErrorScreen();

}  // namespace qvx::cli
