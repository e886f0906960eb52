#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/embedded_firmware.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "link/system_driver.h"

int main(int argc, char** argv) {
  qvx::cli::InstallInterruptHandlers();
  qvx::SystemDriver driver;
  const qvx::cli::Environment environment{
      driver,    qvx::cli::LoadEmbeddedFirmware,    std::cout,
      std::cerr, qvx::cli::ErrorStreamIsTerminal(), qvx::cli::InterruptFlag()};
  const int status = qvx::cli::Run(std::vector<std::string>(argv + 1, argv + argc), environment);
  // Without a driver library every open finds nothing: say so, and what to install.
  if (status == qvx::cli::kNoBoard && driver.Provider() == nullptr) {
    std::cerr << "quorvex: no driver library could be loaded; " << qvx::SystemDriver::kInstallAdvice
              << "\n";
  }
  return status;
}
