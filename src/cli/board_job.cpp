#include "cli/board_job.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "cli/exit_status.h"
#include "image/file_io.h"

namespace qvx::cli {

namespace {

constexpr std::int32_t kFlashWords = (kImageSize - kHeaderSize) / 4;  // addresses 0 to 32,767
constexpr std::int32_t kBlockBytes = 4 * kBlockWords;

// Blocks the stages move for a board with that firmware, each pass counted.
int StageBlocks(std::uint8_t major, std::uint8_t minor, int passes) {
  int blocks = 0;
  for (const Stage& stage : kStages) {
    if (!stage.bootloader || RunsBootloader(major, minor)) blocks += passes * stage.Blocks();
  }
  return blocks;
}

// The region's read-back in ImageBuffer against the image in ReferenceImage.
RegionDifference Compare(const Core& core, const Stage& stage) {
  RegionDifference difference{std::string(stage.step)};
  for (std::int32_t block = 0; block < stage.Blocks(); ++block) {
    const std::ptrdiff_t begin = stage.ImageOffset() + block * kBlockBytes;
    const auto read = core.ImageBuffer.begin() + begin;
    const auto [differs, unused] =
        std::mismatch(read, read + kBlockBytes, core.ReferenceImage.begin() + begin);
    if (differs == read + kBlockBytes) continue;
    if (difference.blocks++ == 0) {
      const auto index = static_cast<std::int32_t>(differs - core.ImageBuffer.begin());
      difference.firstAddress = (index - static_cast<std::int32_t>(kHeaderSize)) / 2;
    }
  }
  return difference;
}

std::string Describe(const RegionDifference& difference) {
  char text[96];
  std::snprintf(text, sizeof text, "%s: first difference at 0x%04X, %d block%s differ%s",
                difference.step.c_str(), static_cast<unsigned>(difference.firstAddress),
                difference.blocks, difference.blocks == 1 ? "" : "s",
                difference.blocks == 1 ? "s" : "");
  return text;
}

}  // namespace

const char* ResultText(Result result) {
  switch (result) {
    case Result::Ok:
      return "ok";
    case Result::UpToDate:
      return "up to date";
    case Result::Skipped:
      return "skipped";
    case Result::Differs:
      return "differs";
    case Result::Failed:
      return "failed";
    case Result::NotOpened:
      return "not opened";
    case Result::NotInUpdateMode:
      return "not in update mode";
    case Result::Interrupted:
      return "interrupted";
  }
  return "";
}

int ExitStatus(Result result) {
  switch (result) {
    case Result::Ok:
    case Result::UpToDate:
    case Result::Skipped:
      return kSucceeded;
    case Result::Differs:
    case Result::Failed:
      return kFailed;
    case Result::NotOpened:
    case Result::NotInUpdateMode:
      return kNoBoard;
    case Result::Interrupted:
      return kInterrupted;
  }
  return kFailed;
}

BoardJob::BoardJob(D2xx& driver, ResourceLoader image, ProgressDisplay& display,
                   const std::atomic<bool>& interrupted, LinkLog& log,
                   const std::string& serialNumber)
    : driver_(driver),
      interrupted_(interrupted),
      view_(serialNumber.empty() ? kBoardDescription : serialNumber, display, interrupted, log),
      core_(driver, view_, std::move(image)),
      start_(std::chrono::steady_clock::now()) {
  view_.Watch(core_);
  core_.Link.SerialNumber = serialNumber;
  outcome_.board = serialNumber.empty() ? kBoardDescription : serialNumber;
}

void BoardJob::Finish(Result result, std::string message) {
  outcome_.result = result;
  outcome_.message = std::move(message);
  outcome_.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  view_.Ended(ResultText(result));
}

// ReadRegion ends early on a link that failed for good, or at the interrupt.
void BoardJob::Stopped(const std::string& failure) {
  if (interrupted_) {
    Finish(Result::Interrupted);
  } else {
    Finish(Result::Failed, failure);
  }
}

bool BoardJob::Open(const Listing& listing) {
  core_.Link.OpenDevice();
  if (core_.Link.FtStatus != QVXModule::kOk) {
    Finish(Result::NotOpened, WhyNotOpened(driver_, listing, core_.Link.SerialNumber,
                                           static_cast<FT_STATUS>(core_.Link.FtStatus)));
    return false;
  }
  core_.Link.QueryDeviceInfo();
  outcome_.before = VersionText(core_.Link.FwMajor, core_.Link.FwMinor);
  if (core_.Link.HwMajor + core_.Link.HwMinor == 0) {
    outcome_.before.clear();
    Finish(Result::NotInUpdateMode, "Quorvex Not in update mode!");
    return false;
  }
  return true;
}

void BoardJob::Close() {
  core_.Link.CloseDevice();
}

bool BoardJob::LoadImage() {
  core_.ImageResourceId = kImageResourceId;
  core_.LoadFirmwareImage();
  if (core_.OpResult == op::kSuccess) return true;
  Finish(Result::Failed, "Device not currently supported for upgrading!");
  return false;
}

void BoardJob::Flash() {
  start_ = std::chrono::steady_clock::now();
  QVXModule& link = core_.Link;
  link.PurgeDevice();
  if (link.FtStatus == QVXModule::kOk) {
    link.QueryDeviceInfo();  // its outcome shows in the versions, as in the window
    link.PurgeDevice();
  }
  if (link.FtStatus != QVXModule::kOk) return Finish(Result::Failed, "USB Connection Failure!");
  if (!LoadImage()) return;
  view_.Expect(StageBlocks(link.FwMajor, link.FwMinor, 2));
  core_.OpResult = op::kSuccess;
  core_.FlashDevice();
  // A failure always shows its box; an update that ends without one was interrupted.
  if (core_.OpResult != op::kSuccess && view_.Failure()) {
    return Finish(Result::Failed, view_.Failure()->text);
  }
  if (core_.OpResult != op::kSuccess) return Finish(Result::Interrupted);
  outcome_.after = VersionText(core_.ImageMajor, core_.ImageMinor);
  Finish(Result::Ok);
}

void BoardJob::Verify() {
  start_ = std::chrono::steady_clock::now();
  if (!LoadImage()) return;
  QVXModule& link = core_.Link;
  core_.ReferenceImage = core_.ImageBuffer;
  link.BlockWords = kBlockWords;
  view_.Expect(StageBlocks(link.FwMajor, link.FwMinor, 1));
  std::string message;
  for (const Stage& stage : kStages) {
    if (stage.bootloader && !RunsBootloader(link.FwMajor, link.FwMinor)) continue;
    core_.RegionAddress = stage.address;
    link.BufferOffset = stage.ImageOffset();
    core_.VerifyLength = stage.words;
    core_.ReadRegion();
    if (core_.OpResult != op::kSuccess) {
      return Stopped(std::string(stage.step) + " - Device communication error while reading back!");
    }
    const RegionDifference difference = Compare(core_, stage);
    if (difference.blocks == 0) continue;
    message += (message.empty() ? "" : "; ") + Describe(difference);
    outcome_.differences.push_back(difference);
  }
  if (message.empty()) return Finish(Result::UpToDate);
  Finish(Result::Differs, message);
}

void BoardJob::Dump(const std::filesystem::path& file, bool replace) {
  start_ = std::chrono::steady_clock::now();
  core_.CreateArrays();
  QVXModule& link = core_.Link;
  link.BlockWords = kBlockWords;
  core_.RegionAddress = 0;
  link.BufferOffset = kHeaderSize;
  core_.VerifyLength = kFlashWords;
  view_.Expect(kFlashWords / kBlockWords, "Reading flash");
  core_.ReadRegion();
  if (core_.OpResult != op::kSuccess) {
    return Stopped("Device communication error while reading the flash!");
  }
  // A plain image as the programs load one: "FW", the board's firmware version, byte 4 zero.
  std::vector<std::uint8_t>& image = core_.ImageBuffer;
  std::fill(image.begin(), image.begin() + kHeaderSize, 0);
  image[0] = 'F';
  image[1] = 'W';
  image[kVersionOffset] = static_cast<std::uint8_t>(link.FwMajor << 4 | link.FwMinor);
  const std::string error = WriteFileAtomically(file, image, replace);
  if (!error.empty()) return Finish(Result::Failed, file.string() + ": " + error);
  Finish(Result::Ok, "flash written to " + file.string() + " (firmware v" + outcome_.before + ")");
}

}  // namespace qvx::cli
