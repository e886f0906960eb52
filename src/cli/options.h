#pragma once

#include <string>

namespace qvx::cli {

// The command line as parsed.
struct Options {
  std::string command;  // list, info, flash, verify, dump
  std::string serial;   // --serial: the one board to work on
  bool all = false;     // --all: every board in update mode
  std::string image;    // --image: a firmware file instead of the image the program carries
  std::string file;     // dump's target
  bool force = false;   // dump may replace the file
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::string log;  // --log: the link's log to this file too
};

}  // namespace qvx::cli
