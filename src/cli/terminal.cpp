#include "cli/terminal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qvx::cli {

bool ErrorStreamIsTerminal() {
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return false;
#ifdef _WIN32
  if (_isatty(_fileno(stderr)) == 0) return false;
  // The console moves the cursor for escape sequences only when asked to.
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(console, &mode) != 0 &&
         SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
  return isatty(fileno(stderr)) != 0;
#endif
}

}  // namespace qvx::cli
