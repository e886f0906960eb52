#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/outcome.h"
#include "image/firmware_image.h"
#include "image/version.h"
#include "link/qvx_module.h"
#include "update/update_engine.h"

namespace qvx {

// Which board a session opens: the one at this USB location when it is not 0, else the one with
// this serial number, else the one described "Quorvex".
struct BoardAddress {
  std::string serialNumber;
  DWORD location = 0;
};

// The board's versions, as its last answer to "SI" gave them.
struct BoardVersions {
  Version hardware;
  Version firmware;
};

// How an update goes about a board. The window's is the update exactly, with nothing before or
// after it; the command line adds the rules below.
struct UpdatePolicy {
  std::optional<Version> hardware;  // a board of another hardware version is not written
  bool refuseOlder = false;         // an image older than the board's firmware is not written
  bool ifNeeded = false;            // compared first: a board that holds the image is not written
  bool askAfter = false;            // "SI" after the update: the board's own word on its firmware
  bool requireVersion = false;      // with askAfter: any other word than the image's version fails
  // Read back once more after the update what could have changed since the update compared it:
  // the blocks written before an "EX", which hands the board to code of its own.
  bool checkAfter = false;
};

// One board, and every operation a front end runs on it, each written once here. Inside, the
// image arrays, the link and the engine, held and wired together once; outside, values in and
// outcomes out. Every update writes the image as it was decoded, whatever ran before it: the
// read-backs of a verify, a dump or another update never reach what an update writes.
class BoardSession {
 public:
  // The image loaded and decoded afresh at every Identify, as the window's Find Device does.
  BoardSession(D2xx& driver, ResourceLoader loader, UpdateEvents& events,
               BoardAddress address = {});
  // The image decoded once, shared read-only by the sessions of many boards.
  BoardSession(D2xx& driver, std::shared_ptr<const DecodedImage> image, UpdateEvents& events,
               BoardAddress address = {});
  BoardSession(const BoardSession&) = delete;
  BoardSession& operator=(const BoardSession&) = delete;

  // Opens the link, unless it is open, and asks the board "SI". NotOpened when nothing opens, or
  // when the board is not in its update mode (the link then stays open for the caller to close).
  Outcome Open();
  void Close();

  // The Find Device check: a purge, "SI" (whose outcome shows in the versions), a purge, then
  // the image loaded and checked afresh (or the one given). Failed as LinkLost when a purge
  // fails, as ImageRefused when the image is not one to write.
  Outcome Identify();
  BoardVersions Versions() const;
  // The image's version, once an Identify, Verify or Update loaded it.
  Version ImageVersion() const;
  // The stages an update runs on this board, for its firmware as its last "SI" gave it.
  std::vector<Stage> Plan() const;

  Outcome Update(const UpdatePolicy& policy);
  // Reads back every region the plan writes and compares it with the image; writes nothing.
  // Failed as Differs with every stage's difference when any differs.
  Outcome Verify();
  // Reads the whole flash into a plain image file: "FW", the board's firmware version, byte 4
  // zero, then the flash.
  Outcome Dump(const std::filesystem::path& file, bool replace);

 private:
  // The decoded image in ImageBuffer and ReferenceImage, loaded first when no Identify did; the
  // outcome to end with when it is refused.
  std::optional<Outcome> PrepareImage();
  // The image loaded and checked (or the one given); the outcome to end with when it is refused.
  std::optional<Outcome> TakeImage();
  // The engine's update, and how it ended.
  Outcome Write();
  // After an update: what the board answers "SI" when asked again, judged against the image.
  Outcome AskedAfter(const UpdatePolicy& policy);
  // Reads back the plan's regions and compares them with the image.
  Outcome Compare(const std::vector<Stage>& plan);
  // The check after an update: the plan's stages up to the last one an "EX" followed.
  Outcome CheckAfter(const std::vector<Stage>& plan);
  // One read pass over the stage's region into its place in ImageBuffer; the outcome to end
  // with when it could not read it all, else nothing.
  std::optional<Outcome> ReadBack(const Stage& stage, std::string_view failure);
  // The call behind the link's last verdict, when that verdict was a failure.
  std::optional<FailedCall> FailedCallNow() const;

  FirmwareImage image_;
  QVXModule link_;
  UpdateEngine engine_;
  UpdateEvents& events_;
  BoardSession(D2xx& driver, ResourceLoader loader, std::shared_ptr<const DecodedImage> given,
               UpdateEvents& events, BoardAddress address);

  const std::shared_ptr<const DecodedImage> given_;  // the image decoded once, if so
  // The image as it was last decoded and checked: what every update writes.
  std::shared_ptr<const DecodedImage> decoded_;
};

}  // namespace qvx
