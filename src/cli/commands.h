#pragma once

#include <atomic>
#include <ostream>
#include <string>

#include "cli/link_log.h"
#include "cli/options.h"
#include "cli/progress.h"
#include "image/firmware_image.h"

namespace qvx::cli {

// What every command works with, wired once per run.
struct Session {
  const Options& options;
  D2xx& driver;  // logged when asked
  ResourceLoader image;
  std::string imageVersion;
  std::ostream& out;
  SharedStream& err;
  LinkLog& log;
  ProgressDisplay& display;
  const std::atomic<bool>& interrupted;
};

// Each returns the program's exit status.
int List(Session& session);
int Info(Session& session);
int Update(Session& session, bool verify);  // flash, or verify
int Dump(Session& session);

}  // namespace qvx::cli
