#pragma once

#include <cstdint>

#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "update/stages.h"
#include "update/update_view.h"

namespace qvx {

// Region passes and the staged update, built on the image arrays and reporting through their
// OpResult; it owns the link that moves the blocks, wired to ImageBuffer once, here.
class UpdateEngine : public FirmwareImage {
 public:
  static constexpr std::int32_t kRetryBudget = 50;  // failed attempts one pass may absorb

  UpdateEngine(D2xx& driver, UpdateView& view, ResourceLoader loader = {});

  QVXModule Link;
  std::int32_t RegionAddress = 0;
  std::int32_t VerifyLength = 0;
  std::int32_t RetryBudget = 0;

  void WriteRegion();
  // Reads VerifyLength words from RegionAddress into ImageBuffer at BufferOffset, block by
  // block with the bar and retries of a verify pass; OpResult 0 or op::kCommFailure.
  void ReadRegion();
  // ReadRegion, then the comparison with ReferenceImage.
  void VerifyRegion();
  // A close of the window during an update ends it at the next message pump, leaving
  // OpResult at op::kCommFailure without touching the link or the view again.
  void FlashDevice();

 private:
  // Each returns false when the operation must end; OpResult then says why.
  bool PumpMessages();
  bool SpendAttempt(std::int16_t exhausted);
  bool ReadBlock();
  bool BlockDiffers(std::int32_t regionOffset, std::int32_t block) const;
  void NextBlock();
  bool RunStage(const Stage& stage);
  bool ReportFailure(const Stage& stage);
  bool Execute(std::int32_t operand, bool purgeFirst);

  UpdateView& view_;
  bool abandoned_ = false;  // the last message pump found the window closed
};

}  // namespace qvx
