#include "ui/qt/qt_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <utility>

#include "ui/qt/message_box.h"
#include "ui/qt/resource_loader.h"

namespace qvx::qt {
namespace {

// The layout in logical pixels: the design's twips divided by 15, widths rounded to even where
// needed so that every group centres on x = 168 (the bitmap box, "Find Device", "Ok!", the bar,
// the two labels, and "Flash Device" with "Abort Flash" as a pair).
constexpr QRect kFindDeviceRect{107, 216, 122, 33};
constexpr QRect kOkRect{132, 216, 72, 33};
constexpr QRect kProgressBarRect{84, 218, 168, 29};
constexpr QRect kPictureRect{86, 24, 164, 124};
constexpr QRect kAbortFlashRect{187, 216, 98, 33};
constexpr QRect kFlashDeviceRect{51, 216, 98, 33};
constexpr QRect kStatusTextRect{35, 184, 266, 17};
constexpr QRect kDeviceNameRect{36, 160, 264, 17};
constexpr QSize kClientSize{336, 273};

const char kProgressTip[] = "This bar shows the current progress of an operation.";

QPushButton* MakeButton(QWidget* parent, const char* caption, const QRect& rect) {
  auto* button = new QPushButton(QString::fromLatin1(caption), parent);
  button->setGeometry(rect);
  // No Enter or Escape button in this window.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLabel* MakeCentredLabel(QWidget* parent, const QRect& rect) {
  auto* label = new QLabel(parent);
  label->setGeometry(rect);
  label->setAlignment(Qt::AlignCenter);
  label->setTextFormat(Qt::PlainText);
  return label;
}

std::size_t IndexOf(qvx::Button button) {
  return static_cast<std::size_t>(button);
}

}  // namespace

QtWindow::QtWindow(D2xx& driver, ResourceLoader loader) : form_(*this, driver, std::move(loader)) {
  CreateControls();
  setFixedSize(kClientSize);
  setWindowIcon(QIcon(QString::fromLatin1(kIconResource)));
}

void QtWindow::CreateControls() {
  Button[IndexOf(qvx::Button::FindDevice)] = MakeButton(this, "Find Device", kFindDeviceRect);
  Button[IndexOf(qvx::Button::Ok)] = MakeButton(this, "Ok!", kOkRect);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setGeometry(kProgressBarRect);
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);
  ProgressBar->setToolTip(QString::fromLatin1(kProgressTip));

  Picture1 = new QLabel(this);
  Picture1->setGeometry(kPictureRect);
  Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Picture1->setLineWidth(2);
  Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Picture1->setPixmap(QPixmap(QString::fromLatin1(kLogoResource)));

  Button[IndexOf(qvx::Button::AbortFlash)] = MakeButton(this, "Abort Flash", kAbortFlashRect);
  Button[IndexOf(qvx::Button::FlashDevice)] = MakeButton(this, "Flash Device", kFlashDeviceRect);
  StatusText = MakeCentredLabel(this, kStatusTextRect);
  DeviceName = MakeCentredLabel(this, kDeviceNameRect);

  for (std::size_t i = 0; i < Button.size(); ++i) {
    QObject::connect(Button[i], &QPushButton::clicked, this,
                     [this, i] { form_.Button_Click(static_cast<std::int16_t>(i)); });
  }

  // Tab order "Ok!", "Abort Flash", the logo, "Find Device", the bar, "Flash Device", the device
  // line, the status line; of these only the buttons take the focus.
  const std::array<QWidget*, 4> tabOrder{
      Button[IndexOf(qvx::Button::Ok)], Button[IndexOf(qvx::Button::AbortFlash)],
      Button[IndexOf(qvx::Button::FindDevice)], Button[IndexOf(qvx::Button::FlashDevice)]};
  for (std::size_t i = 1; i < tabOrder.size(); ++i) {
    QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
  }
}

int QtWindow::ProgressValue() const {
  return ProgressBar->value();
}

void QtWindow::SetProgressValue(int value) {
  ProgressBar->setValue(value);
}

void QtWindow::SetProgressMaximum(int maximum) {
  ProgressBar->setMaximum(maximum);
}

void QtWindow::SetProgressVisible(bool visible) {
  ProgressBar->setVisible(visible);
}

void QtWindow::SetButtonVisible(qvx::Button button, bool visible) {
  Button.at(IndexOf(button))->setVisible(visible);
}

void QtWindow::SetStatusText(const std::string& text) {
  StatusText->setText(QString::fromStdString(text));
}

void QtWindow::ProcessMessages() {
  QCoreApplication::processEvents();
}

void QtWindow::ShowMessage(const Message& message) {
  ShowMessageBox(message);
}

void QtWindow::SetCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void QtWindow::SetDeviceName(const std::string& text) {
  DeviceName->setText(QString::fromStdString(text));
}

void QtWindow::Show() {
  show();
}

void QtWindow::Close() {
  close();
}

void QtWindow::EndProgram(int status) {
  // Ends the event loop if one runs; before it starts, main() returns the status itself.
  QCoreApplication::exit(status);
}

bool QtWindow::AnotherInstanceRunning() {
  return !instance_.TryAcquire();
}

std::string QtWindow::ProgramName() const {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName().toStdString();
}

void QtWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed_) return;
  closed_ = true;
  form_.WindowClosed(event->spontaneous());
}

void QtWindow::keyPressEvent(QKeyEvent* event) {
  form_.Form_KeyDown(static_cast<std::int16_t>(event->key()),
                     static_cast<std::int16_t>((event->modifiers().toInt() >> 25) & 7));
  QWidget::keyPressEvent(event);
}

}  // namespace qvx::qt
