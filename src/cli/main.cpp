#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/embedded_firmware.h"
#include "cli/interrupt.h"
#include "cli/terminal.h"
#include "link/system_driver.h"

int main(int argc, char** argv) {
  qvx::cli::InstallInterruptHandlers();
  qvx::SystemDriver driver;
  const qvx::cli::Environment environment{
      driver,    qvx::cli::LoadEmbeddedFirmware,    std::cout,
      std::cerr, qvx::cli::ErrorStreamIsTerminal(), qvx::cli::InterruptFlag()};
  return qvx::cli::Run(std::vector<std::string>(argv + 1, argv + argc), environment);
}
