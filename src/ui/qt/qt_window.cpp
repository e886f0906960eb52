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

#include "app/form_layout.h"
#include "ui/qt/message_box.h"
#include "ui/qt/resource_loader.h"

namespace qvx::qt {
namespace {

// Logical pixels, which Qt scales with the screen.
constexpr QRect ToQRect(const Rect& r) {
  return {r.left, r.top, r.width, r.height};
}

QLabel* MakeCentredLabel(QWidget* parent, const Rect& rect) {
  auto* label = new QLabel(parent);
  label->setGeometry(ToQRect(rect));
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
  setFixedSize(kClientWidth, kClientHeight);
  setWindowIcon(QIcon(QString::fromLatin1(kIconResource)));
}

void QtWindow::AddButton(qvx::Button which) {
  const ButtonLayout& layout = LayoutOf(which);
  auto* button = new QPushButton(QString::fromLatin1(layout.caption), this);
  button->setGeometry(ToQRect(layout.rect));
  // No Enter or Escape button in this window.
  button->setAutoDefault(false);
  button->setDefault(false);
  QObject::connect(button, &QPushButton::clicked, this,
                   [this, which] { form_.Button_Click(static_cast<std::int16_t>(which)); });
  Button[IndexOf(which)] = button;
}

void QtWindow::CreateControls() {
  AddButton(qvx::Button::FindDevice);
  AddButton(qvx::Button::Ok);

  ProgressBar = new QProgressBar(this);
  ProgressBar->setGeometry(ToQRect(kProgressBarRect));
  ProgressBar->setRange(0, 100);
  ProgressBar->setValue(0);
  ProgressBar->setTextVisible(false);
  ProgressBar->setToolTip(QString::fromLatin1(kProgressTip));

  Picture1 = new QLabel(this);
  Picture1->setGeometry(ToQRect(kPictureRect));
  Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Picture1->setLineWidth(2);
  Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Picture1->setPixmap(QPixmap(QString::fromLatin1(kLogoResource)));

  AddButton(qvx::Button::AbortFlash);
  AddButton(qvx::Button::FlashDevice);
  StatusText = MakeCentredLabel(this, kStatusTextRect);
  DeviceName = MakeCentredLabel(this, kDeviceNameRect);

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
