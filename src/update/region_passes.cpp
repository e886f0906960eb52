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

std::optional<std::int32_t> FirstDifference(const FirmwareImage& image, std::int32_t offset,
                                            std::int32_t blockBytes) {
  const auto read = image.ImageBuffer.begin() + offset;
  const auto differs =
      std::mismatch(read, read + blockBytes, image.ReferenceImage.begin() + offset).first;
  if (differs == read + blockBytes) return std::nullopt;
  return static_cast<std::int32_t>(differs - image.ImageBuffer.begin());
}

bool UpdateEngine::GoOn(bool mayPump) {
  if (!(mayPump ? events_.StopNow() : events_.StopRequested())) return true;
  // Whoever asked may have closed the link already; nothing of it may be touched again.
  Stopped = true;
  OpResult = op::kCommFailure;
  return false;
}

bool UpdateEngine::SpendAttempt(std::int16_t exhausted) {
  events_.AttemptFailed(link_.FlashAddress, kRetryBudget - RetryBudget + 1);
  if (--RetryBudget > 0) return true;
  OpResult = exhausted;
  return false;
}

// Failed reads are retried at once, asking only whether a stop was requested meanwhile. Strict,
// after the purge that precedes it, which must have succeeded, as must one before every retry.
bool UpdateEngine::ReadBlock(bool strict) {
  for (;;) {
    if (!strict || link_.FtStatus == QVXModule::kOk) {
      link_.ReadFlashBlock();
      if (link_.FtStatus == QVXModule::kOk) return true;
    }
    if (!SpendAttempt(op::kCommFailure) || !GoOn(/*mayPump=*/false)) return false;
    if (strict) Purge();
  }
}

void UpdateEngine::ShowBlock(int number) {
  ProgressValue = number;
  events_.BlockStarted(number);
}

void UpdateEngine::NextBlock() {
  link_.BufferOffset += 4 * link_.BlockWords;
  link_.FlashAddress += 2 * link_.BlockWords;
  events_.BlockDone();
}

void UpdateEngine::WriteRegion() {
  const std::int32_t lengthWords = link_.WriteLength;  // the block commands overwrite it
  RetryBudget = kRetryBudget;
  Stopped = false;
  link_.FlashAddress = RegionAddress;
  const int first = ProgressValue;
  const int last = LastBlockNumber(first, lengthWords, link_.BlockWords);
  for (int n = first; n <= last; ++n) {
    ShowBlock(n);
    if (!GoOn()) return;
    Purge();
    for (link_.WriteFlashBlock(); link_.FtStatus != QVXModule::kOk; link_.WriteFlashBlock()) {
      if (!GoOn() || !SpendAttempt(op::kCommFailure)) return;
    }
    NextBlock();
  }
  OpResult = op::kSuccess;
}

void UpdateEngine::ReadRegion(bool strict) {
  RetryBudget = kRetryBudget;
  Stopped = false;
  link_.FlashAddress = RegionAddress;
  const int first = ProgressValue;
  const int last = LastBlockNumber(first, VerifyLength, link_.BlockWords);
  for (int n = first; n <= last; ++n) {
    ShowBlock(n);
    if (!GoOn()) return;
    Purge();
    if (!ReadBlock(strict)) return;
    NextBlock();
  }
  OpResult = op::kSuccess;
}

// Reads the region back into its own place in ImageBuffer and compares it with the same
// indexes of ReferenceImage. Blocks that differ are read again, into their own place, until
// they match or the budget runs out.
void UpdateEngine::VerifyRegion() {
  const std::int32_t regionOffset = link_.BufferOffset;
  ReadRegion();
  if (OpResult != op::kSuccess) return;
  const std::int32_t regionEnd = link_.BufferOffset;
  const std::int32_t blocks = (regionEnd - regionOffset) / (4 * link_.BlockWords);
  for (;;) {
    link_.FlashAddress = RegionAddress;
    link_.BufferOffset = regionEnd;
    std::int32_t block = 0;
    while (block < blocks && !BlockDiffers(regionOffset, block)) ++block;
    if (block == blocks) {
      OpResult = op::kSuccess;
      return;
    }
    if (!GoOn() || !SpendAttempt(op::kFailure)) return;
    for (; block < blocks; ++block) {
      if (!BlockDiffers(regionOffset, block)) continue;
      link_.FlashAddress = RegionAddress + block * 2 * link_.BlockWords;
      link_.BufferOffset = regionOffset + block * 4 * link_.BlockWords;
      Purge();
      if (!ReadBlock()) return;
    }
  }
}

}  // namespace qvx
