#pragma once

#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "image/firmware_image.h"
#include "link/d2xx.h"

namespace qvx::cli {

// What the program is given from outside; tests hand in their own.
struct Environment {
  D2xx& driver;
  ResourceLoader firmware;  // the image the program carries
  std::ostream& out;
  std::ostream& err;
  bool errIsTerminal = false;
  const std::atomic<bool>& interrupted;
};

// The command line without the program's name; returns the exit status.
int Run(const std::vector<std::string>& args, const Environment& env);

}  // namespace qvx::cli
