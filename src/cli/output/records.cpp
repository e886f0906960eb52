#include "cli/output/records.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include "cli/output/board_result.h"
#include "cli/output/results.h"
#include "cli/output/time_text.h"
#include "cli/platform/hook.h"
#include "cli/platform/host_name.h"
#include "image/file_io.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

// 128 random bits in hex: a record's own name, the same wherever its line is copied.
std::string RecordId() {
  std::random_device random;
  std::string id;
  for (int i = 0; i < 4; ++i) {
    char word[9];
    std::snprintf(word, sizeof word, "%08x", static_cast<unsigned>(random()));
    id += word;
  }
  return id;
}

// "2026-12-07T21:00:00.123Z".
std::string UtcNow() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  char fraction[8];
  std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(millis));
  return TimeText(system_clock::to_time_t(now), "%Y-%m-%dT%H:%M:%S", /*utc=*/true) + fraction;
}

}  // namespace

Records::Records(std::optional<std::filesystem::path> file, std::string hook,
                 const std::string& command, const ImageInfo& image, const LineFields& fields,
                 bool demo)
    : file_(std::move(file)),
      hook_(std::move(hook)),
      common_{{"schema", kSchema},
              {"id", ""},
              {"time", ""},
              {"host", HostName()},
              {"program", "quorvex " QVX_VERSION},
              {"command", command},
              {"image",
               {{"source", image.source},
                {"sha256", image.sha256},
                {"version", image.version},
                {"pinned", image.pinned}}}} {
  for (const auto& [key, value] : {std::pair{"lot", fields.lot},
                                   {"workOrder", fields.workOrder},
                                   {"operator", fields.operatorName}}) {
    if (!value.empty()) common_[key] = value;
  }
  if (demo) common_["demo"] = true;
}

std::string Records::Line(const BoardResult& report) const {
  Json line = common_;
  line["id"] = RecordId();
  line["time"] = UtcNow();
  line["port"] = report.port;
  line.update(SerialJson(report.board));
  if (report.serialShared) line["serialShared"] = true;
  line.update({{"hardware", report.hardware},
               {"firmwareBefore", report.before},
               {"firmwareAfter", AfterJson(report)},
               {"result", report.result}});
  if (report.status != Status::Succeeded) {
    line["step"] = report.step;
    line["message"] = report.message;
  }
  if (!report.note.empty()) line["note"] = report.note;
  constexpr double kMilliseconds = 1000;
  line.update({{"retries", report.retries},
               {"seconds", std::round(report.seconds * kMilliseconds) / kMilliseconds}});
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::optional<Problem> Records::Keep(const std::string& line) {
  const std::lock_guard guard(lock_);
  if (lost_) return lost_;
  if (file_) lost_ = AppendDurably(*file_, line);
  if (!lost_ && !hook_.empty()) {
    if (auto failed = RunHook(hook_, line)) lost_ = Problem{"--on-result " + hook_, *failed};
  }
  return lost_;
}

std::optional<Problem> Records::Lost() const {
  const std::lock_guard guard(lock_);
  return lost_;
}

}  // namespace qvx::cli
