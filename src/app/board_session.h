#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/outcome.h"
#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "update/update_engine.h"

namespace qvx {

// One board, and every operation a front end runs on it, each written once here: the image
// arrays, the link and the engine, held and wired together once. Every operation ends in an
// Outcome; what happens on the way goes to the events.
class BoardSession {
 public:
  BoardSession(D2xx& driver, ResourceLoader loader, UpdateEvents& events);
  BoardSession(const BoardSession&) = delete;
  BoardSession& operator=(const BoardSession&) = delete;

  FirmwareImage Image;
  QVXModule Link;
  UpdateEngine Engine;

  // Opens the link, unless it is open, to the board Link.SerialNumber names (the one described
  // "Quorvex" when it names none) and asks it "SI". NotOpened when nothing opens, or when the
  // board is not in its update mode (the link then stays open for the caller to close).
  Outcome Open();
  void Close();

  // The Find Device check: a purge, "SI" (whose outcome shows in the versions), a purge, then
  // the image loaded and checked. Failed as LinkLost when a purge fails (OpResult untouched), as
  // ImageRefused when the image is not one to write (OpResult op::kFailure).
  Outcome Identify();
  // "Quorvex - Hardware v2.1", from the board's last "SI".
  std::string HardwareText() const;
  // "Firmware: v1.1  -  Upgrading to: v1.6": the board's firmware beside the loaded image's.
  std::string FirmwareStatusText() const;
  // The stages an update runs on this board, for its firmware as its last "SI" gave it.
  std::vector<Stage> Plan() const;

  // The update, on a board that Identify has found.
  Outcome Flash();
  // Reads back every region the plan writes and compares it with the image; writes nothing.
  // Failed as Differs with every stage's difference when any differs.
  Outcome Verify();
  // Reads the whole flash into a plain image file: "FW", the board's firmware version, byte 4
  // zero, then the flash.
  Outcome Dump(const std::filesystem::path& file, bool replace);

 private:
  // One read pass over the stage's region into its place in ImageBuffer; the outcome to end
  // with when it could not read it all, else nothing.
  std::optional<Outcome> ReadBack(const Stage& stage, std::string_view failure);
  // The image loaded and checked; the outcome to end with when it is refused (OpResult then
  // op::kFailure), else nothing.
  std::optional<Outcome> LoadImage();
  // The call behind the link's last verdict, when that verdict was a failure.
  std::optional<FailedCall> FailedCallNow() const;

  UpdateEvents& events_;
};

}  // namespace qvx
