// quorvex flash and quorvex verify: one board, or with --all every board in update mode at once,
// each on its own thread with its own link and session.
#include <memory>
#include <thread>
#include <vector>

#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/report.h"

namespace qvx::cli {

namespace {

struct UpdateOptions {
  BoardOptions boards;
  std::string image;
};

int Update(const Context& context, const UpdateOptions& options, Operation operation) {
  Listing listing;
  std::vector<std::string> chosen;
  if (const auto status = Choose(context, options.boards, true, listing, chosen)) return *status;
  std::vector<std::unique_ptr<BoardRun>> runs;
  std::vector<const BoardReport*> reports;
  for (const std::string& serial : chosen) {
    runs.push_back(std::make_unique<BoardRun>(context, serial, context.display));
    reports.push_back(&runs.back()->Report());
  }

  std::vector<BoardRun*> ready;
  for (const auto& run : runs) {
    if (context.interrupted) {
      run->Finish(Outcome::Cancelled());
    } else if (run->Open(listing)) {
      ready.push_back(run.get());
    } else if (options.boards.all &&
               run->Report().outcome->cause == Outcome::Cause::NotInUpdateMode) {
      // --all takes the boards in update mode and leaves the others alone.
      run->Skip();
    }
  }
  if (options.boards.all && ready.empty() && Combined(reports) == kSucceeded) {
    context.Error("no Quorvex board in update mode");
    return kNoBoard;
  }

  // No board waits for another.
  std::vector<std::thread> threads;
  threads.reserve(ready.size());
  for (BoardRun* run : ready) {
    threads.emplace_back(
        [run, operation] { operation == Operation::Verify ? run->Verify() : run->Flash(); });
  }
  for (std::thread& thread : threads) thread.join();
  context.display.Finish();
  for (const auto& run : runs) run->Close();

  const int status = Combined(reports);
  ReportBoards(context, reports);
  return status;
}

Command AddUpdate(CLI::App& app, const char* name, const char* description, Operation operation) {
  auto options = std::make_shared<UpdateOptions>();
  CLI::App* command = app.add_subcommand(name, description);
  AddBoardOptions(command, options->boards, /*mayTakeAll=*/true);
  AddImageOption(command, options->image);
  return {command, &options->image, nullptr,
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
