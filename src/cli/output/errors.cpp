#include "cli/output/errors.h"

namespace qvx::cli {

void ErrorChannel::Through(ProgressDisplay* display) {
  const std::lock_guard guard(lock_);
  display_ = display;
}

void ErrorChannel::Error(const std::string& text) {
  {
    const std::lock_guard guard(lock_);
    errors_.push_back(text);
  }
  Write(text);
}

void ErrorChannel::Say(const std::string& text) {
  Write(text);
}

std::vector<std::string> ErrorChannel::Errors() const {
  const std::lock_guard guard(lock_);
  return errors_;
}

void ErrorChannel::Write(const std::string& text) {
  ProgressDisplay* display = nullptr;
  {
    const std::lock_guard guard(lock_);
    display = display_;
  }
  if (display != nullptr) {
    display->Say("quorvex: " + text + "\n");
  } else {
    err_.Write("quorvex: " + text + "\n");
  }
}

}  // namespace qvx::cli
