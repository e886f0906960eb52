#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "image/problem.h"

namespace qvx::cli {

struct BoardResult;

// The image a command writes or compares with, as records and documents name it.
struct ImageInfo {
  std::string source;   // the file given with --image, or "embedded"
  std::string sha256;   // of the plain image, the bytes a dump of an updated board holds
  std::string version;  // "1.6"
  bool pinned = false;  // --image-sha256 named it before any board was touched
};

// What a line writes into each record: its lot, work order and operator, where given.
struct LineFields {
  std::string lot;
  std::string workOrder;
  std::string operatorName;
};

// Where each board's record goes: --record FILE, one JSON line per board outcome, each appended
// in one write and synced (several processes may share the file, a line outlives a power cut,
// the file is never rewritten); and --on-result CMD, run for each with its line on its input.
class Records {
 public:
  static constexpr int kSchema = 2;

  // Records of a demonstration say so, and count for nothing in a yield.
  Records(std::optional<std::filesystem::path> file, std::string hook, const std::string& command,
          const ImageInfo& image, const LineFields& fields, bool demo);

  // The board's record, a line of JSON with its own id.
  std::string Line(const BoardResult& report) const;
  // Into the file, synced, then to the hook; what kept it from either, which is also kept for
  // Lost(). After a first loss nothing more is taken: no board is done with without its record.
  std::optional<Problem> Keep(const std::string& line);
  // What kept a line from the file or the hook, the first time; nothing while every line went.
  std::optional<Problem> Lost() const;

 private:
  const std::optional<std::filesystem::path> file_;
  const std::string hook_;
  nlohmann::ordered_json common_;  // the fields every line of this run shares
  mutable std::mutex lock_;
  std::optional<Problem> lost_;
};

}  // namespace qvx::cli
