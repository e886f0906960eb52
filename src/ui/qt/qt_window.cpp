#include "ui/qt/qt_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QFileInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <string_view>
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

QLabel* MakeCentredLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setAlignment(Qt::AlignCenter);
  label->setTextFormat(Qt::PlainText);
  return label;
}

std::size_t IndexOf(qvx::Button button) {
  return static_cast<std::size_t>(button);
}

}  // namespace

QtWindow::QtWindow(D2xx& driver, ResourceLoader loader, bool demo)
    : form_(*this, driver, std::move(loader), demo) {
  CreateControls();
  setFixedSize(kClientWidth, kClientHeight);
  setWindowIcon(QIcon(QString::fromLatin1(kIconResource)));
}

QWidget* QtWindow::AddButton(qvx::Button which) {
  const std::string_view caption = CaptionOf(which);
  auto* button = new QPushButton(
      QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())), this);
  // No Enter or Escape button in this window.
  button->setAutoDefault(false);
  button->setDefault(false);
  QObject::connect(button, &QPushButton::clicked, this,
                   [this, which] { form_.Button_Click(static_cast<std::int16_t>(which)); });
  Button[IndexOf(which)] = button;
  return button;
}

void QtWindow::CreateControls() {
  std::array<QWidget*, kControlCount> created{};
  for (const ControlLayout& c : kControls) {
    QWidget* control = nullptr;
    switch (c.control) {
      case Control::ProgressBar:
        control = ProgressBar = new QProgressBar(this);
        ProgressBar->setRange(0, 100);
        ProgressBar->setValue(0);
        ProgressBar->setTextVisible(false);
        ProgressBar->setToolTip(QString::fromLatin1(
            text::kProgressTip.data(), static_cast<qsizetype>(text::kProgressTip.size())));
        break;
      case Control::Picture1:
        control = Picture1 = new QLabel(this);
        Picture1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        Picture1->setLineWidth(2);
        Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        Picture1->setPixmap(QPixmap(QString::fromLatin1(kLogoResource)));
        break;
      case Control::StatusText:
        control = StatusText = MakeCentredLabel(this);
        break;
      case Control::DeviceName:
        control = DeviceName = MakeCentredLabel(this);
        break;
      default:
        control = AddButton(ButtonOf(c.control));
        break;
    }
    control->setGeometry(ToQRect(c.rect));
    created.at(static_cast<std::size_t>(c.control)) = control;
  }
  // Of the controls in their tab order only the buttons take the focus; Qt chains those.
  QWidget* previous = nullptr;
  for (const Control control : TabOrder()) {
    if (!IsButton(control)) continue;
    QWidget* next = created.at(static_cast<std::size_t>(control));
    if (previous != nullptr) QWidget::setTabOrder(previous, next);
    previous = next;
  }
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

void QtWindow::SetFocus(std::optional<qvx::Button> button) {
  // Qt gives it when the window is next active, if it is not now.
  QWidget* target = button ? Button.at(IndexOf(*button)) : static_cast<QWidget*>(this);
  target->setFocus(Qt::OtherFocusReason);
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
  // Centred on the screen that holds the pointer, where the platform lets a program place its
  // windows; Wayland's compositor places them itself, and has no pointer position to give.
  if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    if (const QScreen* screen = QGuiApplication::screenAt(QCursor::pos())) {
      move(screen->availableGeometry().center() - rect().center());
    }
  }
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
