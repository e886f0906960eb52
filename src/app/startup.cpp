#include "app/startup.h"

#include <filesystem>
#include <utility>

#include "image/file_io.h"
#include "image/firmware_file.h"

namespace qvx {

namespace {

constexpr char kProgram[] = "quorvex-updater";

Startup Refused(std::string message) {
  return {{}, kBadStartup, std::string(kProgram) + ": " + std::move(message)};
}

}  // namespace

Startup ParseStartup(const std::vector<std::string>& arguments, ResourceLoader embedded) {
  Startup startup{std::move(embedded), std::nullopt, {}};
  for (auto at = arguments.begin(); at != arguments.end(); ++at) {
    if (*at != "--image") continue;
    if (++at == arguments.end()) return Refused("--image needs a FILE");
    FirmwareFile file = ReadFirmwareFile(PathFromUtf8(*at));
    if (file.problem) return Refused(file.problem->Text());
    startup.image = ServeContainer(std::move(file.container));
  }
  return startup;
}

}  // namespace qvx
