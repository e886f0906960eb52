#include "window_harness.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <utility>

namespace qvx::ui::test {
namespace {

class ShowCounter : public QObject {
 public:
  explicit ShowCounter(int& count) : count_(count) {}
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == QEvent::Show) ++count_;
    return false;
  }

 private:
  int& count_;
};

}  // namespace

void PrintTo(const WindowState& state, std::ostream* out) {
  *out << "{buttons " << state.buttons[0] << state.buttons[1] << state.buttons[2]
       << state.buttons[3] << ", bar " << state.bar << ", status \"" << state.status
       << "\", device \"" << state.device << "\"}";
}

WindowState StateOf(const fmStart& form) {
  WindowState state;
  for (std::size_t i = 0; i < state.buttons.size(); ++i) {
    state.buttons[i] = form.Button[i]->isVisibleTo(&form);
  }
  state.bar = form.ProgressBar->isVisibleTo(&form);
  state.status = form.StatusText->text().toStdString();
  state.device = form.DeviceName->text().toStdString();
  return state;
}

WindowState StartState() {
  return {{true, false, false, false}, false, "", ""};
}

WindowState DeviceFoundState(const std::string& device, const std::string& status) {
  return {{false, true, true, false}, false, status, device};
}

WindowState FlashingState(const std::string& device) {
  return {{false, false, false, false}, true, "Flashing device...", device};
}

WindowState CompleteState(const std::string& device) {
  return {{false, false, false, true}, false, "Flash Complete!", device};
}

std::vector<std::uint8_t> MakeContainer(std::uint8_t version) {
  std::int16_t opResult = 0;
  FirmwareImage image(nullptr, opResult);
  image.CreateArrays();
  for (std::size_t i = 8; i < image.ImageBuffer.size(); ++i) {
    image.ImageBuffer[i] = static_cast<std::uint8_t>((i * 7 + i / 2048) & 0xFF);
  }
  image.ImageBuffer[0] = 'F';
  image.ImageBuffer[1] = 'W';
  image.ImageBuffer[3] = version;
  image.ImageBuffer[4] = 0;
  image.ScrambleImage();
  return image.ResourceData;
}

ResourceLoader LoaderOf(std::optional<std::vector<std::uint8_t>> container) {
  return [container = std::move(container)](std::string_view type,
                                            int id) -> std::optional<std::vector<std::uint8_t>> {
    if (type != "JPG" || id != kImageResourceId) return std::nullopt;
    return container;
  };
}

void RecordingDriver::Record(const char* call) {
  if (beforeCall) beforeCall(call);
  calls.emplace_back(call);
}

FT_STATUS RecordingDriver::FT_OpenEx(const char* description, DWORD flags, FT_HANDLE* handle) {
  Record("Open");
  return board.FT_OpenEx(description, flags, handle);
}

FT_STATUS RecordingDriver::FT_SetTimeouts(FT_HANDLE handle, DWORD readMs, DWORD writeMs) {
  Record("SetTimeouts");
  return board.FT_SetTimeouts(handle, readMs, writeMs);
}

FT_STATUS RecordingDriver::FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) {
  Record("SetLatency");
  return board.FT_SetLatencyTimer(handle, ms);
}

FT_STATUS RecordingDriver::FT_SetUSBParameters(FT_HANDLE handle, DWORD inSize, DWORD outSize) {
  Record("SetUSBParameters");
  return board.FT_SetUSBParameters(handle, inSize, outSize);
}

FT_STATUS RecordingDriver::FT_Purge(FT_HANDLE handle, DWORD mask) {
  Record("Purge");
  return board.FT_Purge(handle, mask);
}

FT_STATUS RecordingDriver::FT_Write(FT_HANDLE handle, const void* data, DWORD count,
                                    DWORD* written) {
  Record("Write");
  return board.FT_Write(handle, data, count, written);
}

FT_STATUS RecordingDriver::FT_Read(FT_HANDLE handle, void* data, DWORD count, DWORD* read) {
  Record("Read");
  return board.FT_Read(handle, data, count, read);
}

FT_STATUS RecordingDriver::FT_Close(FT_HANDLE handle) {
  Record("Close");
  return board.FT_Close(handle);
}

BoxRecorder::BoxRecorder(const fmStart* form) : form_(form) {
  previous_ = SetMessageBoxHandler([this](const MessageBoxRequest& request) {
    RecordedBox box{request, false, false, {}};
    if (form_ != nullptr) {
      box.windowClosed = form_->IsClosed();
      box.windowVisible = form_->isVisible();
      box.device = form_->DeviceName->text().toStdString();
    }
    boxes.push_back(std::move(box));
  });
}

BoxRecorder::~BoxRecorder() {
  SetMessageBoxHandler(std::move(previous_));
}

Harness::Harness(ResourceLoader loader)
    : form(std::make_unique<fmStart>(driver, std::move(loader))), recorder(form.get()) {
  showCounter_ = std::make_unique<ShowCounter>(shows);
  form->installEventFilter(showCounter_.get());
}

}  // namespace qvx::ui::test
