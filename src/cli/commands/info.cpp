// quorvex info: one board's versions beside the image's, as Find Device shows them.
#include <memory>
#include <nlohmann/json.hpp>

#include "cli/boards/run_boards.h"
#include "cli/commands/command.h"
#include "cli/output/printable.h"
#include "cli/output/results.h"

namespace qvx::cli {

namespace {

struct InfoOptions {
  BoardOptions boards;
  RecordOptions record;
  ImageOptions image;
};

Status Info(const Context& context, const InfoOptions& options) {
  const BoardsWorked worked =
      WorkOnBoards(context, options.boards, Boards::One, [](BoardRun& run) { run.Identify(); });
  if (worked.refused) return *worked.refused;
  const BoardRun& run = *worked.runs.front();
  const BoardResult& r = run.Result();
  if (r.status != Status::Succeeded) {
    context.Error(BoardName(r.board, r.port) + ": " + Describe(r));
    return r.status;
  }
  const BoardVersions board = run.Versions();
  const std::string hardwareText = HardwareText(board.hardware);
  const std::string firmwareText = FirmwareStatusText(board.firmware, run.ImageVersion());
  if (context.options.json) {
    context.document = SerialJson(r.board);
    context.document.update({{"hardware", r.hardware},
                             {"firmware", board.firmware.Text()},
                             {"port", r.port},
                             {"image", context.imageInfo.version},
                             {"hardwareText", hardwareText},
                             {"firmwareText", firmwareText}});
  } else {
    context.out << hardwareText << "\n" << firmwareText << "\n";
  }
  return Status::Succeeded;
}

}  // namespace

Command AddInfo(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* info = app.add_subcommand("info", "One board's versions beside the image's");
  AddBoardOptions(info, options->boards, /*mayTakeAll=*/false);
  AddImageOption(info, options->image, /*mayPin=*/false);
  AddRecordOptions(info, options->record);
  return {info, &options->image, nullptr, &options->record,
          [options](Context& c) { return Info(c, *options); }};
}

}  // namespace qvx::cli
