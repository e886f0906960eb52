#include "app/board_session.h"

#include <cstdio>
#include <utility>

#include "image/file_io.h"
#include "image/image_format.h"

namespace qvx {

namespace {

constexpr std::int32_t kBlockBytes = 4 * kBlockWords;

using Kind = Outcome::Kind;
using Cause = Outcome::Cause;

// "Step 2: first difference at 0x1000, 4 blocks differ".
std::string Describe(const Difference& d) {
  char text[80];
  std::snprintf(text, sizeof text, "Step %d: first difference at 0x%04X, %d block%s", d.step,
                static_cast<unsigned>(d.firstAddress), d.blocks,
                d.blocks == 1 ? " differs" : "s differ");
  return text;
}

}  // namespace

BoardSession::BoardSession(D2xx& driver, ResourceLoader loader, UpdateEvents& events,
                           BoardAddress address)
    : BoardSession(driver, std::move(loader), nullptr, events, std::move(address)) {}

BoardSession::BoardSession(D2xx& driver, std::shared_ptr<const DecodedImage> image,
                           UpdateEvents& events, BoardAddress address)
    : BoardSession(driver, {}, std::move(image), events, std::move(address)) {}

BoardSession::BoardSession(D2xx& driver, ResourceLoader loader,
                           std::shared_ptr<const DecodedImage> given, UpdateEvents& events,
                           BoardAddress address)
    : image_(std::move(loader)),
      link_(driver, image_.ImageBuffer),
      engine_(image_, link_, events),
      events_(events),
      given_(std::move(given)) {
  link_.SerialNumber = std::move(address.serialNumber);
  link_.LocationId = address.location;
}

std::optional<FailedCall> BoardSession::FailedCallNow() const {
  if (link_.FtStatus == QVXModule::kOk) return std::nullopt;
  return link_.LastFailedCall;
}

Outcome BoardSession::Open() {
  if (link_.DeviceHandle == nullptr) {
    link_.OpenDevice();
    if (link_.FtStatus != QVXModule::kOk) {
      return Outcome::NotOpened(Cause::OpenFailed,
                                {text::kHardwareNotFound, text::kHardwareNotFoundTitle},
                                link_.LastFailedCall);
    }
  }
  link_.QueryDeviceInfo();
  if (link_.HwMajor + link_.HwMinor == 0) {
    const std::optional<FailedCall> call = FailedCallNow();
    // A board that stays silent answers with a read of no bytes and no error.
    const bool driverFailed = call && call->status != ft::OK;
    return Outcome::NotOpened(driverFailed ? Cause::LinkFailed : Cause::NotInUpdateMode,
                              StopBox(text::kNotInUpdateMode), call);
  }
  image_.ImageResourceId = kImageResourceId;
  image_.CreateArrays();
  return Outcome::Done();
}

void BoardSession::Close() {
  link_.CloseDevice();
}

Outcome BoardSession::Identify() {
  const auto lost = [this] {
    return Outcome::Failed(Cause::LinkLost,
                           {text::kConnectionFailure, text::kConnectionFailureTitle}, 0,
                           link_.LastFailedCall);
  };
  engine_.Purge();
  if (link_.FtStatus != QVXModule::kOk) return lost();
  link_.QueryDeviceInfo();
  engine_.Purge();
  if (link_.FtStatus != QVXModule::kOk) return lost();
  if (auto refused = TakeImage()) return std::move(*refused);
  return Outcome::Done();
}

std::optional<Outcome> BoardSession::TakeImage() {
  if (given_) {
    decoded_ = given_;
    return std::nullopt;
  }
  decoded_.reset();
  if (const auto problem = image_.LoadFirmwareImage()) {
    return Outcome::Failed(Cause::ImageRefused, {text::kNotSupported, text::kNotSupportedTitle}, 0,
                           {}, problem->Text());
  }
  decoded_ = std::make_shared<const DecodedImage>(
      DecodedImage{image_.ImageBuffer, {image_.ImageMajor, image_.ImageMinor}});
  return std::nullopt;
}

std::optional<Outcome> BoardSession::PrepareImage() {
  if (!decoded_) {
    if (auto refused = TakeImage()) return refused;
  }
  image_.ImageBuffer = decoded_->plain;
  image_.ReferenceImage = decoded_->plain;
  return std::nullopt;
}

BoardVersions BoardSession::Versions() const {
  return {{link_.HwMajor, link_.HwMinor}, {link_.FwMajor, link_.FwMinor}};
}

Version BoardSession::ImageVersion() const {
  return decoded_ ? decoded_->version : Version{};
}

std::vector<Stage> BoardSession::Plan() const {
  return PlanFor(link_.FwMajor, link_.FwMinor);
}

Outcome BoardSession::Update(const UpdatePolicy& policy) {
  if (auto refused = PrepareImage()) return std::move(*refused);
  if (policy.hardware && *policy.hardware != Versions().hardware) {
    return Outcome::Failed(Cause::WrongHardware,
                           {text::WrongHardware(Versions().hardware, *policy.hardware), ""});
  }
  if (policy.refuseOlder && ImageVersion() < Versions().firmware) {
    return Outcome::Failed(Cause::Older, {text::kOlderImage, ""});
  }
  const std::vector<Stage> plan = Plan();
  if (policy.ifNeeded) {
    Outcome compared = Compare(plan);
    if (compared.kind() == Kind::Done) return Outcome::UpToDate();
    if (compared.cause() != Cause::Differs) return compared;
  }
  Outcome written = Write();
  if (written.kind() != Kind::Done) return written;
  if (policy.checkAfter) {
    Outcome checked = CheckAfter(plan);
    if (checked.kind() != Kind::Done) return checked;
  }
  return policy.askAfter ? AskedAfter(policy) : written;
}

Outcome BoardSession::Write() {
  // Whatever was read back since, the image goes out as it was decoded.
  image_.ImageBuffer = decoded_->plain;
  engine_.FlashDevice();
  if (engine_.Stopped) return Outcome::Cancelled();
  if (engine_.OpResult == op::kSuccess) return Outcome::Done();
  const int step = engine_.FailedStage.value().step;
  if (engine_.ExecuteFailed) {
    return Outcome::Failed(Cause::Bootloader, BootloaderFailureBox(), step, FailedCallNow());
  }
  if (engine_.OpResult == op::kFailure) {
    return Outcome::Failed(Cause::Differs, StageFailureBox(step, /*verify=*/true), step);
  }
  return Outcome::Failed(Cause::Communication, StageFailureBox(step, /*verify=*/false), step,
                         FailedCallNow());
}

Outcome BoardSession::AskedAfter(const UpdatePolicy& policy) {
  engine_.Purge();
  link_.QueryDeviceInfo();
  // Only a whole reply with its signature is an answer: the versions a failed "SI" leaves are
  // the ones from before.
  const bool answered = link_.FtStatus == QVXModule::kOk && link_.ReplyBuffer[0] == 'K' &&
                        link_.ReplyBuffer[1] == 'R';
  const std::optional<Version> after = answered ? std::optional(Versions().firmware) : std::nullopt;
  const std::string note = !after ? std::string(text::kNoAnswerAfter)
                           : *after != ImageVersion()
                               ? text::OtherVersionAfter(*after, ImageVersion())
                               : std::string();
  if (note.empty() || !policy.requireVersion) return Outcome::Updated(after, note);
  return Outcome::Failed(Cause::VersionAfter, {note, ""}, 0,
                         answered ? std::nullopt : FailedCallNow(), {}, {}, after);
}

std::optional<Outcome> BoardSession::ReadBack(const Stage& stage, std::string_view failure) {
  events_.StageStarted(stage);
  engine_.RegionAddress = stage.address;
  link_.BufferOffset = stage.ImageOffset();
  engine_.VerifyLength = stage.words;
  engine_.ReadRegion(/*strict=*/true);
  if (engine_.OpResult == op::kSuccess) return std::nullopt;
  if (engine_.Stopped) return Outcome::Cancelled();
  const std::string step = stage.step == 0 ? "" : "Step " + std::to_string(stage.step) + " - ";
  return Outcome::Failed(Cause::Communication, {step + std::string(failure), ""}, stage.step,
                         FailedCallNow());
}

Outcome BoardSession::Verify() {
  if (auto refused = PrepareImage()) return std::move(*refused);
  return Compare(Plan());
}

Outcome BoardSession::Compare(const std::vector<Stage>& plan) {
  link_.BlockWords = kBlockWords;
  engine_.ProgressValue = 0;
  events_.Started(Purpose::Check, BlocksOf(plan), UpdateEngine::kProgressMaximum);
  std::vector<Difference> differences;
  for (const Stage& stage : plan) {
    if (auto ended = ReadBack(stage, text::kReadBackFailure)) return std::move(*ended);
    std::optional<Difference> difference;
    for (std::int32_t block = 0; block < stage.Blocks(); ++block) {
      const auto index =
          FirstDifference(image_, stage.ImageOffset() + block * kBlockBytes, kBlockBytes);
      if (!index) continue;
      if (!difference) {
        difference =
            Difference{stage.step, (*index - static_cast<std::int32_t>(kHeaderSize)) / 2, 0};
      }
      ++difference->blocks;
    }
    if (difference) differences.push_back(*difference);
  }
  if (differences.empty()) return Outcome::Done();
  std::string text;
  for (const Difference& d : differences) text += (text.empty() ? "" : "; ") + Describe(d);
  const int step = differences.front().step;
  return Outcome::Failed(Cause::Differs, {text, ""}, step, {}, {}, std::move(differences));
}

Outcome BoardSession::CheckAfter(const std::vector<Stage>& plan) {
  // The update compared every block it wrote; only code the board ran since can have changed one.
  const auto last =
      std::find_if(plan.rbegin(), plan.rend(), [](const Stage& s) { return s.bootloader; });
  if (last == plan.rend()) return Outcome::Done();
  return Compare({plan.begin(), last.base()});
}

Outcome BoardSession::Dump(const std::filesystem::path& file, bool replace) {
  image_.CreateArrays();
  link_.BlockWords = kBlockWords;
  engine_.ProgressValue = 0;
  events_.Started(Purpose::Dump, kWholeFlash.Blocks(), UpdateEngine::kProgressMaximum);
  if (auto ended = ReadBack(kWholeFlash, text::kDumpFailure)) return std::move(*ended);
  const std::vector<std::uint8_t> image =
      PlainImage(std::span(image_.ImageBuffer).subspan(kHeaderSize), Versions().firmware);
  if (const auto problem = WriteFileAtomically(file, image, replace)) {
    return Outcome::Failed(Cause::File, {problem->Text(), ""});
  }
  return Outcome::Done();
}

}  // namespace qvx
