#pragma once

#include <cstdint>
#include <optional>

#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "update/stages.h"
#include "update/update_events.h"

namespace qvx {

// OpResult's values, one set for every long operation.
namespace op {
inline constexpr std::int16_t kSuccess = 0;
inline constexpr std::int16_t kFailure = -1;      // the read-back differed until the budget ran out
inline constexpr std::int16_t kCommFailure = -2;  // block commands failed until the budget ran out
}  // namespace op

// The index in ImageBuffer of the first byte of the block at `offset` whose read-back differs from
// ReferenceImage; nothing when the block holds the image. Every comparison of a read-back goes
// through here.
std::optional<std::int32_t> FirstDifference(const FirmwareImage& image, std::int32_t offset,
                                            std::int32_t blockBytes);

// Region passes and the staged update over one board's image arrays and link. Each reports
// through OpResult and tells its events as they happen; none knows what shows them.
class UpdateEngine {
 public:
  static constexpr std::int32_t kRetryBudget = 50;  // failed attempts one pass may absorb
  static constexpr int kProgressMaximum = 55;       // the bar's maximum during an update

  UpdateEngine(FirmwareImage& image, QVXModule& link, UpdateEvents& events);

  std::int16_t OpResult = op::kSuccess;
  std::int32_t RegionAddress = 0;
  std::int32_t VerifyLength = 0;
  std::int32_t RetryBudget = 0;
  // The bar's value: a pass numbers its blocks on from here and leaves it at its last block.
  int ProgressValue = 0;
  // How the last update ended when it did not succeed: the stage it was in, whether that stage's
  // "EX" went unanswered, and whether StopNow or StopRequested ended it rather than the board.
  std::optional<Stage> FailedStage;
  bool ExecuteFailed = false;
  bool Stopped = false;

  // The link's purge, told as an event.
  void Purge();
  void WriteRegion();
  // Reads VerifyLength words from RegionAddress into ImageBuffer at BufferOffset, block by
  // block with the bar and retries of a verify pass; OpResult 0 or op::kCommFailure. A failed
  // read may leave its reply, or part of it, with the driver, where the next read would take it
  // for the block's own. A verify pass compares and reads again what differs; a read whose bytes
  // are taken as they come (a dump, a check) is `strict`: every attempt starts from a purge that
  // succeeded.
  void ReadRegion(bool strict = false);
  // ReadRegion, then the comparison with ReferenceImage.
  void VerifyRegion();
  void FlashDevice();

 private:
  // Each returns false when the operation must end; OpResult then says why.
  // Asks StopNow, or StopRequested where the caller may not pump its messages.
  bool GoOn(bool mayPump = true);
  bool SpendAttempt(std::int16_t exhausted);
  bool ReadBlock(bool strict = false);
  bool BlockDiffers(std::int32_t regionOffset, std::int32_t block) const {
    const std::int32_t blockBytes = 4 * link_.BlockWords;
    return FirstDifference(image_, regionOffset + block * blockBytes, blockBytes).has_value();
  }
  void ShowBlock(int number);
  void NextBlock();
  bool RunStage(const Stage& stage);
  bool Execute(std::int32_t operand, bool purgeFirst);

  FirmwareImage& image_;
  QVXModule& link_;
  UpdateEvents& events_;
};

}  // namespace qvx
