#include "app/board_session.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "image/file_io.h"
#include "image/image_format.h"

namespace qvx {

namespace {

constexpr std::int32_t kBlockBytes = 4 * kBlockWords;

// The region's read-back in ImageBuffer against the image in ReferenceImage, block by block.
std::optional<Difference> Compare(const FirmwareImage& image, const Stage& stage) {
  std::optional<Difference> difference;
  for (std::int32_t block = 0; block < stage.Blocks(); ++block) {
    const std::ptrdiff_t begin = stage.ImageOffset() + block * kBlockBytes;
    const auto read = image.ImageBuffer.begin() + begin;
    const auto differs =
        std::mismatch(read, read + kBlockBytes, image.ReferenceImage.begin() + begin).first;
    if (differs == read + kBlockBytes) continue;
    if (!difference) {
      const auto index = static_cast<std::int32_t>(differs - image.ImageBuffer.begin());
      difference = Difference{stage.step, (index - static_cast<std::int32_t>(kHeaderSize)) / 2, 0};
    }
    ++difference->blocks;
  }
  return difference;
}

// "Step 2: first difference at 0x1000, 4 blocks differ".
std::string Describe(const Difference& d) {
  char text[80];
  std::snprintf(text, sizeof text, "Step %d: first difference at 0x%04X, %d block%s", d.step,
                static_cast<unsigned>(d.firstAddress), d.blocks,
                d.blocks == 1 ? " differs" : "s differ");
  return text;
}

}  // namespace

BoardSession::BoardSession(D2xx& driver, ResourceLoader loader, UpdateEvents& events)
    : Image(std::move(loader)),
      Link(driver, Image.ImageBuffer),
      Engine(Image, Link, events),
      events_(events) {}

std::optional<FailedCall> BoardSession::FailedCallNow() const {
  if (Link.FtStatus == QVXModule::kOk) return std::nullopt;
  return Link.LastFailedCall;
}

Outcome BoardSession::Open() {
  if (Link.DeviceHandle == nullptr) {
    Link.OpenDevice();
    if (Link.FtStatus != QVXModule::kOk) {
      return Outcome::NotOpened(Outcome::Cause::OpenFailed,
                                {text::kHardwareNotFound, text::kHardwareNotFoundTitle},
                                Link.LastFailedCall);
    }
  }
  Link.QueryDeviceInfo();
  if (Link.HwMajor + Link.HwMinor == 0) {
    return Outcome::NotOpened(Outcome::Cause::NotInUpdateMode, StopBox(text::kNotInUpdateMode),
                              FailedCallNow());
  }
  Image.ImageResourceId = kImageResourceId;
  Image.CreateArrays();
  return Outcome::Done();
}

void BoardSession::Close() {
  Link.CloseDevice();
}

Outcome BoardSession::Identify() {
  const auto lost = [this] {
    return Outcome::Failed(Outcome::Cause::LinkLost,
                           {text::kConnectionFailure, text::kConnectionFailureTitle}, 0,
                           Link.LastFailedCall);
  };
  Engine.Purge();
  if (Link.FtStatus != QVXModule::kOk) return lost();
  Link.QueryDeviceInfo();
  Engine.Purge();
  if (Link.FtStatus != QVXModule::kOk) return lost();
  if (auto refused = LoadImage()) return std::move(*refused);
  return Outcome::Done();
}

std::optional<Outcome> BoardSession::LoadImage() {
  const auto problem = Image.LoadFirmwareImage();
  if (!problem) return std::nullopt;
  Engine.OpResult = op::kFailure;
  Outcome refused = Outcome::Failed(Outcome::Cause::ImageRefused,
                                    {text::kNotSupported, text::kNotSupportedTitle});
  refused.detail = problem->Text();
  return refused;
}

std::string BoardSession::HardwareText() const {
  return std::string(text::kHardwarePrefix) + VersionText(Link.HwMajor, Link.HwMinor);
}

std::string BoardSession::FirmwareStatusText() const {
  return std::string(text::kFirmwarePrefix) + VersionText(Link.FwMajor, Link.FwMinor) +
         std::string(text::kUpgradingTo) + VersionText(Image.ImageMajor, Image.ImageMinor);
}

std::vector<Stage> BoardSession::Plan() const {
  return PlanFor(Link.FwMajor, Link.FwMinor);
}

Outcome BoardSession::Flash() {
  Engine.FlashDevice();
  if (Engine.Stopped) return Outcome::Cancelled();
  if (Engine.OpResult == op::kSuccess) return Outcome::Done();
  const int step = Engine.FailedStage.value().step;
  if (Engine.ExecuteFailed) {
    return Outcome::Failed(Outcome::Cause::Bootloader, BootloaderFailureBox(), step,
                           FailedCallNow());
  }
  if (Engine.OpResult == op::kFailure) {
    return Outcome::Failed(Outcome::Cause::Differs, StageFailureBox(step, /*verify=*/true), step);
  }
  return Outcome::Failed(Outcome::Cause::Communication, StageFailureBox(step, /*verify=*/false),
                         step, FailedCallNow());
}

std::optional<Outcome> BoardSession::ReadBack(const Stage& stage, std::string_view failure) {
  events_.StageStarted(stage);
  Engine.RegionAddress = stage.address;
  Link.BufferOffset = stage.ImageOffset();
  Engine.VerifyLength = stage.words;
  Engine.ReadRegion();
  if (Engine.OpResult == op::kSuccess) return std::nullopt;
  if (Engine.Stopped) return Outcome::Cancelled();
  const std::string step = stage.step == 0 ? "" : "Step " + std::to_string(stage.step) + " - ";
  return Outcome::Failed(Outcome::Cause::Communication, {step + std::string(failure), ""},
                         stage.step, FailedCallNow());
}

Outcome BoardSession::Verify() {
  if (auto refused = LoadImage()) return std::move(*refused);
  Image.ReferenceImage = Image.ImageBuffer;
  Link.BlockWords = kBlockWords;
  Engine.ProgressValue = 0;
  const std::vector<Stage> plan = Plan();
  events_.Started(BlocksOf(plan), UpdateEngine::kProgressMaximum);
  std::vector<Difference> differences;
  for (const Stage& stage : plan) {
    if (auto ended = ReadBack(stage, text::kReadBackFailure)) return std::move(*ended);
    if (const auto difference = Compare(Image, stage)) differences.push_back(*difference);
  }
  if (differences.empty()) return Outcome::Done();
  std::string text;
  for (const Difference& d : differences) text += (text.empty() ? "" : "; ") + Describe(d);
  Outcome differs = Outcome::Failed(Outcome::Cause::Differs, {text, ""}, differences.front().step);
  differs.differences = std::move(differences);
  return differs;
}

Outcome BoardSession::Dump(const std::filesystem::path& file, bool replace) {
  Image.CreateArrays();
  Link.BlockWords = kBlockWords;
  Engine.ProgressValue = 0;
  events_.Started(kWholeFlash.Blocks(), UpdateEngine::kProgressMaximum);
  if (auto ended = ReadBack(kWholeFlash, text::kDumpFailure)) return std::move(*ended);
  // A plain image as the programs load one.
  std::vector<std::uint8_t>& image = Image.ImageBuffer;
  std::fill(image.begin(), image.begin() + kHeaderSize, 0);
  image[0] = 'F';
  image[1] = 'W';
  image[kVersionOffset] = static_cast<std::uint8_t>(Link.FwMajor << 4 | Link.FwMinor);
  if (const auto problem = WriteFileAtomically(file, image, replace)) {
    return Outcome::Failed(Outcome::Cause::File, {problem->Text(), ""});
  }
  return Outcome::Done();
}

}  // namespace qvx
