#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace qvx::cli {

// A stream the boards' threads, the progress display and the log all write to: each text
// goes out whole and at once.
class SharedStream {
 public:
  explicit SharedStream(std::ostream& out) : out_(out) {}

  void Write(std::string_view text) {
    const std::lock_guard guard(lock_);
    out_ << text << std::flush;
  }

 private:
  std::mutex lock_;
  std::ostream& out_;
};

}  // namespace qvx::cli
