#include "app/fm_start.h"

#include <string>
#include <utility>

namespace qvx {

namespace {

constexpr int kEndedByCheck = 1;  // a start-up check or a lost link ended the program

std::string WindowCaption() {
  return std::string(kApplicationTitle) + " v" + std::to_string(QVX_VERSION_MAJOR) + "." +
         std::to_string(QVX_VERSION_MINOR);
}

// A box with no title of its own carries the application's.
Message StopBox(std::string text) {
  return {std::move(text), kApplicationTitle, /*stopIcon=*/true, /*systemModal=*/true};
}

}  // namespace

fmStart::fmStart(FormView& view, D2xx& driver, ResourceLoader loader)
    : Core(driver, view, std::move(loader)), view_(view) {}

void fmStart::Form_Load() {
  if (view_.AnotherInstanceRunning()) {
    view_.ShowMessage(StopBox(view_.ProgramName() + " already running! "));
    view_.Close();
    EndProgram(kEndedByCheck);
    return;
  }

  view_.SetCaption(WindowCaption());

  if (Link.DeviceHandle == nullptr) {
    Link.OpenDevice();
    if (Link.FtStatus != QVXModule::kOk) {
      view_.Close();
      view_.ShowMessage({"Quorvex hardware not found!", "USB Error!"});
      EndProgram(kEndedByCheck);
      return;
    }
  }

  Link.QueryDeviceInfo();
  if (Link.HwMajor + Link.HwMinor == 0) {
    view_.ShowMessage(StopBox("Quorvex Not in update mode! "));
    view_.Close();
    EndProgram(kEndedByCheck);
    return;
  }

  ShowStartState();
  view_.Show();
  ImageResourceId = kImageResourceId;
  CreateArrays();
}

void fmStart::Form_QueryUnload(std::int16_t& /*cancel*/, std::int16_t /*unloadMode*/) {
  // A close is always allowed, also in the middle of an update.
}

void fmStart::Form_Unload(std::int16_t& /*cancel*/) {
  Link.CloseDevice();
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
  Link.PurgeDevice();
  if (Link.FtStatus != QVXModule::kOk) {
    FailLink();
    return;
  }
  // Its outcome shows in the versions below (0.0 when no valid reply came).
  Link.QueryDeviceInfo();
  Link.PurgeDevice();
  if (Link.FtStatus != QVXModule::kOk) {
    FailLink();
    return;
  }

  view_.SetDeviceName(HardwareText());
  LoadFirmwareImage();
  if (OpResult == op::kFailure) {
    view_.ShowMessage({"Device not currently supported for upgrading!", "Device not supported!"});
    return;
  }

  view_.SetStatusText(FirmwareStatusText());
  view_.SetButtonVisible(Button::FindDevice, false);
  view_.SetButtonVisible(Button::FlashDevice, true);
  view_.SetButtonVisible(Button::AbortFlash, true);
}

void fmStart::FailLink() {
  view_.Close();
  view_.ShowMessage({"USB Connection Failure!", "USB Error"});
  EndProgram(kEndedByCheck);
}

void fmStart::ShowStartState() {
  view_.SetButtonVisible(Button::FindDevice, true);
  view_.SetButtonVisible(Button::FlashDevice, false);
  view_.SetButtonVisible(Button::AbortFlash, false);
  view_.SetButtonVisible(Button::Ok, false);
  view_.SetProgressVisible(false);
  view_.SetStatusText("");
  view_.SetDeviceName("");
}

void fmStart::ShowCompletion() {
  view_.SetButtonVisible(Button::Ok, true);
  view_.SetButtonVisible(Button::FlashDevice, false);
  view_.SetButtonVisible(Button::AbortFlash, false);
  view_.SetProgressVisible(false);
  view_.SetStatusText("Flash Complete!");
}

void fmStart::EndProgram(int status) {
  exitStatus_ = status;
  view_.EndProgram(status);
}

}  // namespace qvx
