#pragma once

#include <atomic>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/link_log.h"
#include "cli/progress.h"
#include "cli/records.h"
#include "cli/shared_stream.h"
#include "image/firmware_image.h"
#include "link/d2xx.h"

namespace qvx::cli {

// The options every command takes, before or after its name.
struct GlobalOptions {
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::string log;  // --log: the link's log to this file too
};

// What every command works with, wired once per run.
struct Context {
  const GlobalOptions& options;
  D2xx& driver;  // logged when asked
  ResourceLoader image;
  ImageInfo imageInfo;
  Records* records;  // --record's file; null without one
  std::ostream& out;
  SharedStream& err;
  LinkLog& log;
  ProgressDisplay& display;
  const std::atomic<bool>& interrupted;
  // With --json, the command's own fields; the program adds "command", "status" and "error" and
  // prints the one document whatever way the command ends.
  nlohmann::ordered_json& document;
  std::vector<std::string>& errors;  // every error line, for the document

  // "quorvex: <text>" on standard error.
  void Error(const std::string& text) const {
    errors.push_back(text);
    err.Write("quorvex: " + text + "\n");
  }
};

}  // namespace qvx::cli
