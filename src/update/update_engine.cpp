#include "update/update_engine.h"

#include <array>
#include <string>

namespace qvx {

namespace {

constexpr std::int32_t kBlockWords = 512;
constexpr int kProgressMaximum = 55;
constexpr std::int32_t kHeaderBytes = 8;  // the image's header is never sent
// Boards running firmware up to 1.1 also get the bootloader region written.
constexpr int kLastFirmwareNeedingBootloader = 0x11;
constexpr std::int32_t kEnterBootloader = 0x07CE;
constexpr std::int32_t kLeaveBootloader = 0x042C;

constexpr const char* kUpdateFailure = "Update Failure!";
constexpr const char* kVerifyFailure = "Verify Failure!";
constexpr const char* kBootloaderFailure = "Bootloader Failure!";
constexpr const char* kBootloaderText =
    "Step 4 - Device communication error!  Data is corrupted!  "
    "** DO NOT POWER OFF BOARD!! **  Re-try update!";

}  // namespace

struct UpdateEngine::Stage {
  std::int32_t address;  // flash address of the region's first block
  std::int32_t words;
  bool bootloader;         // runs only for old firmware, between the two "EX"
  bool purgeBeforeVerify;  // the long region is purged once more before its read-back
  const char* communicationText;
  const char* verifyText;
};

UpdateEngine::UpdateEngine(QVXModule& link, FirmwareImage& image, UpdateWindow& window,
                           std::int16_t& opResult)
    : OpResult(opResult), link_(link), image_(image), window_(window) {}

void UpdateEngine::FlashDevice() {
  window_.SetButtonVisible(1, false);
  window_.SetButtonVisible(2, false);
  window_.SetProgressVisible(true);
  window_.SetProgressValue(0);
  window_.SetStatusText("Flashing device...");
  link_.PurgeDevice();
  // The whole image, taken while ImageBuffer still holds it: the read-backs land there.
  image_.ReferenceImage = image_.ImageBuffer;
  window_.SetProgressMaximum(kProgressMaximum);
  link_.BlockWords = kBlockWords;
  window_.SetProgressValue(0);

  // In the order they run. Flash addresses 3,072 to 4,095 belong to no stage.
  static constexpr std::array<Stage, 4> kStages{{
      {4096, 2048, false, false,
       "Step 2 - Device communication error - Corruption possible!  Re-try update!",
       "Step 2 - Device verify error!  Data is corrupted!  Re-try update!"},
      {0, 512, false, false,
       "Step 3 - Device communication error - Corruption possible!  "
       "** DO NOT POWER OFF BOARD!! **  Re-try update!",
       "Step 3 - Device verify error!  Data is corrupted!  "
       "** DO NOT POWER OFF BOARD!! **  Re-try update!"},
      {1024, 1024, true, false,
       "Step 4 - Device communication error - Corruption possible!  Re-try update!",
       "Step 4 - Device verify error!  Data is corrupted!  Re-try update!"},
      {8192, 12288, false, true,
       "Step 1 - Device communication error - Corruption possible!  Re-try update!",
       "Step 1 - Device verify error!  Data is corrupted!  Re-try update!"},
  }};
  for (const Stage& stage : kStages) {
    if (stage.bootloader) {
      if (link_.FwMajor * 16 + link_.FwMinor > kLastFirmwareNeedingBootloader) continue;
      if (!Execute(kEnterBootloader, /*purgeFirst=*/false)) return;
    }
    if (!RunStage(stage)) return;
    if (stage.bootloader && !Execute(kLeaveBootloader, /*purgeFirst=*/true)) return;
  }
}

bool UpdateEngine::RunStage(const Stage& stage) {
  RegionAddress = stage.address;
  link_.BufferOffset = kHeaderBytes + 2 * stage.address;
  link_.WriteLength = stage.words;
  WriteRegion();
  if (OpResult != kSuccess) return ReportFailure(stage);
  if (stage.purgeBeforeVerify) link_.PurgeDevice();
  RegionAddress = stage.address;
  link_.BufferOffset = kHeaderBytes + 2 * stage.address;
  VerifyLength = stage.words;
  VerifyRegion();
  return OpResult == kSuccess || ReportFailure(stage);
}

bool UpdateEngine::ReportFailure(const Stage& stage) {
  if (abandoned_) return false;
  if (OpResult == kFailure) {
    window_.ShowMessage(stage.verifyText, kVerifyFailure);
  } else {
    window_.ShowMessage(stage.communicationText, kUpdateFailure);
  }
  return false;
}

// "EX" hands the board to or back from its bootloader; the "SI" after it proves it still talks.
bool UpdateEngine::Execute(std::int32_t operand, bool purgeFirst) {
  if (purgeFirst) link_.PurgeDevice();
  link_.ExecOperand = operand;
  link_.SendExecute();
  if (!purgeFirst) link_.PurgeDevice();
  link_.QueryDeviceInfo();
  if (link_.FtStatus == 0) return true;
  window_.ShowMessage(kBootloaderText, kBootloaderFailure);
  OpResult = kCommFailure;
  return false;
}

}  // namespace qvx
