// quorvex watch: the station's command and its options.
#include <memory>

#include "cli/boards/station.h"
#include "cli/commands/command.h"
#include "cli/commands/help.h"

namespace qvx::cli {

namespace {

struct WatchOptions {
  ImageOptions image;
  RecordOptions record;
  // As flash, and each board checked once more after its update.
  StationOptions station{0,
                         {.hardware = {},
                          .refuseOlder = true,
                          .ifNeeded = false,
                          .askAfter = true,
                          .requireVersion = false,
                          .checkAfter = true}};
};

}  // namespace

Command AddWatch(CLI::App& app) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* watch = app.add_subcommand(
      "watch",
      "Station: flash and verify every board as it is plugged in, once per plug-in, until "
      "interrupted");
  AddImageOption(watch, options->image, /*mayPin=*/true);
  AddRecordOptions(watch, options->record);
  AddCount(watch, "--count", options->station.count, 1, 1'000'000, "Stop once N boards are done");
  AddUpdatePolicyOptions(watch, options->station.policy);
  return {watch, &options->image, nullptr, &options->record,
          [options](Context& c) { return RunStation(c, options->station); }};
}

}  // namespace qvx::cli
