#include "update/update_engine.h"

#include <string>
#include <utility>

namespace qvx {

namespace {

constexpr int kProgressMaximum = 55;
constexpr std::int32_t kEnterBootloader = 0x07CE;
constexpr std::int32_t kLeaveBootloader = 0x042C;

constexpr const char* kUpdateFailure = "Update Failure!";
constexpr const char* kVerifyFailure = "Verify Failure!";
constexpr const char* kBootloaderFailure = "Bootloader Failure!";
constexpr const char* kBootloaderText =
    "Step 4 - Device communication error!  Data is corrupted!  "
    "** DO NOT POWER OFF BOARD!! **  Re-try update!";

}  // namespace

UpdateEngine::UpdateEngine(D2xx& driver, UpdateView& view, ResourceLoader loader)
    : FirmwareImage(std::move(loader)), Link(driver, ImageBuffer), view_(view) {}

void UpdateEngine::FlashDevice() {
  view_.SetButtonVisible(Button::FlashDevice, false);
  view_.SetButtonVisible(Button::AbortFlash, false);
  view_.SetProgressVisible(true);
  view_.SetProgressValue(0);
  view_.SetStatusText("Flashing device...");
  Link.PurgeDevice();
  // The whole image, taken while ImageBuffer still holds it: the read-backs land there.
  ReferenceImage = ImageBuffer;
  view_.SetProgressMaximum(kProgressMaximum);
  Link.BlockWords = kBlockWords;
  view_.SetProgressValue(0);

  for (const Stage& stage : kStages) {
    if (stage.bootloader) {
      if (!RunsBootloader(Link.FwMajor, Link.FwMinor)) continue;
      if (!Execute(kEnterBootloader, /*purgeFirst=*/false)) return;
    }
    if (!RunStage(stage)) return;
    if (stage.bootloader && !Execute(kLeaveBootloader, /*purgeFirst=*/true)) return;
  }
}

bool UpdateEngine::RunStage(const Stage& stage) {
  RegionAddress = stage.address;
  Link.BufferOffset = stage.ImageOffset();
  Link.WriteLength = stage.words;
  WriteRegion();
  if (OpResult != op::kSuccess) return ReportFailure(stage);
  if (stage.purgeBeforeVerify) Link.PurgeDevice();
  RegionAddress = stage.address;
  Link.BufferOffset = stage.ImageOffset();
  VerifyLength = stage.words;
  VerifyRegion();
  return OpResult == op::kSuccess || ReportFailure(stage);
}

bool UpdateEngine::ReportFailure(const Stage& stage) {
  if (abandoned_) return false;
  if (OpResult == op::kFailure) {
    view_.ShowMessage({std::string(stage.verifyText), kVerifyFailure});
  } else {
    view_.ShowMessage({std::string(stage.communicationText), kUpdateFailure});
  }
  return false;
}

// "EX" hands the board to or back from its bootloader; the "SI" after it proves it still talks.
bool UpdateEngine::Execute(std::int32_t operand, bool purgeFirst) {
  if (purgeFirst) Link.PurgeDevice();
  Link.ExecOperand = operand;
  Link.SendExecute();
  if (!purgeFirst) Link.PurgeDevice();
  Link.QueryDeviceInfo();
  if (Link.FtStatus == QVXModule::kOk) return true;
  view_.ShowMessage({kBootloaderText, kBootloaderFailure});
  OpResult = op::kCommFailure;
  return false;
}

}  // namespace qvx
