#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/texts.h"
#include "image/version.h"
#include "link/qvx_module.h"

namespace qvx {

// Where a region's read-back first differs from the image, and in how many blocks.
struct Difference {
  int step;
  std::int32_t firstAddress;  // flash address of the first byte that differs
  int blocks;

  bool operator==(const Difference&) const = default;
};

// How a board operation ended. It has no default and cannot change once made: every path that
// ends an operation says how, in one piece.
class Outcome {
 public:
  enum class Kind { Done, Failed, Cancelled, NotOpened };
  // What failed, or kept the board from being used.
  enum class Cause {
    None,             // done, or cancelled
    OpenFailed,       // the link could not be opened and set up
    NotInUpdateMode,  // it opened, but "SI" gave hardware 0.0, or no answer
    LinkFailed,       // it opened, but a driver call of its "SI" failed: the window's box says
                      // "not in update mode" all the same
    LinkLost,         // a purge of Find Device failed
    ImageRefused,     // the image is not one the program writes
    Communication,    // a stage's block commands failed until the budget ran out
    Bootloader,       // the board did not answer "SI" after an "EX"
    Differs,          // the read-back differs from the image
    File,             // a file could not be written
    Older,            // the image is older than the board's firmware, and that was not allowed
    VersionAfter,     // updated, but the board did not answer the image's version when asked
    WrongHardware,    // a hardware version the update was not meant for
  };

  static Outcome Done() { return {Kind::Done, Cause::None, 0, {"", ""}, {}}; }
  // An update that compared first and found the image there already: nothing was written.
  static Outcome UpToDate() {
    Outcome done = Done();
    done.upToDate_ = true;
    return done;
  }
  // An update that was written and checked, with the board's own word on its firmware when it
  // was asked: the version it answered, or nothing when it gave none, and what to say of that
  // when it is not the image's.
  static Outcome Updated(std::optional<Version> after, std::string note) {
    Outcome done = Done();
    done.firmwareAfter_ = after;
    done.note_ = std::move(note);
    return done;
  }
  // A close of the window or an interrupt: never a failure of the board.
  static Outcome Cancelled() { return {Kind::Cancelled, Cause::None, 0, {"", ""}, {}}; }
  static Outcome NotOpened(Cause cause, Message message, std::optional<FailedCall> call = {}) {
    return {Kind::NotOpened, cause, 0, std::move(message), call};
  }
  static Outcome Failed(Cause cause, Message message, int step = 0,
                        std::optional<FailedCall> call = {}, std::string detail = {},
                        std::vector<Difference> differences = {},
                        std::optional<Version> after = {}) {
    Outcome failed{Kind::Failed, cause, step, std::move(message), call};
    failed.detail_ = std::move(detail);
    failed.differences_ = std::move(differences);
    failed.firmwareAfter_ = after;
    return failed;
  }

  Kind kind() const { return kind_; }
  Cause cause() const { return cause_; }
  int step() const { return step_; }  // the stage it failed in; 0 for none
  // As a window's box shows it; the command line says its text.
  const Message& message() const { return message_; }
  const std::optional<FailedCall>& call() const { return call_; }  // with its named status
  const std::vector<Difference>& differences() const { return differences_; }  // a verify's
  bool upToDate() const { return upToDate_; }
  // After an update the board was asked about: the firmware it answered; nothing when it did
  // not answer, or was not asked.
  const std::optional<Version>& firmwareAfter() const { return firmwareAfter_; }
  // What a success does not say by itself: "no answer after the update", ...
  const std::string& note() const { return note_; }

  // The message with the detail and the call behind it:
  // "Step 1 - ... Re-try update! (FT_Write returned FT_IO_ERROR)".
  std::string Text() const;

 private:
  Outcome(Kind kind, Cause cause, int step, Message message, std::optional<FailedCall> call)
      : kind_(kind), cause_(cause), step_(step), message_(std::move(message)), call_(call) {}

  Kind kind_;
  Cause cause_;
  int step_;
  Message message_;
  std::optional<FailedCall> call_;
  std::string detail_;  // what the box does not say: why an image was refused
  std::vector<Difference> differences_;
  bool upToDate_ = false;
  std::optional<Version> firmwareAfter_;
  std::string note_;
};

}  // namespace qvx
