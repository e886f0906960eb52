#pragma once

#include <cstdint>

#include "update/stages.h"

namespace qvx {

// What a run of passes is for: an update writes and reads back, a check and a dump only read.
enum class Purpose { Update, Check, Dump };

// What the engine tells whoever drives it, as it happens, and the one thing it asks. The window's
// logic turns these into the bar and the message pump; the command line into progress lines and
// log lines. Every event but StopNow may be left alone.
class UpdateEvents {
 public:
  virtual ~UpdateEvents() = default;

  // An update, check or dump begins: the blocks it moves in all (each pass counted), and the
  // maximum of the bar on which its blocks are numbered.
  virtual void Started(Purpose /*purpose*/, int /*blocks*/, int /*progressMaximum*/) {}
  // A stage begins (for a dump, the whole flash).
  virtual void StageStarted(const Stage& /*stage*/) {}
  // Before a block is first sent: its number on the bar. A pass continues from the number the
  // pass before it ended on, so consecutive passes share one.
  virtual void BlockStarted(int /*number*/) {}
  virtual void BlockDone() {}
  // A failed attempt counted against the pass's budget: where, and the how-manyth of the pass.
  virtual void AttemptFailed(std::int32_t /*flashAddress*/, int /*attempt*/) {}
  virtual void Purged() {}
  virtual void Executed(std::int32_t /*operand*/) {}
  // Asked before every block, after every failed write attempt and after every difference found:
  // true ends the operation there, without another driver call.
  virtual bool StopNow() = 0;
  // Asked after every failed read attempt, where the window must not pump its messages (its read
  // retries run unbroken): true ends the operation there as StopNow would. Answered from what is
  // known already, never by pumping; a silent board's retries may otherwise last seconds.
  virtual bool StopRequested() { return false; }
};

}  // namespace qvx
