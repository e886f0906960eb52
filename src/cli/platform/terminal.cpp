#include "cli/platform/terminal.h"

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace qvx::cli {

void EscapeScreen::Redraw(SharedStream& out, int rows, const std::vector<std::string>& lines) {
  // One write, cursor moves included, so that nothing flickers.
  std::string frame = rows > 0 ? "\x1b[" + std::to_string(rows) + "F" : "\r";
  for (const std::string& line : lines) frame += line + "\x1b[K\n";
  out.Write(frame + "\x1b[J");
}

namespace {

#ifdef _WIN32
// The console driven through its own calls, which every Windows console renders (some take
// escape sequences only in name).
class ConsoleScreen : public Screen {
 public:
  explicit ConsoleScreen(HANDLE console) : console_(console) {}

  int Width() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console_, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
  }

  void Redraw(SharedStream& out, int rows, const std::vector<std::string>& lines) override {
    out.Write("");  // whatever waits in the stream's buffer goes first
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(console_, &info)) return;
    const SHORT top = static_cast<SHORT>(std::max(0, info.dwCursorPosition.Y - rows));
    const auto width = static_cast<::DWORD>(info.dwSize.X);
    // Everything from the frame's first row down to the old cursor is cleared, then written.
    const ::DWORD cells = width * static_cast<::DWORD>(info.dwCursorPosition.Y - top + 1);
    ::DWORD done = 0;
    FillConsoleOutputCharacterW(console_, L' ', cells, {0, top}, &done);
    FillConsoleOutputAttribute(console_, info.wAttributes, cells, {0, top}, &done);
    SetConsoleCursorPosition(console_, {0, top});
    std::string frame;
    for (const std::string& line : lines) frame += line + "\n";
    out.Write(frame);
  }

 private:
  HANDLE console_;
};
#endif

}  // namespace

std::unique_ptr<Screen> ErrorScreen() {
  const char* term = std::getenv("TERM");
  if (term != nullptr && std::strcmp(term, "dumb") == 0) return nullptr;
#ifdef _WIN32
  if (_isatty(_fileno(stderr)) == 0) return nullptr;
  HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(console, &info)) return nullptr;
  return std::make_unique<ConsoleScreen>(console);
#else
  if (isatty(fileno(stderr)) == 0) return nullptr;
  return std::make_unique<EscapeScreen>([] {
    winsize size{};
    return ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
  });
#endif
}

}  // namespace qvx::cli
