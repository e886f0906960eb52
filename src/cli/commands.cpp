#include "cli/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>
#include <vector>

#include "cli/board_job.h"
#include "cli/boards.h"
#include "cli/exit_status.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;
using Table = std::vector<std::vector<std::string>>;

void Error(Session& s, const std::string& text) {
  s.err.Write("quorvex: " + text + "\n");
}

// Columns as wide as their widest cell; the last one is not padded.
void Print(std::ostream& out, const Table& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 2, ' ');
    }
    out << line << "\n";
  }
}

std::unique_ptr<BoardJob> MakeJob(Session& s, const std::string& serial, ProgressDisplay& display) {
  return std::make_unique<BoardJob>(s.driver, s.image, display, s.interrupted, s.log, serial);
}

// "failed: Step 1 - Device verify error! ...", "up to date".
std::string Describe(const Outcome& o) {
  return ResultText(o.result) + (o.message.empty() ? "" : ": " + o.message);
}

// A listed device that is no board we could open, and why.
std::string Unopened(Session& s, const ListedDevice& device) {
  return (device.serialNumber.empty() ? "FTDI device" : device.serialNumber) +
         " could not be opened: " + OpenAdvice(s.driver, device);
}

// Finds the boards a command is to work on: the serial numbers ("" for the one board by its
// description). Returns the status to end with when it must not touch any.
std::optional<int> Choose(Session& s, bool mayTakeAll, Listing& listing,
                          std::vector<std::string>& chosen) {
  listing = ListDevices(s.driver);
  if (!s.options.serial.empty()) {
    chosen = {s.options.serial};
    return std::nullopt;
  }
  if (!listing) {
    chosen = {""};
    return std::nullopt;
  }
  std::vector<std::string> boards;
  for (const ListedDevice& device : *listing) {
    if (device.IsBoard()) boards.push_back(device.serialNumber);
  }
  if (boards.empty()) {
    Error(s, "no Quorvex board found");
    for (const ListedDevice& device : *listing) Error(s, Unopened(s, device));
    return kNoBoard;
  }
  if (boards.size() > 1 && !(mayTakeAll && s.options.all)) {
    std::string text = std::to_string(boards.size()) + " boards are attached; choose one with ";
    text += mayTakeAll ? "--serial or take all with --all:" : "--serial:";
    for (const std::string& board : boards) text += "\n  " + board;
    Error(s, text);
    return kUsage;
  }
  chosen = boards;
  return std::nullopt;
}

// The worst that happened, as one status: an interrupt, then a failure, then a board that
// could not be used.
int Combined(const std::vector<std::unique_ptr<BoardJob>>& jobs) {
  for (const int worst : {kInterrupted, kFailed, kNoBoard}) {
    for (const auto& job : jobs) {
      if (ExitStatus(job->Summary().result) == worst) return worst;
    }
  }
  return kSucceeded;
}

Json ToJson(const Outcome& o, bool verify) {
  Json board{{"serial", o.board},
             {"result", ResultText(o.result)},
             {"message", o.message},
             {"firmwareBefore", o.before}};
  if (verify) {
    board["differences"] = Json::array();
    for (const RegionDifference& d : o.differences) {
      board["differences"].push_back(
          {{"step", d.step}, {"firstAddress", d.firstAddress}, {"blocks", d.blocks}});
    }
  } else {
    board["firmwareAfter"] = o.after;
  }
  board["seconds"] = o.seconds;
  return board;
}

void Report(Session& s, const std::vector<std::unique_ptr<BoardJob>>& jobs, bool verify,
            int status) {
  if (s.options.json) {
    Json document{{"command", s.options.command}, {"status", status}, {"image", s.imageVersion}};
    document["boards"] = Json::array();
    for (const auto& job : jobs) document["boards"].push_back(ToJson(job->Summary(), verify));
    s.out << document.dump(2) << "\n";
    return;
  }
  // The result last, as a failure's text is long.
  Table rows{{"SERIAL", "FIRMWARE", "SECONDS", "RESULT"}};
  for (const auto& job : jobs) {
    const Outcome& o = job->Summary();
    char seconds[16];
    std::snprintf(seconds, sizeof seconds, "%.1f", o.seconds);
    rows.push_back(
        {o.board, o.after.empty() ? o.before : o.before + " -> " + o.after, seconds, Describe(o)});
  }
  Print(s.out, rows);
}

}  // namespace

int List(Session& s) {
  const Listing listing = ListDevices(s.driver);
  // Without a device list, the one board that opens by its description.
  const std::vector<ListedDevice> devices =
      listing.value_or(std::vector<ListedDevice>{{0, "", kBoardDescription, false}});
  Json boards = Json::array();
  Json unopened = Json::array();
  Table rows{{"SERIAL", "DESCRIPTION", "HARDWARE", "FIRMWARE", "UPDATE MODE"}};
  std::vector<std::string> problems;
  ProgressDisplay none(s.err, ProgressDisplay::Style::Quiet);
  for (const ListedDevice& device : devices) {
    if (s.interrupted) return kInterrupted;
    std::string why = "could not be opened: " + OpenAdvice(s.driver, device);
    if (device.IsBoard()) {
      const auto job = MakeJob(s, device.serialNumber, none);
      const bool usable = job->Open(listing);
      job->Close();
      why = job->Summary().message;
      if (usable || job->Summary().result == Result::NotInUpdateMode) {
        const QVXModule& link = job->Board().Link;
        const std::string hardware = usable ? VersionText(link.HwMajor, link.HwMinor) : "-";
        const std::string firmware = usable ? VersionText(link.FwMajor, link.FwMinor) : "-";
        boards.push_back({{"serial", device.serialNumber},
                          {"description", device.description},
                          {"hardware", hardware},
                          {"firmware", firmware},
                          {"updateMode", usable}});
        rows.push_back(
            {device.serialNumber, device.description, hardware, firmware, usable ? "yes" : "no"});
        continue;
      }
    }
    unopened.push_back(
        {{"serial", device.serialNumber}, {"description", device.description}, {"reason", why}});
    problems.push_back((device.serialNumber.empty() ? "FTDI device" : device.serialNumber) + ": " +
                       why);
  }
  const int status = boards.empty() ? kNoBoard : kSucceeded;
  if (s.options.json) {
    s.out << Json{{"command", "list"},
                  {"status", status},
                  {"boards", boards},
                  {"unopened", unopened}}
                 .dump(2)
          << "\n";
  } else if (!boards.empty()) {
    Print(s.out, rows);
  }
  if (boards.empty() && problems.empty()) Error(s, "no Quorvex board found");
  for (const std::string& problem : problems) Error(s, problem);
  return status;
}

int Info(Session& s) {
  Listing listing;
  std::vector<std::string> chosen;
  if (const auto status = Choose(s, false, listing, chosen)) return *status;
  ProgressDisplay none(s.err, ProgressDisplay::Style::Quiet);
  const auto job = MakeJob(s, chosen.front(), none);
  const bool usable = job->Open(listing) && job->LoadImage();
  job->Close();
  const Outcome& o = job->Summary();
  if (!usable) {
    Error(s, o.board + ": " + Describe(o));
    return ExitStatus(o.result);
  }
  const Core& core = job->Board();
  if (s.options.json) {
    s.out << Json{{"command", "info"},
                  {"status", kSucceeded},
                  {"serial", o.board},
                  {"hardware", VersionText(core.Link.HwMajor, core.Link.HwMinor)},
                  {"firmware", o.before},
                  {"image", s.imageVersion},
                  {"hardwareText", core.HardwareText()},
                  {"firmwareText", core.FirmwareStatusText()}}
                 .dump(2)
          << "\n";
  } else {
    s.out << core.HardwareText() << "\n" << core.FirmwareStatusText() << "\n";
  }
  return kSucceeded;
}

int Update(Session& s, bool verify) {
  Listing listing;
  std::vector<std::string> chosen;
  if (const auto status = Choose(s, true, listing, chosen)) return *status;
  std::vector<std::unique_ptr<BoardJob>> jobs;
  jobs.reserve(chosen.size());
  for (const std::string& serial : chosen) jobs.push_back(MakeJob(s, serial, s.display));

  std::vector<BoardJob*> ready;
  for (const auto& job : jobs) {
    if (s.interrupted) {
      job->Finish(Result::Interrupted);
    } else if (job->Open(listing)) {
      ready.push_back(job.get());
    } else if (s.options.all && job->Summary().result == Result::NotInUpdateMode) {
      // --all takes the boards in update mode and leaves the others alone.
      job->Finish(Result::Skipped, job->Summary().message);
    }
  }
  if (s.options.all && ready.empty() && Combined(jobs) == kSucceeded) {
    Error(s, "no Quorvex board in update mode");
    return kNoBoard;
  }

  // One thread per board, each with its own link and engine; no board waits for another.
  std::vector<std::thread> threads;
  threads.reserve(ready.size());
  for (BoardJob* job : ready) {
    threads.emplace_back([job, verify] { verify ? job->Verify() : job->Flash(); });
  }
  for (std::thread& thread : threads) thread.join();
  s.display.Finish();
  for (const auto& job : jobs) job->Close();

  const int status = Combined(jobs);
  Report(s, jobs, verify, status);
  return status;
}

int Dump(Session& s) {
  const std::filesystem::path file = s.options.file;
  if (!s.options.force && std::filesystem::exists(file)) {
    Error(s, file.string() + ": exists already; --force replaces it");
    return kUsage;
  }
  Listing listing;
  std::vector<std::string> chosen;
  if (const auto status = Choose(s, false, listing, chosen)) return *status;
  const auto job = MakeJob(s, chosen.front(), s.display);
  if (job->Open(listing)) job->Dump(file, s.options.force);
  job->Close();
  s.display.Finish();
  const Outcome& o = job->Summary();
  if (o.result == Result::Ok) {
    s.out << o.board << ": " << o.message << "\n";
  } else {
    Error(s, o.board + ": " + Describe(o));
  }
  return ExitStatus(o.result);
}

}  // namespace qvx::cli
