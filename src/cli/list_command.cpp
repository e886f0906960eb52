// quorvex list: every board with its versions and update mode; every FTDI device that could not
// be opened, and why.
#include <nlohmann/json.hpp>

#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/printable.h"
#include "cli/report.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

int List(const Context& context) {
  const Listing listing = ListDevices(context.driver);
  // Without a device list, the one board that opens by its description.
  const std::vector<ListedDevice> devices =
      listing.value_or(std::vector<ListedDevice>{{0, "", kBoardDescription, false, "", 0}});
  Json boards = Json::array();
  Json unopened = Json::array();
  Table rows{{"SERIAL", "PORT", "DESCRIPTION", "HARDWARE", "FIRMWARE", "UPDATE MODE"}};
  std::vector<std::string> problems;
  ProgressDisplay none(context.err, ProgressDisplay::Style::Quiet);
  for (const ListedDevice& device : devices) {
    if (context.interrupted) return kInterrupted;
    std::string why = "could not be opened: " + OpenAdvice(context.driver, device);
    if (device.IsBoard()) {
      BoardRun run(context, device, none);
      const bool usable = run.Open(listing);
      run.Close();
      why = run.Report().message;
      const bool notInUpdateMode =
          run.Report().outcome && run.Report().outcome->cause == Outcome::Cause::NotInUpdateMode;
      if (usable || notInUpdateMode) {
        const QVXModule& link = run.Session().Link;
        const std::string hardware = usable ? VersionText(link.HwMajor, link.HwMinor) : "-";
        const std::string firmware = usable ? VersionText(link.FwMajor, link.FwMinor) : "-";
        Json board = SerialJson(device.serialNumber);
        board.update({{"port", device.port},
                      {"description", device.description},
                      {"hardware", hardware},
                      {"firmware", firmware},
                      {"updateMode", usable}});
        boards.push_back(board);
        rows.push_back({Printable(device.serialNumber), Printable(device.port),
                        Printable(device.description), hardware, firmware, usable ? "yes" : "no"});
        continue;
      }
    }
    Json board = SerialJson(device.serialNumber);
    board.update({{"port", device.port}, {"description", device.description}, {"reason", why}});
    unopened.push_back(board);
    problems.push_back(DeviceName(device) + ": " + why);
  }
  const int status = boards.empty() ? kNoBoard : kSucceeded;
  if (context.options.json) {
    context.document["boards"] = boards;
    context.document["unopened"] = unopened;
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
  return {list, nullptr, nullptr, nullptr, List};
}

}  // namespace qvx::cli
