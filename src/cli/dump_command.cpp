// quorvex dump: the whole flash of one board into a plain image file.
#include <filesystem>
#include <memory>

#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/printable.h"
#include "cli/report.h"
#include "image/file_io.h"

namespace qvx::cli {

namespace {

struct DumpOptions {
  BoardOptions boards;
  std::string record;
  std::string file;
  bool force = false;
};

int Dump(const Context& context, const DumpOptions& options) {
  const std::filesystem::path file = PathFromUtf8(options.file);
  // What the file system would refuse at the end is refused before the board is read.
  if (const auto problem = WriteTargetProblem(file, options.force)) {
    context.Error(problem->Text() +
                  (problem->reason == kFileExists ? "; --force replaces it" : ""));
    return kUsage;
  }
  Listing listing;
  std::vector<ListedDevice> chosen;
  if (const auto status = Choose(context, options.boards, false, listing, chosen)) return *status;
  BoardRun run(context, chosen.front(), context.display);
  if (run.Open(listing)) run.Dump(file, options.force);
  run.Close();
  context.display.Finish();
  const BoardReport& r = run.Report();
  if (ExitStatus(r) != kSucceeded) {
    context.Error(BoardName(r.board, r.port) + ": " + Describe(r));
  } else if (context.options.json) {
    context.document = SerialJson(r.board);
    context.document.update({{"port", r.port}, {"file", options.file}, {"firmware", r.before}});
  } else {
    context.out << BoardName(r.board, r.port) << ": flash written to " << options.file
                << " (firmware v" << r.before << ")\n";
  }
  return ExitStatus(r);
}

}  // namespace

Command AddDump(CLI::App& app) {
  auto options = std::make_shared<DumpOptions>();
  CLI::App* dump = app.add_subcommand("dump", "Read the whole flash into FILE, a plain image");
  AddBoardOptions(dump, options->boards, /*mayTakeAll=*/false);
  dump->add_option("FILE", options->file, "Where the image goes")->required()->check(kNotEmpty);
  dump->add_flag("--force", options->force, "Replace FILE when it is a regular file");
  AddRecordOption(dump, options->record);
  return {dump, nullptr, &options->file, &options->record,
          [options](Context& c) { return Dump(c, *options); }};
}

}  // namespace qvx::cli
