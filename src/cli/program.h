#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "cli/platform/terminal.h"
#include "image/firmware_image.h"
#include "link/d2xx.h"

namespace qvx::cli {

// What the program is given from outside; tests hand in their own.
struct Environment {
  D2xx& driver;
  // Virtual boards in its place for --demo: that many, as a bench's or (`station`) as a station's.
  std::function<std::unique_ptr<D2xx>(std::size_t boards, bool station)> demo;
  ResourceLoader firmware;  // the image the program carries
  std::ostream& out;
  std::ostream& err;
  Screen* screen = nullptr;  // standard error, when it is a screen lines can be redrawn on
  const std::atomic<bool>& interrupted;
};

// The command line without the program's name; returns the exit status.
int Run(const std::vector<std::string>& args, const Environment& env);

}  // namespace qvx::cli
