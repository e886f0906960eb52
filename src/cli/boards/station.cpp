#include "cli/boards/station.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "cli/boards/board_run.h"
#include "cli/boards/choosing.h"
#include "cli/output/printable.h"
#include "cli/output/results.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::chrono::milliseconds kPollInterval{250};
constexpr std::chrono::milliseconds kSettleInterval{100};
// How long a board whose link failed waits to learn whether it was pulled out: a listing or two.
constexpr std::chrono::seconds kPresenceWait{2};

// Which boards are plugged in where, as the main thread's listings say: a board whose link
// failed asks it whether it was pulled out, after the next listing.
class Presence {
 public:
  using Board = std::pair<std::string, std::string>;  // port, serial number

  void Update(std::set<Board> boards) {
    {
      const std::lock_guard guard(lock_);
      boards_ = std::move(boards);
      ++listings_;
    }
    listed_.notify_all();
  }
  bool StillThere(const Board& board) {
    std::unique_lock guard(lock_);
    const auto after = listings_ + 1;  // the listing under way may predate the failure
    listed_.wait_for(guard, kPresenceWait, [&] { return listings_ > after; });
    return boards_.contains(board);
  }

 private:
  std::mutex lock_;
  std::condition_variable listed_;
  std::set<Board> boards_;
  unsigned long listings_ = 0;
};

// One plug-in at one port: the board's run while it is worked on; once done, its line until
// it is pulled out.
struct Slot {
  std::string serialNumber;
  std::size_t line = 0;
  std::unique_ptr<BoardRun> run;  // released once done: a finished board keeps only its report
  std::thread worker;
  std::atomic<bool> working{false};
  bool unplugged = false;  // done, and pulled out before it was
};

class Station {
 public:
  Station(const Context& context, const StationOptions& options)
      : context_(context), options_(options) {}

  Status Run() {
    // Within 80 columns with the program's name before it.
    context_.errors.Say("waiting for boards to flash and verify, once per plug-in; Ctrl-C ends");
    Status status = Status::Succeeded;
    while (!context_.interrupted && !((Enough() || stopped_) && Running() == 0)) {
      const Listing listing = ListDevices(context_.driver);
      if (!listing) {
        context_.Error("the driver cannot list devices, so no board can be watched for");
        status = Status::NoBoard;
        break;
      }
      // A board seen once is looked at again soon, so that waiting for the second sighting
      // costs it little.
      if (!Pause(context_, Look(*listing) ? kSettleInterval : kPollInterval)) break;
    }
    for (auto& [port, slot] : slots_) Collect(slot, /*wait=*/true);
    context_.display.Finish();
    if (context_.interrupted) status = Worse(status, Status::Interrupted);
    Summarize();
    std::vector<const BoardResult*> reports;
    for (const BoardResult& r : finished_) reports.push_back(&r);
    return Worse(status, Combined(reports));
  }

 private:
  bool Enough() const { return options_.count != 0 && started_ >= options_.count; }
  std::size_t Running() const {
    return static_cast<std::size_t>(
        std::ranges::count_if(slots_, [](const auto& s) { return s.second.worker.joinable(); }));
  }

  // Counts the boards that are done, lets go of the ones that went away and takes up the ones
  // that arrived: a port whose serial number changed holds a new board. A board is taken up
  // once two listings in a row find it: one listed only once was leaving as it was listed, or
  // was still settling (its strings or its permissions not there yet), and is not a board to
  // count. True when a board waits for its second sighting.
  bool Look(const std::vector<ListedDevice>& devices) {
    std::set<Presence::Board> present;
    for (const ListedDevice& device : devices) present.emplace(PortOf(device), device.serialNumber);
    presence_.Update(present);
    const std::set<Presence::Board> before = std::exchange(listedBefore_, present);
    bool settling = false;
    for (auto it = slots_.begin(); it != slots_.end();) {
      Collect(it->second, /*wait=*/false);
      const bool gone = !present.contains({it->first, it->second.serialNumber});
      // A board pulled out mid-update keeps its line until the next board takes its port.
      if (gone && !it->second.run && !it->second.unplugged) {
        context_.display.Remove(it->second.line);
        it = slots_.erase(it);
      } else {
        ++it;
      }
    }
    for (const ListedDevice& device : devices) {
      const auto it = slots_.find(PortOf(device));
      if (it != slots_.end()) {
        const bool same = it->second.serialNumber == device.serialNumber;
        if (it->second.run || (same && !it->second.unplugged)) continue;
        context_.display.Remove(it->second.line);
        slots_.erase(it);
      }
      if (!before.contains({PortOf(device), device.serialNumber})) {
        settling = true;
        continue;
      }
      if (Enough() || stopped_) return settling;
      Start(slots_[PortOf(device)], device, devices);
    }
    return settling;
  }

  static std::string PortOf(const ListedDevice& device) {
    return device.port.empty() ? device.serialNumber : device.port;
  }

  void Start(Slot& slot, const ListedDevice& device, const std::vector<ListedDevice>& devices) {
    ++started_;
    slot.serialNumber = device.serialNumber;
    slot.run = std::make_unique<BoardRun>(context_, device, context_.display);
    slot.line = slot.run->Line();
    if (!slot.run->Open(Listing(devices))) {
      slot.run->Close();
      Done(slot);
      return;
    }
    const Presence::Board board{PortOf(device), device.serialNumber};
    slot.run->CheckPresence([this, board] { return presence_.StillThere(board); });
    slot.working = true;
    slot.worker = std::thread([&slot, this] {
      slot.run->Flash(options_.policy);
      slot.working = false;
    });
  }

  // A board whose thread is done: its link closed, on this thread.
  void Collect(Slot& slot, bool wait) {
    if (!slot.worker.joinable() || (!wait && slot.working)) return;
    slot.worker.join();
    slot.run->Close();
    Done(slot);
  }

  // What a finished board keeps: its report. A record that could not be kept stops the
  // station from taking up another board.
  void Done(Slot& slot) {
    finished_.push_back(slot.run->Result());
    slot.unplugged = finished_.back().unplugged;
    slot.run.reset();
    if (finished_.back().notRecorded && !stopped_) {
      stopped_ = true;
      context_.Error("no more boards are taken up: the record of " +
                     BoardName(finished_.back().board, finished_.back().port) +
                     " could not be kept (" + finished_.back().notRecorded->Text() +
                     "); the boards under way finish");
    }
  }

  void Summarize() {
    std::vector<const BoardResult*> reports;
    for (const BoardResult& r : finished_) reports.push_back(&r);
    context_.SayResults(reports);
    std::map<std::string, int> failures;
    int passed = 0;
    for (const BoardResult& r : finished_) {
      if (r.status == Status::Succeeded) {
        ++passed;
      } else {
        ++failures[FailureGroup(r.result, r.step)];
      }
    }
    const int boards = static_cast<int>(finished_.size());
    if (context_.options.json) {
      context_.document["summary"] = {{"boards", boards},
                                      {"passed", passed},
                                      {"failed", boards - passed},
                                      {"failedBy", failures}};
      return;
    }
    Table rows{{"boards", std::to_string(boards)},
               {"passed", std::to_string(passed)},
               {"failed", std::to_string(boards - passed)}};
    for (const auto& [kind, count] : failures) rows.push_back({"  " + kind, std::to_string(count)});
    context_.out << "\n";
    PrintTable(context_.out, rows);
  }

  const Context& context_;
  const StationOptions& options_;
  Presence presence_;
  std::set<Presence::Board> listedBefore_;  // by the last listing
  std::map<std::string, Slot> slots_;       // by port
  std::deque<BoardResult> finished_;        // every board done, in the order they were done
  std::size_t started_ = 0;
  bool stopped_ = false;  // a record could not be kept: no new board is taken up
};

}  // namespace

Status RunStation(const Context& context, const StationOptions& options) {
  return Station(context, options).Run();
}

}  // namespace qvx::cli
