#include "cli/boards/run_boards.h"

#include <thread>

namespace qvx::cli {

std::vector<const BoardResult*> BoardsWorked::Results() const {
  std::vector<const BoardResult*> results;
  for (const auto& run : runs) results.push_back(&run->Result());
  return results;
}

Status BoardsWorked::Worst() const {
  const Status boards = Combined(Results());
  return missing.empty() ? boards : Worse(boards, Status::Failed);
}

BoardsWorked WorkOnBoards(const Context& context, const BoardOptions& options, Boards boards,
                          const std::function<void(BoardRun&)>& work) {
  BoardsWorked worked;
  Listing listing;
  std::vector<ListedDevice> chosen;
  worked.refused = Choose(context, options, boards == Boards::Many, listing, chosen);
  if (worked.refused) return worked;
  // Opened and closed on this thread: not every driver takes an open or a close beside other
  // calls.
  std::vector<BoardRun*> ready;
  for (const ListedDevice& device : chosen) {
    worked.runs.push_back(std::make_unique<BoardRun>(context, device, context.display));
    BoardRun& run = *worked.runs.back();
    if (context.interrupted) {
      run.Finish(Outcome::Cancelled());
    } else if (run.Open(listing)) {
      ready.push_back(&run);
    }
  }
  std::vector<std::thread> threads;
  threads.reserve(ready.size());
  for (BoardRun* run : ready) threads.emplace_back([run, &work] { work(*run); });
  for (std::thread& thread : threads) thread.join();
  context.display.Finish();
  for (const auto& run : worked.runs) run->Close();
  worked.missing = Shortfall(options, chosen);
  for (const std::string& line : worked.missing) context.Error(line);
  return worked;
}

}  // namespace qvx::cli
