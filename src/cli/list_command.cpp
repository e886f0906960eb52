// quorvex list: every board with its versions and update mode; every FTDI device that could not
// be opened, and why.
#include <nlohmann/json.hpp>

#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/report.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

int List(const Context& context) {
  const Listing listing = ListDevices(context.driver);
  // Without a device list, the one board that opens by its description.
  const std::vector<ListedDevice> devices =
      listing.value_or(std::vector<ListedDevice>{{0, "", kBoardDescription, false}});
  Json boards = Json::array();
  Json unopened = Json::array();
  Table rows{{"SERIAL", "DESCRIPTION", "HARDWARE", "FIRMWARE", "UPDATE MODE"}};
  std::vector<std::string> problems;
  ProgressDisplay none(context.err, ProgressDisplay::Style::Quiet);
  for (const ListedDevice& device : devices) {
    if (context.interrupted) return kInterrupted;
    std::string why = "could not be opened: " + OpenAdvice(context.driver, device);
    if (device.IsBoard()) {
      BoardRun run(context, device.serialNumber, none);
      const bool usable = run.Open(listing);
      run.Close();
      why = run.Report().message;
      const bool notInUpdateMode =
          run.Report().outcome && run.Report().outcome->cause == Outcome::Cause::NotInUpdateMode;
      if (usable || notInUpdateMode) {
        const QVXModule& link = run.Session().Link;
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
  if (context.options.json) {
    context.out << Json{{"command", "list"},
                        {"status", status},
                        {"boards", boards},
                        {"unopened", unopened}}
                       .dump(2)
                << "\n";
  } else if (!boards.empty()) {
    PrintTable(context.out, rows);
  }
  if (boards.empty() && problems.empty()) context.Error("no Quorvex board found");
  for (const std::string& problem : problems) context.Error(problem);
  return status;
}

}  // namespace

Command AddList(CLI::App& app) {
  CLI::App* list = app.add_subcommand(
      "list",
      "Every attached board and its versions; every FTDI device that could not be opened, and why");
  return {list, nullptr, List};
}

}  // namespace qvx::cli
