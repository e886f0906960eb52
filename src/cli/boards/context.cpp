#include "cli/boards/context.h"

#include <nlohmann/json.hpp>

#include "cli/output/printable.h"
#include "cli/output/results.h"

namespace qvx::cli {

void Context::SayResults(const std::vector<const BoardResult*>& results) const {
  if (!options.json) return PrintTable(out, ResultTable(results));
  for (const BoardResult* r : results) {
    if (r->status != Status::Succeeded) Error(BoardName(r->board, r->port) + ": " + Describe(*r));
  }
  document["image"] = imageInfo.version;
  document["boards"] = nlohmann::ordered_json::array();
  for (const BoardResult* r : results) document["boards"].push_back(BoardJson(*r));
}

}  // namespace qvx::cli
