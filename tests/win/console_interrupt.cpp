// Runs a program on a console of its own, presses Ctrl-C there once the program has written
// TEXT on standard error, and then says the program's status and whether FILE (removed first)
// was written meanwhile. Wine passes Ctrl-C on as a console event, but not yet Ctrl-Break.
// With TEXT "-", nothing is pressed: the program writes on the console itself, and once it ends
// each row the console shows is printed, as the operator would read it.
//   qvx-console-interrupt TEXT FILE PROGRAM ARGS...
#include <windows.h>

#include <cstdio>
#include <string>

// The program on the console, then the console's rows on `output`.
int ShowConsole(std::wstring& command, HANDLE output) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE console =
      CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = console;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process) == FALSE) {
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  GetConsoleScreenBufferInfo(console, &info);
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring cells(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, cells.data(), info.dwSize.X, {0, row}, &read);
    std::string line(cells.begin(), cells.begin() + read);  // ASCII
    line.erase(line.find_last_not_of(' ') + 1);
    line += "\n";
    DWORD written = 0;
    WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  DeleteFileW(argv[2]);
  std::wstring command;
  for (int i = 3; i < argc; ++i) command += std::wstring(i > 3 ? L" \"" : L"\"") + argv[i] + L"\"";
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE errors = nullptr;
  HANDLE errorsOut = nullptr;
  CreatePipe(&errors, &errorsOut, &inherited, 0);
  SetHandleInformation(errors, HANDLE_FLAG_INHERIT, 0);
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  FreeConsole();  // Wine's stand-in for a console, started from Unix, takes no events
  AllocConsole();
  if (std::wstring(argv[1]) == L"-") return ShowConsole(command, output);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = errorsOut;
  PROCESS_INFORMATION process{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &process) == FALSE) {
    return 3;
  }
  CloseHandle(errorsOut);
  SetConsoleCtrlHandler(nullptr, TRUE);  // the Ctrl-C is the program's alone
  const std::wstring wide = argv[1];
  const std::string text(wide.begin(), wide.end());  // ASCII
  std::string seen;
  char buffer[256];
  DWORD got = 0;
  bool sent = false;
  // Reads to the end, so that the program never waits on a full pipe.
  while (ReadFile(errors, buffer, sizeof buffer, &got, nullptr) != FALSE && got > 0) {
    seen.append(buffer, got);
    if (!sent && seen.find(text) != std::string::npos) {
      sent = GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
    }
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  const bool written = GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES;
  std::printf("Ctrl-C %s, status %lu, file %s\n", sent ? "pressed" : "not pressed", status,
              written ? "written" : "missing");
  return 0;
}
