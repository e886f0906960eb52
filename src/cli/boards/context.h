#pragma once

#include <atomic>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "cli/output/board_result.h"
#include "cli/output/errors.h"
#include "cli/output/link_log.h"
#include "cli/output/progress.h"
#include "cli/output/records.h"
#include "image/firmware_image.h"
#include "link/d2xx.h"

namespace qvx::cli {

// The options every command takes, before or after its name.
struct GlobalOptions {
  bool json = false;
  bool quiet = false;
  bool verbose = false;
  std::string log;       // --log: the link's log to this file too
  std::size_t demo = 0;  // --demo: that many virtual boards; 0 for real ones
};

// What every command works with, wired once per run.
struct Context {
  const GlobalOptions& options;
  D2xx& driver;                               // logged when asked
  std::shared_ptr<const DecodedImage> image;  // decoded once, shared by every board
  ImageInfo imageInfo;
  Records* records;  // where each board's record goes; null when nowhere
  std::ostream& out;
  ErrorChannel& errors;  // all else for standard error
  LinkLog& log;
  ProgressDisplay& display;
  const std::atomic<bool>& interrupted;
  // With --json, the command's own fields; the program adds "command", "status" and "error" and
  // prints the one document whatever way the command ends.
  nlohmann::ordered_json& document;

  void Error(const std::string& text) const { errors.Error(text); }
  // What came of the boards: a table on standard output, or with --json the document's fields
  // and an error line for each board that did not succeed.
  void SayResults(const std::vector<const BoardResult*>& results) const;
};

}  // namespace qvx::cli
