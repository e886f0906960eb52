#pragma once

#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "image/problem.h"

namespace qvx::cli {

struct BoardReport;

// The image a command writes or compares with, as records and documents name it.
struct ImageInfo {
  std::string source;   // the file given with --image, or "embedded"
  std::string sha256;   // of the plain image, the bytes a dump of an updated board holds
  std::string version;  // "1.6"
};

// --record FILE: one JSON line per board outcome, each appended in one write and synced, so that
// several processes may share the file and a line outlives a power cut. Never rewritten.
class Records {
 public:
  static constexpr int kSchema = 1;

  Records(std::filesystem::path path, const std::string& command, const ImageInfo& image);

  // Appends the board's line; a line that could not be written is kept for Lost().
  void Append(const BoardReport& report);
  // What kept a line from the file, the first time; nothing when every line went out.
  std::optional<Problem> Lost() const;

 private:
  const std::filesystem::path path_;
  nlohmann::ordered_json common_;  // the fields every line of this run shares
  mutable std::mutex lock_;
  std::optional<Problem> lost_;
};

}  // namespace qvx::cli
