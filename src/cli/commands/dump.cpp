// quorvex dump: the whole flash of one board into a plain image file.
#include <filesystem>
#include <memory>

#include "cli/boards/run_boards.h"
#include "cli/commands/command.h"
#include "cli/output/printable.h"
#include "cli/output/results.h"
#include "cli/output/status.h"
#include "image/file_io.h"

namespace qvx::cli {

namespace {

struct DumpOptions {
  BoardOptions boards;
  RecordOptions record;
  std::string file;
  bool force = false;
};

Status Dump(const Context& context, const DumpOptions& options) {
  const std::filesystem::path file = PathFromUtf8(options.file);
  // What the file system would refuse at the end is refused before the board is read.
  if (const auto problem = WriteTargetProblem(file, options.force)) {
    context.Error(problem->Text() +
                  (problem->reason == kFileExists ? "; --force replaces it" : ""));
    return Status::Usage;
  }
  const BoardsWorked worked =
      WorkOnBoards(context, options.boards, Boards::One,
                   [&file, &options](BoardRun& run) { run.Dump(file, options.force); });
  if (worked.refused) return *worked.refused;
  const BoardResult& r = worked.runs.front()->Result();
  if (r.status != Status::Succeeded) {
    context.Error(BoardName(r.board, r.port) + ": " + Describe(r));
  } else if (context.options.json) {
    context.document = SerialJson(r.board);
    context.document.update({{"port", r.port}, {"file", options.file}, {"firmware", r.before}});
  } else {
    context.out << BoardName(r.board, r.port) << ": flash written to " << options.file
                << " (firmware v" << r.before << ")\n";
  }
  return r.status;
}

}  // namespace

Command AddDump(CLI::App& app) {
  auto options = std::make_shared<DumpOptions>();
  CLI::App* dump = app.add_subcommand("dump", "Read the whole flash into FILE, a plain image");
  AddBoardOptions(dump, options->boards, /*mayTakeAll=*/false);
  dump->add_option("FILE", options->file, "Where the image goes")->required()->check(kNotEmpty);
  dump->add_flag("--force", options->force, "Replace FILE when it is a regular file");
  AddRecordOptions(dump, options->record);
  return {dump, nullptr, &options->file, &options->record,
          [options](Context& c) { return Dump(c, *options); }};
}

}  // namespace qvx::cli
