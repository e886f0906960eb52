#include "cli/platform/interrupt.h"

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

#ifdef _WIN32
// Windows ends the process once the handler of a close returns. For a close the handler waits:
// the program closes every link and returns, and its exit ends this thread too.
constexpr DWORD kCloseGraceMs = 10000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  interrupted.store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    Sleep(kCloseGraceMs);
  }
  return TRUE;
}
#else
extern "C" void OnInterrupt(int /*signal*/) {
  interrupted.store(true);
}
#endif

}  // namespace

std::atomic<bool>& InterruptFlag() {
  return interrupted;
}

void InstallInterruptHandlers() {
#ifdef _WIN32
  // Ctrl-C, Ctrl-Break and a close all come as console events; the handler runs first, before
  // the C library's, and takes them all.
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
