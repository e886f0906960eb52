#pragma once

#include <atomic>

namespace qvx::cli {

// Raised by Ctrl-C (SIGINT) and SIGTERM once the handlers are installed. Every board's view
// reports it as a closed window, so each update ends at its next block.
std::atomic<bool>& InterruptFlag();
void InstallInterruptHandlers();

}  // namespace qvx::cli
