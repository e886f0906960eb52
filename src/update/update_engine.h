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
  UpdateEngine(QVXModule& link, FirmwareImage& image, UpdateWindow& window,
               std::int16_t& opResult);

  std::int32_t RegionAddress = 0;
  std::int32_t VerifyLength = 0;
  std::int32_t RetryBudget = 0;
  std::int16_t& OpResult;

  void WriteRegion();
  void VerifyRegion();
  void FlashDevice();

 private:
  QVXModule& link_;
  FirmwareImage& image_;
  UpdateWindow& window_;
};

}  // namespace qvx
