#pragma once

#include <atomic>

namespace qvx::cli {

// Raised by Ctrl-C (SIGINT), SIGTERM and SIGHUP, and on Windows by Ctrl-Break and the console
// closing, once the handlers are installed. Every board's session takes it as a closed window,
// so each update ends at its next block or read retry.
std::atomic<bool>& InterruptFlag();
// Also ignores SIGPIPE and SIGXFSZ: a reader that went away or a log at the file size limit
// must never kill an update half-way; the failed write is noted instead. A signal the caller
// ignores (nohup, a background job) stays ignored.
void InstallInterruptHandlers();

}  // namespace qvx::cli
