// quorvex info: one board's versions beside the image's, as Find Device shows them.
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/printable.h"
#include "cli/report.h"

namespace qvx::cli {

namespace {

struct InfoOptions {
  BoardOptions boards;
  std::string record;
  std::string image;
};

int Info(const Context& context, const InfoOptions& options) {
  Listing listing;
  std::vector<ListedDevice> chosen;
  if (const auto status = Choose(context, options.boards, false, listing, chosen)) return *status;
  BoardRun run(context, chosen.front(), context.display);
  if (run.Open(listing)) run.Identify();
  run.Close();
  context.display.Finish();
  const BoardReport& r = run.Report();
  if (ExitStatus(r) != kSucceeded) {
    context.Error(BoardName(r.board, r.port) + ": " + Describe(r));
    return ExitStatus(r);
  }
  const BoardSession& session = run.Session();
  if (context.options.json) {
    context.document = SerialJson(r.board);
    context.document.update({{"hardware", VersionText(session.Link.HwMajor, session.Link.HwMinor)},
                             {"firmware", r.before},
                             {"port", r.port},
                             {"image", context.imageInfo.version},
                             {"hardwareText", session.HardwareText()},
                             {"firmwareText", session.FirmwareStatusText()}});
  } else {
    context.out << session.HardwareText() << "\n" << session.FirmwareStatusText() << "\n";
  }
  return kSucceeded;
}

}  // namespace

Command AddInfo(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* info = app.add_subcommand("info", "One board's versions beside the image's");
  AddBoardOptions(info, options->boards, /*mayTakeAll=*/false);
  AddImageOption(info, options->image);
  AddRecordOption(info, options->record);
  return {info, &options->image, nullptr, &options->record,
          [options](Context& c) { return Info(c, *options); }};
}

}  // namespace qvx::cli
