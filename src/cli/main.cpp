#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "board/demo_rack.h"
#include "cli/output/status.h"
#include "cli/platform/embedded_firmware.h"
#include "cli/platform/interrupt.h"
#include "cli/platform/terminal.h"
#include "cli/program.h"
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
  const auto screen = qvx::cli::ErrorScreen();
  const auto demo = [](std::size_t boards, bool station) -> std::unique_ptr<qvx::D2xx> {
    return std::make_unique<qvx::board::DemoRack>(
        boards, station, station ? std::filesystem::path() : qvx::board::DemoFolder());
  };
  const qvx::cli::Environment environment{
      driver,    demo,         qvx::cli::LoadEmbeddedFirmware, std::cout,
      std::cerr, screen.get(), qvx::cli::InterruptFlag()};
  const int status = qvx::cli::Run(args, environment);
  // Without a driver library every open finds nothing: say so, and what to install.
  const bool demoed =
      std::ranges::any_of(args, [](const std::string& arg) { return arg.starts_with("--demo"); });
  if (status == qvx::cli::Code(qvx::cli::Status::NoBoard) && driver.Provider() == nullptr &&
      !demoed) {
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
  // Windows' own way to ask a program for help.
  if (args.size() == 1 && args[0] == "/?") args[0] = "--help";
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
