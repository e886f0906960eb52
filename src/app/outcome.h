#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/texts.h"
#include "link/qvx_module.h"

namespace qvx {

// Where a region's read-back first differs from the image, and in how many blocks.
struct Difference {
  int step;
  std::int32_t firstAddress;  // flash address of the first byte that differs
  int blocks;

  bool operator==(const Difference&) const = default;
};

// How a board operation ended. It has no default: every path that ends one says how.
class Outcome {
 public:
  enum class Kind { Done, Failed, Cancelled, NotOpened };
  // What failed, or kept the board from being used.
  enum class Cause {
    None,             // done, or cancelled
    OpenFailed,       // the link could not be opened and set up
    NotInUpdateMode,  // it opened, but "SI" gave hardware 0.0
    LinkLost,         // a purge of Find Device failed
    ImageRefused,     // the image is not one the program writes
    Communication,    // a stage's block commands failed until the budget ran out
    Bootloader,       // the board did not answer "SI" after an "EX"
    Differs,          // the read-back differs from the image
    File,             // a file could not be written
    Older,            // the image is older than the board's firmware, and that was not allowed
  };

  static Outcome Done() { return {Kind::Done, Cause::None, 0, {"", ""}, {}}; }
  // A close of the window or an interrupt: never a failure of the board.
  static Outcome Cancelled() { return {Kind::Cancelled, Cause::None, 0, {"", ""}, {}}; }
  static Outcome NotOpened(Cause cause, Message message, std::optional<FailedCall> call = {}) {
    return {Kind::NotOpened, cause, 0, std::move(message), call};
  }
  static Outcome Failed(Cause cause, Message message, int step = 0,
                        std::optional<FailedCall> call = {}) {
    return {Kind::Failed, cause, step, std::move(message), call};
  }

  Kind kind;
  Cause cause;
  int step;                        // the stage it failed in; 0 for none
  Message message;                 // as a window's box shows it; the command line says its text
  std::string detail;              // what the box does not say: why an image was refused
  std::optional<FailedCall> call;  // the driver call behind it, with its named status
  std::vector<Difference> differences;  // a verify's, stage by stage

  // The message with the detail and the call behind it:
  // "Step 1 - ... Re-try update! (FT_Write returned FT_IO_ERROR)".
  std::string Text() const;

 private:
  Outcome(Kind kind, Cause cause, int step, Message message, std::optional<FailedCall> call)
      : kind(kind), cause(cause), step(step), message(std::move(message)), call(call) {}
};

}  // namespace qvx
