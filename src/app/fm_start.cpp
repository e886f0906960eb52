#include "app/fm_start.h"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "app/form_layout.h"

namespace qvx {

namespace {

constexpr int kEndedByCheck = 1;  // a start-up check or a lost link ended the program

std::string WindowCaption(bool demo) {
  return std::string(text::kApplicationTitle) + std::string(text::kCaptionVersion) +
         std::to_string(QVX_VERSION_MAJOR) + "." + std::to_string(QVX_VERSION_MINOR) +
         std::string(demo ? text::kDemoCaption : "");
}

// OpResult's code for how a command ended: a read-back that differed or an image refused is a
// failure, a link that gave out (or an update ended by a close) a communication failure.
std::int16_t ResultOf(const Outcome& outcome) {
  switch (outcome.cause()) {
    case Outcome::Cause::None:
      return outcome.kind() == Outcome::Kind::Done ? op::kSuccess : op::kCommFailure;
    case Outcome::Cause::Differs:
    case Outcome::Cause::ImageRefused:
      return op::kFailure;
    case Outcome::Cause::LinkLost:  // the program ends instead
      return op::kSuccess;
    default:
      return op::kCommFailure;
  }
}

}  // namespace

fmStart::fmStart(FormView& view, D2xx& driver, ResourceLoader loader, bool demo)
    : view_(view), demo_(demo), session_(driver, std::move(loader), *this) {}

void fmStart::Form_Load() {
  if (view_.AnotherInstanceRunning()) {
    view_.ShowMessage(StopBox(view_.ProgramName() + std::string(text::kAlreadyRunning)));
    view_.Close();
    EndProgram(kEndedByCheck);
    return;
  }

  view_.SetCaption(WindowCaption(demo_));

  // Opens the board unless it is open, and asks it "SI"; the arrays follow.
  const Outcome opened = session_.Open();
  if (opened.kind() != Outcome::Kind::Done) {
    // A board that did not open is reported with no window; one not in update mode before the
    // window closes.
    if (opened.cause() == Outcome::Cause::OpenFailed) {
      view_.Close();
      view_.ShowMessage(opened.message());
    } else {
      view_.ShowMessage(opened.message());
      view_.Close();
    }
    EndProgram(kEndedByCheck);
    return;
  }

  ShowStartState();
  view_.Show();
}

void fmStart::Form_QueryUnload(std::int16_t& /*cancel*/, std::int16_t /*unloadMode*/) {
  // A close is always allowed, also in the middle of an update.
}

void fmStart::Form_Unload(std::int16_t& /*cancel*/) {
  session_.Close();
}

void fmStart::Form_KeyDown(std::int16_t /*keyCode*/, std::int16_t /*shift*/) {
  // Keys do nothing here beyond what the focused control does with them.
}

void fmStart::WindowClosed(bool byOperator) {
  std::int16_t cancel = 0;
  Form_QueryUnload(cancel, byOperator ? kClosedByOperator : kClosedByCode);
  Form_Unload(cancel);
  // Closes from code end the program themselves, after their box.
  if (byOperator) EndProgram(exitStatus_);
}

void fmStart::Button_Click(std::int16_t index) {
  OpResult = op::kSuccess;
  switch (static_cast<Button>(index)) {
    case Button::FindDevice:
      CheckDevice();
      if (OpResult != op::kSuccess) ShowStartState();
      break;
    case Button::FlashDevice:
      FlashDevice();
      // Closed mid-update: the link and the window are gone, nothing more to show.
      if (view_.IsClosed()) break;
      if (OpResult != op::kSuccess) {
        ShowStartState();
      } else {
        ShowCompletion();
      }
      break;
    case Button::AbortFlash:
    case Button::Ok:
      ShowStartState();
      break;
  }
}

void fmStart::CheckDevice() {
  const Outcome found = session_.Identify();
  OpResult = ResultOf(found);
  if (found.cause() == Outcome::Cause::LinkLost) {
    view_.Close();
    view_.ShowMessage(found.message());
    EndProgram(kEndedByCheck);
    return;
  }
  const BoardVersions board = session_.Versions();
  view_.SetDeviceName(HardwareText(board.hardware));
  if (found.kind() != Outcome::Kind::Done) {
    view_.ShowMessage(found.message());
    return;
  }
  view_.SetStatusText(FirmwareStatusText(board.firmware, session_.ImageVersion()));
  ShowButtons({false, true, true, false});
}

void fmStart::FlashDevice() {
  ShowButtons({false, false, false, false});
  view_.SetProgressVisible(true);
  view_.SetProgressValue(0);
  view_.SetStatusText(std::string(text::kFlashing));
  const Outcome flashed = session_.Update(UpdatePolicy{});
  OpResult = ResultOf(flashed);
  if (flashed.kind() == Outcome::Kind::Failed) view_.ShowMessage(flashed.message());
}

void fmStart::Started(Purpose /*purpose*/, int /*blocks*/, int progressMaximum) {
  view_.SetProgressMaximum(progressMaximum);
  view_.SetProgressValue(0);
}

void fmStart::BlockStarted(int number) {
  view_.SetProgressValue(number);
}

bool fmStart::StopNow() {
  view_.ProcessMessages();
  // A close meanwhile has closed the link; the update must not touch it or the window again.
  return view_.IsClosed();
}

void fmStart::ShowButtons(const std::array<bool, kButtonCount>& visible) {
  for (int index = 0; index < kButtonCount; ++index) {
    view_.SetButtonVisible(static_cast<Button>(index), visible.at(static_cast<std::size_t>(index)));
  }
  const auto order = TabOrder();
  const auto first = std::ranges::find_if(order, [&visible](Control control) {
    return IsButton(control) && visible.at(static_cast<std::size_t>(control));
  });
  view_.SetFocus(first == order.end() ? std::nullopt : std::optional(ButtonOf(*first)));
}

void fmStart::ShowStartState() {
  ShowButtons({true, false, false, false});
  view_.SetProgressVisible(false);
  view_.SetStatusText("");
  view_.SetDeviceName("");
}

void fmStart::ShowCompletion() {
  ShowButtons({false, false, false, true});
  view_.SetProgressVisible(false);
  view_.SetStatusText(std::string(text::kFlashComplete));
}

void fmStart::EndProgram(int status) {
  exitStatus_ = status;
  view_.EndProgram(status);
}

}  // namespace qvx
