#include <algorithm>
#include <cmath>

#include "update/update_engine.h"

namespace qvx {

namespace {

// A pass continues the bar from where it stands: blocks are numbered first..last.
int LastBlockNumber(int first, std::int32_t lengthWords, std::int32_t blockWords) {
  return static_cast<int>(
      std::nearbyint(static_cast<double>(lengthWords) / blockWords + first - 1));
}

}  // namespace

bool UpdateEngine::PumpMessages() {
  window_.ProcessMessages();
  // The unload has closed the link already; nothing of either may be touched again.
  abandoned_ = window_.IsClosed();
  if (abandoned_) OpResult = kCommFailure;
  return !abandoned_;
}

bool UpdateEngine::SpendAttempt(std::int16_t exhausted) {
  if (--RetryBudget > 0) return true;
  OpResult = exhausted;
  return false;
}

// Failed reads are retried at once, without pumping messages.
bool UpdateEngine::ReadBlock() {
  for (link_.ReadFlashBlock(); link_.FtStatus != 0; link_.ReadFlashBlock()) {
    if (!SpendAttempt(kCommFailure)) return false;
  }
  return true;
}

void UpdateEngine::NextBlock() {
  link_.BufferOffset += 4 * link_.BlockWords;
  link_.FlashAddress += 2 * link_.BlockWords;
}

bool UpdateEngine::BlockDiffers(std::int32_t regionOffset, std::int32_t block) const {
  const std::int32_t blockBytes = 4 * link_.BlockWords;
  const auto begin = regionOffset + block * blockBytes;
  return !std::equal(image_.ImageBuffer.begin() + begin,
                     image_.ImageBuffer.begin() + begin + blockBytes,
                     image_.ReferenceImage.begin() + begin);
}

void UpdateEngine::WriteRegion() {
  const std::int32_t lengthWords = link_.WriteLength;  // the block commands overwrite it
  RetryBudget = kRetryBudget;
  link_.FlashAddress = RegionAddress;
  const int first = window_.ProgressValue();
  const int last = LastBlockNumber(first, lengthWords, link_.BlockWords);
  for (int n = first; n <= last; ++n) {
    window_.SetProgressValue(n);
    if (!PumpMessages()) return;
    link_.PurgeDevice();
    for (link_.WriteFlashBlock(); link_.FtStatus != 0; link_.WriteFlashBlock()) {
      if (!PumpMessages() || !SpendAttempt(kCommFailure)) return;
    }
    NextBlock();
  }
  OpResult = kSuccess;
}

// Reads the region back into its own place in ImageBuffer and compares it with the same
// indexes of ReferenceImage. Blocks that differ are read again, into their own place, until
// they match or the budget runs out.
void UpdateEngine::VerifyRegion() {
  RetryBudget = kRetryBudget;
  link_.FlashAddress = RegionAddress;
  const std::int32_t regionOffset = link_.BufferOffset;
  const int first = window_.ProgressValue();
  const int last = LastBlockNumber(first, VerifyLength, link_.BlockWords);
  for (int n = first; n <= last; ++n) {
    window_.SetProgressValue(n);
    if (!PumpMessages()) return;
    link_.PurgeDevice();
    if (!ReadBlock()) return;
    NextBlock();
  }
  const std::int32_t blocks = std::max(0, last - first + 1);
  const std::int32_t regionEnd = link_.BufferOffset;
  for (;;) {
    link_.FlashAddress = RegionAddress;
    link_.BufferOffset = regionEnd;
    std::int32_t block = 0;
    while (block < blocks && !BlockDiffers(regionOffset, block)) ++block;
    if (block == blocks) {
      OpResult = kSuccess;
      return;
    }
    if (!PumpMessages() || !SpendAttempt(kFailure)) return;
    for (; block < blocks; ++block) {
      if (!BlockDiffers(regionOffset, block)) continue;
      link_.FlashAddress = RegionAddress + block * 2 * link_.BlockWords;
      link_.BufferOffset = regionOffset + block * 4 * link_.BlockWords;
      link_.PurgeDevice();
      if (!ReadBlock()) return;
    }
  }
}

}  // namespace qvx
