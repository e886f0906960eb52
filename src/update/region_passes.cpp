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
  view_.ProcessMessages();
  // The unload has closed the link already; nothing of either may be touched again.
  abandoned_ = view_.IsClosed();
  if (abandoned_) OpResult = op::kCommFailure;
  return !abandoned_;
}

bool UpdateEngine::SpendAttempt(std::int16_t exhausted) {
  view_.AttemptFailed(Link.FlashAddress, kRetryBudget - RetryBudget + 1);
  if (--RetryBudget > 0) return true;
  OpResult = exhausted;
  return false;
}

// Failed reads are retried at once, without pumping messages.
bool UpdateEngine::ReadBlock() {
  for (Link.ReadFlashBlock(); Link.FtStatus != QVXModule::kOk; Link.ReadFlashBlock()) {
    if (!SpendAttempt(op::kCommFailure)) return false;
  }
  return true;
}

void UpdateEngine::NextBlock() {
  Link.BufferOffset += 4 * Link.BlockWords;
  Link.FlashAddress += 2 * Link.BlockWords;
}

bool UpdateEngine::BlockDiffers(std::int32_t regionOffset, std::int32_t block) const {
  const std::int32_t blockBytes = 4 * Link.BlockWords;
  const auto begin = regionOffset + block * blockBytes;
  return !std::equal(ImageBuffer.begin() + begin, ImageBuffer.begin() + begin + blockBytes,
                     ReferenceImage.begin() + begin);
}

void UpdateEngine::WriteRegion() {
  const std::int32_t lengthWords = Link.WriteLength;  // the block commands overwrite it
  RetryBudget = kRetryBudget;
  Link.FlashAddress = RegionAddress;
  const int first = view_.ProgressValue();
  const int last = LastBlockNumber(first, lengthWords, Link.BlockWords);
  for (int n = first; n <= last; ++n) {
    view_.SetProgressValue(n);
    if (!PumpMessages()) return;
    Link.PurgeDevice();
    for (Link.WriteFlashBlock(); Link.FtStatus != QVXModule::kOk; Link.WriteFlashBlock()) {
      if (!PumpMessages() || !SpendAttempt(op::kCommFailure)) return;
    }
    NextBlock();
  }
  OpResult = op::kSuccess;
}

void UpdateEngine::ReadRegion() {
  RetryBudget = kRetryBudget;
  Link.FlashAddress = RegionAddress;
  const int first = view_.ProgressValue();
  const int last = LastBlockNumber(first, VerifyLength, Link.BlockWords);
  for (int n = first; n <= last; ++n) {
    view_.SetProgressValue(n);
    if (!PumpMessages()) return;
    Link.PurgeDevice();
    if (!ReadBlock()) return;
    NextBlock();
  }
  OpResult = op::kSuccess;
}

// Reads the region back into its own place in ImageBuffer and compares it with the same
// indexes of ReferenceImage. Blocks that differ are read again, into their own place, until
// they match or the budget runs out.
void UpdateEngine::VerifyRegion() {
  const std::int32_t regionOffset = Link.BufferOffset;
  ReadRegion();
  if (OpResult != op::kSuccess) return;
  const std::int32_t regionEnd = Link.BufferOffset;
  const std::int32_t blocks = (regionEnd - regionOffset) / (4 * Link.BlockWords);
  for (;;) {
    Link.FlashAddress = RegionAddress;
    Link.BufferOffset = regionEnd;
    std::int32_t block = 0;
    while (block < blocks && !BlockDiffers(regionOffset, block)) ++block;
    if (block == blocks) {
      OpResult = op::kSuccess;
      return;
    }
    if (!PumpMessages() || !SpendAttempt(op::kFailure)) return;
    for (; block < blocks; ++block) {
      if (!BlockDiffers(regionOffset, block)) continue;
      Link.FlashAddress = RegionAddress + block * 2 * Link.BlockWords;
      Link.BufferOffset = regionOffset + block * 4 * Link.BlockWords;
      Link.PurgeDevice();
      if (!ReadBlock()) return;
    }
  }
}

}  // namespace qvx
