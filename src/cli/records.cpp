#include "cli/records.h"

#include <array>
#include <chrono>
#include <cmath>
#include <ctime>

#include "cli/board_run.h"
#include "cli/exit_status.h"
#include "cli/report.h"
#include "cli/time_text.h"
#include "image/file_io.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

// The machine's name, as records give it.
std::string HostName() {
#ifdef _WIN32
  std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
  ::DWORD size = name.size();
  return GetComputerNameA(name.data(), &size) ? std::string(name.data(), size) : std::string();
#else
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return {};
  return name.data();
#endif
}

}  // namespace

Records::Records(std::filesystem::path path, const std::string& command, const ImageInfo& image)
    : path_(std::move(path)),
      common_{{"schema", kSchema},
              {"time", ""},
              {"host", HostName()},
              {"program", "quorvex " QVX_VERSION},
              {"command", command},
              {"image",
               {{"source", image.source}, {"sha256", image.sha256}, {"version", image.version}}}} {}

void Records::Append(const BoardReport& report) {
  Json line = common_;
  line["time"] = TimeText(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()),
                          "%Y-%m-%dT%H:%M:%SZ", /*utc=*/true);
  line["port"] = report.port;
  line.update(SerialJson(report.board));
  line.update({{"hardware", report.hardware},
               {"firmwareBefore", report.before},
               {"firmwareAfter", report.after},
               {"result", ResultText(report)}});
  if (ExitStatus(report) != kSucceeded) {
    line["step"] = report.outcome ? report.outcome->step : 0;
    line["message"] = report.message;
  }
  constexpr double kMilliseconds = 1000;
  line.update({{"retries", report.retries},
               {"seconds", std::round(report.seconds * kMilliseconds) / kMilliseconds}});
  const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
  const std::lock_guard guard(lock_);
  const auto problem = AppendDurably(path_, text);
  if (problem && !lost_) lost_ = problem;
}

std::optional<Problem> Records::Lost() const {
  const std::lock_guard guard(lock_);
  return lost_;
}

}  // namespace qvx::cli
