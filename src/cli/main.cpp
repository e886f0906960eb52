#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/embedded_firmware.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "link/system_driver.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#endif

namespace {

int Main(const std::vector<std::string>& args) {
  qvx::cli::InstallInterruptHandlers();
  qvx::SystemDriver driver;
  const qvx::cli::Environment environment{
      driver,    qvx::cli::LoadEmbeddedFirmware,    std::cout,
      std::cerr, qvx::cli::ErrorStreamIsTerminal(), qvx::cli::InterruptFlag()};
  const int status = qvx::cli::Run(args, environment);
  // Without a driver library every open finds nothing: say so, and what to install.
  if (status == qvx::cli::kNoBoard && driver.Provider() == nullptr) {
    std::cerr << "quorvex: no driver library could be loaded; " << qvx::SystemDriver::kInstallAdvice
              << "\n";
  }
  return status;
}

}  // namespace

#ifdef _WIN32
// The arguments as the system holds them, in UTF-16, whatever the console's code page: to UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), size, nullptr, nullptr);
    args.push_back(arg);
  }
  // What the program writes is UTF-8 too.
  const UINT codePage = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  const int status = Main(args);
  SetConsoleOutputCP(codePage);
  return status;
}
#else
int main(int argc, char** argv) {
  // A standard stream the caller closed would be the number the next file opened takes, and the
  // output meant for it would land in that file. Each takes /dev/null opened for reading only,
  // so that a write to it still fails.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  return Main(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
