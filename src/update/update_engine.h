#pragma once

#include <cstdint>

#include "image/firmware_image.h"
#include "link/qvx_module.h"
#include "update/update_window.h"

namespace qvx {

// Region passes and the staged update. Results go to OpResult: 0 success, -1 failure,
// -2 communication failure.
class UpdateEngine {
 public:
  static constexpr std::int16_t kSuccess = 0;
  static constexpr std::int16_t kFailure = -1;
  static constexpr std::int16_t kCommFailure = -2;
  static constexpr std::int32_t kRetryBudget = 50;  // failed attempts one pass may absorb

  UpdateEngine(QVXModule& link, FirmwareImage& image, UpdateWindow& window, std::int16_t& opResult);

  std::int32_t RegionAddress = 0;
  std::int32_t VerifyLength = 0;
  std::int32_t RetryBudget = 0;
  std::int16_t& OpResult;

  void WriteRegion();
  void VerifyRegion();
  // A close of the window during an update ends it at the next message pump, leaving
  // OpResult at kCommFailure without touching the link or the window again.
  void FlashDevice();

 private:
  struct Stage;

  // Each returns false when the operation must end; OpResult then says why.
  bool PumpMessages();
  bool SpendAttempt(std::int16_t exhausted);
  bool ReadBlock();
  bool BlockDiffers(std::int32_t regionOffset, std::int32_t block) const;
  void NextBlock();
  bool RunStage(const Stage& stage);
  bool ReportFailure(const Stage& stage);
  bool Execute(std::int32_t operand, bool purgeFirst);

  QVXModule& link_;
  FirmwareImage& image_;
  UpdateWindow& window_;
  bool abandoned_ = false;  // the last message pump found the window closed
};

}  // namespace qvx
