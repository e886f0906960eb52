// quorvex flash and quorvex verify: one board, or with --all every board at once, each on its
// own thread with its own link and session.
#include <memory>

#include "cli/boards/run_boards.h"
#include "cli/commands/command.h"

namespace qvx::cli {

namespace {

struct UpdateOptions {
  BoardOptions boards;
  ImageOptions image;
  RecordOptions record;
  // Older images refused unless allowed; the board asked its version after.
  UpdatePolicy policy{.hardware = {},
                      .refuseOlder = true,
                      .ifNeeded = false,
                      .askAfter = true,
                      .requireVersion = false,
                      .checkAfter = false};
};

Status Update(const Context& context, const UpdateOptions& options, Operation operation) {
  const BoardsWorked worked =
      WorkOnBoards(context, options.boards, Boards::Many, [&options, operation](BoardRun& run) {
        operation == Operation::Verify ? run.Verify() : run.Flash(options.policy);
      });
  if (worked.refused) return *worked.refused;
  context.SayResults(worked.Results());
  return worked.Worst();
}

Command AddUpdate(CLI::App& app, const char* name, const char* description, Operation operation) {
  auto options = std::make_shared<UpdateOptions>();
  CLI::App* command = app.add_subcommand(name, description);
  AddBoardOptions(command, options->boards, /*mayTakeAll=*/true);
  AddImageOption(command, options->image, /*mayPin=*/operation == Operation::Flash);
  AddRecordOptions(command, options->record);
  if (operation == Operation::Flash) {
    AddUpdatePolicyOptions(command, options->policy);
  }
  return {command, &options->image, nullptr, &options->record,
          [options, operation](Context& c) { return Update(c, *options, operation); }};
}

}  // namespace

Command AddFlash(CLI::App& app) {
  return AddUpdate(app, "flash", "Write the image into the board's flash", Operation::Flash);
}

Command AddVerify(CLI::App& app) {
  return AddUpdate(app, "verify", "Compare the board's flash with the image; writes nothing",
                   Operation::Verify);
}

}  // namespace qvx::cli
