// quorvex flash and quorvex verify: one board, or with --all every board at once, each on its
// own thread with its own link and session.
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
  std::string record;
  FlashPolicy policy;
};

int Update(const Context& context, const UpdateOptions& options, Operation operation) {
  Listing listing;
  std::vector<ListedDevice> chosen;
  if (const auto status = Choose(context, options.boards, true, listing, chosen)) return *status;
  std::vector<std::unique_ptr<BoardRun>> runs;
  std::vector<const BoardReport*> reports;
  for (const ListedDevice& device : chosen) {
    runs.push_back(std::make_unique<BoardRun>(context, device, context.display));
    reports.push_back(&runs.back()->Report());
  }

  // A board that does not open, or is not in update mode, is a failure even with --all: a line
  // must never pass a board that was not updated.
  std::vector<BoardRun*> ready;
  for (const auto& run : runs) {
    if (context.interrupted) {
      run->Finish(Outcome::Cancelled());
    } else if (run->Open(listing)) {
      ready.push_back(run.get());
    }
  }

  // No board waits for another.
  std::vector<std::thread> threads;
  threads.reserve(ready.size());
  for (BoardRun* run : ready) {
    threads.emplace_back([run, operation, &options] {
      operation == Operation::Verify ? run->Verify() : run->Flash(options.policy);
    });
  }
  for (std::thread& thread : threads) thread.join();
  context.display.Finish();
  for (const auto& run : runs) run->Close();

  int status = Combined(reports);
  ReportBoards(context, reports);
  const std::vector<std::string> missing = Shortfall(options.boards, chosen);
  for (const std::string& line : missing) context.Error(line);
  if (!missing.empty() && status != kInterrupted) status = kFailed;
  return status;
}

Command AddUpdate(CLI::App& app, const char* name, const char* description, Operation operation) {
  auto options = std::make_shared<UpdateOptions>();
  CLI::App* command = app.add_subcommand(name, description);
  AddBoardOptions(command, options->boards, /*mayTakeAll=*/true);
  AddImageOption(command, options->image);
  AddRecordOption(command, options->record);
  if (operation == Operation::Flash) {
    AddFlashPolicyOptions(command, options->policy);
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
