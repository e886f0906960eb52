// Runs a program on a console of its own, presses Ctrl-C there once the program has written
// TEXT on standard error, and then says the program's status and whether FILE (removed first)
// was written meanwhile. Wine passes Ctrl-C on as a console event, but not yet Ctrl-Break.
//   qvx-console-interrupt TEXT FILE PROGRAM ARGS...
#include <windows.h>

#include <cstdio>
#include <string>

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
