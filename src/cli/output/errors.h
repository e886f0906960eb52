#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "cli/output/progress.h"
#include "cli/platform/shared_stream.h"

namespace qvx::cli {

// All that goes to standard error besides the progress lines and the link log, one way:
// "quorvex: " and the text, above the boards' lines while they show; the errors are kept for
// the JSON document.
class ErrorChannel {
 public:
  explicit ErrorChannel(SharedStream& err) : err_(err) {}

  // From now on, through the boards' progress lines.
  void Through(ProgressDisplay* display);
  void Error(const std::string& text);
  // A notice or warning, which is no error of the run.
  void Say(const std::string& text);
  std::vector<std::string> Errors() const;

 private:
  void Write(const std::string& text);

  SharedStream& err_;
  ProgressDisplay* display_ = nullptr;
  mutable std::mutex lock_;
  std::vector<std::string> errors_;
};

}  // namespace qvx::cli
