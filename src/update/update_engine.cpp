#include "update/update_engine.h"

namespace qvx {

namespace {

constexpr std::int32_t kEnterBootloader = 0x07CE;
constexpr std::int32_t kLeaveBootloader = 0x042C;
constexpr int kPassesPerStage = 2;  // written, then read back

}  // namespace

UpdateEngine::UpdateEngine(FirmwareImage& image, QVXModule& link, UpdateEvents& events)
    : image_(image), link_(link), events_(events) {}

void UpdateEngine::Purge() {
  link_.PurgeDevice();
  events_.Purged();
}

void UpdateEngine::FlashDevice() {
  FailedStage.reset();
  ExecuteFailed = false;
  Purge();
  // The whole image, taken while ImageBuffer still holds it: the read-backs land there.
  image_.ReferenceImage = image_.ImageBuffer;
  link_.BlockWords = kBlockWords;
  ProgressValue = 0;
  const std::vector<Stage> plan = PlanFor(link_.FwMajor, link_.FwMinor);
  events_.Started(Purpose::Update, kPassesPerStage * BlocksOf(plan), kProgressMaximum);

  for (const Stage& stage : plan) {
    events_.StageStarted(stage);
    const bool ran = (!stage.bootloader || Execute(kEnterBootloader, /*purgeFirst=*/false)) &&
                     RunStage(stage) &&
                     (!stage.bootloader || Execute(kLeaveBootloader, /*purgeFirst=*/true));
    if (!ran) {
      FailedStage = stage;
      return;
    }
  }
}

bool UpdateEngine::RunStage(const Stage& stage) {
  RegionAddress = stage.address;
  link_.BufferOffset = stage.ImageOffset();
  link_.WriteLength = stage.words;
  WriteRegion();
  if (OpResult != op::kSuccess) return false;
  if (stage.purgeBeforeVerify) Purge();
  RegionAddress = stage.address;
  link_.BufferOffset = stage.ImageOffset();
  VerifyLength = stage.words;
  VerifyRegion();
  return OpResult == op::kSuccess;
}

// "EX" hands the board to or back from its bootloader; the "SI" after it proves it still talks.
bool UpdateEngine::Execute(std::int32_t operand, bool purgeFirst) {
  if (purgeFirst) Purge();
  link_.ExecOperand = operand;
  link_.SendExecute();
  events_.Executed(operand);
  if (!purgeFirst) Purge();
  link_.QueryDeviceInfo();
  if (link_.FtStatus == QVXModule::kOk) return true;
  ExecuteFailed = true;
  OpResult = op::kCommFailure;
  return false;
}

}  // namespace qvx
