#include "cli/interrupt.h"

#include <csignal>

namespace qvx::cli {

namespace {

// A signal handler can reach nothing but a flag of static storage; constant initialisation
// keeps its first use inside the handler free of any guard.
static_assert(std::atomic<bool>::is_always_lock_free);
constinit std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int signal) {
  // Windows' C library puts the default action back before it calls a handler, so a second
  // Ctrl-C would end the program in the middle of a write: stay in place.
  std::signal(signal, OnInterrupt);
  interrupted.store(true);
}

}  // namespace

std::atomic<bool>& InterruptFlag() {
  return interrupted;
}

void InstallInterruptHandlers() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

}  // namespace qvx::cli
