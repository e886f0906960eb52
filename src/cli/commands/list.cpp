// quorvex list: every board with its versions and update mode; every FTDI device that could not
// be opened, and why.
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/boards/board_run.h"
#include "cli/commands/command.h"
#include "cli/output/printable.h"
#include "cli/output/results.h"
#include "cli/output/status.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

// Serial number and port of every board the driver lists, a line each with a tab between, no
// board opened: for completion and scripts.
Status Brief(const Context& context, const Listing& listing) {
  Json boards = Json::array();
  for (const ListedDevice& device : listing.value_or(std::vector<ListedDevice>{})) {
    if (!device.IsBoard()) continue;
    if (!context.options.json) context.out << device.serialNumber << '\t' << device.port << '\n';
    Json board = SerialJson(device.serialNumber);
    board["port"] = device.port;
    boards.push_back(board);
  }
  if (context.options.json) context.document["boards"] = boards;
  return boards.empty() ? Status::NoBoard : Status::Succeeded;
}

Status List(const Context& context, bool brief) {
  const Listing listing = ListDevices(context.driver);
  if (brief) return Brief(context, listing);
  // Without a device list, the one board that opens by its description.
  const std::vector<ListedDevice> devices =
      listing.value_or(std::vector<ListedDevice>{{0, "", kBoardDescription, false, "", 0, false}});
  Json boards = Json::array();
  Json unopened = Json::array();
  Table rows{{"SERIAL", "PORT", "DESCRIPTION", "HARDWARE", "FIRMWARE", "UPDATE MODE"}};
  std::vector<std::string> problems;
  std::ostringstream nowhere;  // a listing shows no progress
  SharedStream quiet(nowhere);
  ProgressDisplay none(quiet, ProgressDisplay::Style::Quiet);
  for (const ListedDevice& device : devices) {
    if (context.interrupted) return Status::Interrupted;
    std::string why = "could not be opened: " + OpenAdvice(context.driver, device);
    if (device.IsBoard()) {
      BoardRun run(context, device, none);
      const bool usable = run.Open(listing);
      run.Close();
      why = run.Result().message;
      const bool notInUpdateMode = run.Result().result == "not in update mode";
      if (usable || notInUpdateMode) {
        const std::string hardware = usable ? run.Result().hardware : "-";
        const std::string firmware = usable ? run.Result().before : "-";
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
  const Status status = boards.empty() ? Status::NoBoard : Status::Succeeded;
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
  auto brief = std::make_shared<bool>(false);
  list->add_flag("--brief", *brief,
                 "Serial number and port of each board as the driver lists it, none opened");
  return {list, nullptr, nullptr, nullptr, [brief](Context& c) { return List(c, *brief); }};
}

}  // namespace qvx::cli
