#include "window_harness.h"

#include "../image/test_image.h"

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

std::vector<std::uint8_t> MakeContainer(std::uint8_t version) {
  return qvx::test::Scrambled(qvx::test::PlainImage(version));
}

ResourceLoader LoaderOf(std::optional<std::vector<std::uint8_t>> container) {
  return [container = std::move(container)](std::string_view type,
                                            int id) -> std::optional<std::vector<std::uint8_t>> {
    if (type != "JPG" || id != kImageResourceId) return std::nullopt;
    return container;
  };
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
    : form(std::make_unique<fmStart>(board, std::move(loader))), recorder(form.get()) {
  showCounter_ = std::make_unique<ShowCounter>(shows);
  form->installEventFilter(showCounter_.get());
}

}  // namespace qvx::ui::test
