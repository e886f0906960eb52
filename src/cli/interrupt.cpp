#include "cli/interrupt.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qvx::cli {

namespace {

// A signal handler can reach nothing but a flag of static storage; constant initialisation
// keeps its first use inside the handler free of any guard.
static_assert(std::atomic<bool>::is_always_lock_free);
constinit std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int signal) {
#ifdef _WIN32
  // Windows' C library puts the default action back before it calls a handler, so a second
  // Ctrl-C would end the program in the middle of a write: stay in place.
  std::signal(signal, OnInterrupt);
#else
  static_cast<void>(signal);
#endif
  interrupted.store(true);
}

#ifdef _WIN32
// Windows ends the process once the handler of a close returns, and Ctrl-C's console event
// never reaches the C library's SIGINT while this handler takes it. For a close the handler
// waits; the program closes every link and returns, and its exit ends this thread too.
constexpr DWORD kCloseGraceMs = 10000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  interrupted.store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(kCloseGraceMs);
  }
  return TRUE;
}
#endif

}  // namespace

std::atomic<bool>& InterruptFlag() {
  return interrupted;
}

void InstallInterruptHandlers() {
#ifdef _WIN32
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction before {};
    if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    // No SA_RESTART: a write that waits on a reader that never reads ends at the signal.
    action.sa_handler = OnInterrupt;
    sigaction(signal, &action, nullptr);
  }
  action.sa_handler = SIG_IGN;
  for (const int signal : {SIGPIPE, SIGXFSZ}) sigaction(signal, &action, nullptr);
#endif
}

}  // namespace qvx::cli
