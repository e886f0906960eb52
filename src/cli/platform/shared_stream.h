#pragma once

#include <cerrno>
#include <mutex>
#include <ostream>
#include <string_view>

namespace qvx::cli {

// A stream the boards' threads, the progress display and the log all write to: each text
// goes out whole and at once. A write that fails is remembered, and nothing more is tried.
class SharedStream {
 public:
  explicit SharedStream(std::ostream& out) : out_(out) {}

  void Write(std::string_view text) {
    const std::lock_guard guard(lock_);
    if (error_ != 0) return;
    errno = 0;
    out_ << text << std::flush;
    if (!out_) error_ = errno != 0 ? errno : EIO;
  }

  // The system's error number for the write that failed; 0 while every write went out.
  int Error() {
    const std::lock_guard guard(lock_);
    return error_;
  }

 private:
  std::mutex lock_;
  std::ostream& out_;
  int error_ = 0;
};

}  // namespace qvx::cli
