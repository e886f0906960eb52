#include "cli/platform/hook.h"

#include <cerrno>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include "image/file_io.h"

#ifdef _WIN32
#include <windows.h>

#include <vector>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>  // environ, as _GNU_SOURCE has it
#endif

namespace qvx::cli {

#ifdef _WIN32

std::optional<std::string> RunHook(const std::string& command, const std::string& input) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return "could not be started";
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  // Standard error as the child may inherit it, whatever handle this process got.
  HANDLE errors = nullptr;
  DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE), GetCurrentProcess(), &errors,
                  0, TRUE, DUPLICATE_SAME_ACCESS);
  startup.hStdOutput = startup.hStdError = errors;
  // The command as cmd.exe reads it, in UTF-16.
  std::wstring line = L"cmd.exe /d /s /c \"";
  const int size = MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, nullptr, 0);
  std::vector<wchar_t> wide(size > 0 ? size : 1);
  MultiByteToWideChar(CP_UTF8, 0, command.c_str(), -1, wide.data(), size);
  line += wide.data();
  line += L"\"";
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(readEnd);
  if (errors != nullptr) CloseHandle(errors);
  if (!started) {
    CloseHandle(writeEnd);
    return "could not be started";
  }
  ::DWORD written = 0;
  // A command that reads nothing may end before the record is written; only its status counts.
  WriteFile(writeEnd, input.data(), static_cast<::DWORD>(input.size()), &written, nullptr);
  CloseHandle(writeEnd);
  WaitForSingleObject(process.hProcess, INFINITE);
  ::DWORD status = 1;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  if (status == 0) return std::nullopt;
  return "exited with status " + std::to_string(status);
}

#else

std::optional<std::string> RunHook(const std::string& command, const std::string& input) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return "could not be started: " + SystemReason(errno);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[0], STDIN_FILENO);
  // Its output would land in the middle of ours, the JSON document included.
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  const char* const argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t child = 0;
  const int failed =
      posix_spawn(&child, "/bin/sh", &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[0]);
  if (failed != 0) {
    ::close(pipeEnds[1]);
    return "could not be started: " + SystemReason(failed);
  }
  // A command that reads nothing may end before the record is written (EPIPE, with SIGPIPE
  // ignored); only its status counts.
  for (std::size_t sent = 0; sent < input.size();) {
    const ssize_t n = ::write(pipeEnds[1], input.data() + sent, input.size() - sent);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  ::close(pipeEnds[1]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return std::nullopt;
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "exited with status " + std::to_string(WEXITSTATUS(status));
}

#endif

}  // namespace qvx::cli
