// quorvex watch: the station. Every board that is plugged in is flashed, asked its version again
// and verified, on its own thread, once per plug-in; its line shows the result until the board is
// pulled out.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "cli/board_run.h"
#include "cli/command.h"
#include "cli/exit_status.h"
#include "cli/printable.h"
#include "cli/report.h"

namespace qvx::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::chrono::milliseconds kPollInterval{250};
// How long a board whose link failed waits to learn whether it was pulled out: a listing or two.
constexpr std::chrono::seconds kPresenceWait{2};

struct WatchOptions {
  std::string image;
  std::string record;
  std::size_t count = 0;  // 0: until interrupted
  FlashPolicy policy{false, false, /*verifyAfter=*/true};
};

// Which ports hold a device, as the main thread's listings say: a board whose link failed asks
// it whether it was pulled out, after the next listing.
class Presence {
 public:
  void Update(std::set<std::string> ports) {
    {
      const std::lock_guard guard(lock_);
      ports_ = std::move(ports);
      ++listings_;
    }
    listed_.notify_all();
  }
  bool StillThere(const std::string& port) {
    std::unique_lock guard(lock_);
    const auto after = listings_ + 1;  // the listing under way may predate the failure
    listed_.wait_for(guard, kPresenceWait, [&] { return listings_ > after; });
    return ports_.contains(port);
  }

 private:
  std::mutex lock_;
  std::condition_variable listed_;
  std::set<std::string> ports_;
  unsigned long listings_ = 0;
};

// One plug-in at one port.
struct Slot {
  std::unique_ptr<BoardRun> run;
  std::thread worker;
  std::atomic<bool> working{false};
  bool counted = false;
};

class Station {
 public:
  Station(const Context& context, const WatchOptions& options)
      : context_(context), options_(options) {}

  int Run() {
    context_.err.Write(
        "quorvex: waiting for boards; each is flashed and verified once per "
        "plug-in; Ctrl-C ends\n");
    int status = kSucceeded;
    while (!context_.interrupted && !(Enough() && Running() == 0)) {
      const Listing listing = ListDevices(context_.driver);
      if (!listing) {
        context_.Error("the driver cannot list devices, so no board can be watched for");
        status = kNoBoard;
        break;
      }
      Look(*listing);
      if (!Pause(context_, kPollInterval)) break;
    }
    for (auto& [port, slot] : slots_) Collect(slot, /*wait=*/true);
    context_.display.Finish();
    if (context_.interrupted) status = kInterrupted;
    Summarize();
    if (status == kSucceeded && !std::ranges::all_of(reports_, [](const BoardReport* r) {
          return ExitStatus(*r) == kSucceeded;
        })) {
      status = kFailed;
    }
    return status;
  }

 private:
  bool Enough() const { return options_.count != 0 && reports_.size() >= options_.count; }
  std::size_t Running() const {
    return static_cast<std::size_t>(
        std::ranges::count_if(slots_, [](const auto& s) { return s.second.worker.joinable(); }));
  }

  // Takes up the boards that arrived, counts the ones that are done and lets go of the ones
  // that went away.
  void Look(const std::vector<ListedDevice>& devices) {
    std::set<std::string> ports;
    for (const ListedDevice& device : devices) ports.insert(PortOf(device));
    presence_.Update(ports);
    for (auto it = slots_.begin(); it != slots_.end();) {
      Collect(it->second, /*wait=*/false);
      const bool gone = !ports.contains(it->first);
      // A board pulled out mid-update keeps its line until the next board takes its port.
      if (gone && it->second.counted && !it->second.run->Report().unplugged) {
        it = Retire(it);
      } else {
        ++it;
      }
    }
    for (const ListedDevice& device : devices) {
      const auto it = slots_.find(PortOf(device));
      if (it != slots_.end() && !(it->second.counted && it->second.run->Report().unplugged)) {
        continue;
      }
      if (Enough()) return;
      if (it != slots_.end()) Retire(it);
      Start(slots_[PortOf(device)], device, devices);
    }
  }

  // The port's line goes; the board's report stays for the summary.
  std::map<std::string, Slot>::iterator Retire(std::map<std::string, Slot>::iterator slot) {
    context_.display.Remove(slot->second.run->Line());
    ended_.push_back(std::move(slot->second.run));
    return slots_.erase(slot);
  }

  static std::string PortOf(const ListedDevice& device) {
    return device.port.empty() ? device.serialNumber : device.port;
  }

  void Start(Slot& slot, const ListedDevice& device, const std::vector<ListedDevice>& devices) {
    slot.run = std::make_unique<BoardRun>(context_, device, context_.display);
    reports_.push_back(&slot.run->Report());
    if (!slot.run->Open(Listing(devices))) {
      slot.run->Close();
      slot.counted = true;
      return;
    }
    const std::string port = PortOf(device);
    slot.run->CheckPresence([this, port] { return presence_.StillThere(port); });
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
    slot.counted = true;
  }

  void Summarize() {
    ReportBoards(context_, reports_);
    std::map<std::string, int> failures;
    int passed = 0;
    for (const BoardReport* r : reports_) {
      if (ExitStatus(*r) == kSucceeded) {
        ++passed;
      } else {
        ++failures[FailureGroup(ResultText(*r), r->outcome ? r->outcome->step : 0)];
      }
    }
    const int boards = static_cast<int>(reports_.size());
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
  const WatchOptions& options_;
  Presence presence_;
  std::map<std::string, Slot> slots_;
  std::vector<const BoardReport*> reports_;  // every board so far, in the order they came
  std::vector<std::unique_ptr<BoardRun>> ended_;
};

}  // namespace

Command AddWatch(CLI::App& app) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* watch = app.add_subcommand(
      "watch",
      "Station: flash and verify every board as it is plugged in, once per plug-in, until "
      "interrupted");
  AddImageOption(watch, options->image);
  AddRecordOption(watch, options->record);
  watch->add_option("--count", options->count, "Stop once N boards are done")
      ->option_text("N")
      ->check(CLI::PositiveNumber);
  AddFlashPolicyOptions(watch, options->policy);
  return {watch, &options->image, nullptr, &options->record,
          [options](Context& c) { return Station(c, *options).Run(); }};
}

}  // namespace qvx::cli
