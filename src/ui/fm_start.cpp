#include "ui/fm_start.h"

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

#include "ui/message_box.h"
#include "ui/resource_loader.h"
#include "ui/window_texts.h"

namespace qvx::ui {
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

}  // namespace

fmStart::fmStart(D2xx& driver, ResourceLoader loader, QWidget* parent)
    : QWidget(parent),
      Image(std::move(loader), OpResult),
      Link(driver, Image.ImageBuffer),
      Engine(Link, Image, *this, OpResult) {
  CreateControls();
  setFixedSize(kClientSize);
  setWindowIcon(QIcon(QString::fromLatin1(kIconResource)));
}

void fmStart::CreateControls() {
  Button[kFindDevice] = MakeButton(this, "Find Device", kFindDeviceRect);
  Button[kOk] = MakeButton(this, "Ok!", kOkRect);

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

  Button[kAbortFlash] = MakeButton(this, "Abort Flash", kAbortFlashRect);
  Button[kFlashDevice] = MakeButton(this, "Flash Device", kFlashDeviceRect);
  StatusText = MakeCentredLabel(this, kStatusTextRect);
  DeviceName = MakeCentredLabel(this, kDeviceNameRect);

  for (std::size_t i = 0; i < Button.size(); ++i) {
    QObject::connect(Button[i], &QPushButton::clicked, this,
                     [this, i] { Button_Click(static_cast<std::int16_t>(i)); });
  }

  // Tab order "Ok!", "Abort Flash", the logo, "Find Device", the bar, "Flash Device", the device
  // line, the status line; of these only the buttons take the focus.
  const std::array<QWidget*, 4> tabOrder{Button[kOk], Button[kAbortFlash], Button[kFindDevice],
                                         Button[kFlashDevice]};
  for (std::size_t i = 1; i < tabOrder.size(); ++i) {
    QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
  }
}

void fmStart::Form_Load() {
  if (!instance_.TryAcquire()) {
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    ShowMessageBox(program.toStdString() + " already running! ", "", true, true);
    close();
    EndProgram(1);
    return;
  }

  setWindowTitle(QString::fromStdString(WindowCaption(QVX_VERSION_MAJOR, QVX_VERSION_MINOR)));

  if (Link.DeviceHandle == nullptr) {
    Link.OpenDevice();
    if (Link.FtStatus != 0) {
      close();
      ShowMessageBox("Quorvex hardware not found!", "USB Error!");
      EndProgram(1);
      return;
    }
  }

  Link.QueryDeviceInfo();
  if (Link.HwMajor + Link.HwMinor == 0) {
    ShowMessageBox("Quorvex Not in update mode! ", "", true, true);
    close();
    EndProgram(1);
    return;
  }

  ShowStartState();
  show();
  Image.ImageResourceId = kImageResourceId;
  Image.CreateArrays();
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

void fmStart::Button_Click(std::int16_t index) {
  OpResult = 0;
  switch (index) {
    case kFindDevice:
      CheckDevice();
      if (OpResult != 0) ShowStartState();
      break;
    case kFlashDevice:
      Engine.FlashDevice();
      // Closed mid-update: the link and the window are gone, nothing more to show.
      if (closed_) break;
      if (OpResult != 0) {
        ShowStartState();
      } else {
        ShowCompletion();
      }
      break;
    case kAbortFlash:
    case kOk:
      ShowStartState();
      break;
    default:
      break;
  }
}

void fmStart::CheckDevice() {
  Link.PurgeDevice();
  if (Link.FtStatus != 0) {
    FailLink();
    return;
  }
  // Its outcome shows in the versions below (0.0 when no valid reply came).
  Link.QueryDeviceInfo();
  Link.PurgeDevice();
  if (Link.FtStatus != 0) {
    FailLink();
    return;
  }

  DeviceName->setText(
      QString::fromStdString("Quorvex - Hardware v" + VersionText(Link.HwMajor, Link.HwMinor)));
  const std::string boardFirmware = VersionText(Link.FwMajor, Link.FwMinor);

  Image.LoadFirmwareImage();
  if (OpResult == -1) {
    ShowMessageBox("Device not currently supported for upgrading!", "Device not supported!");
    return;
  }

  StatusText->setText(QString::fromStdString("Firmware: v" + boardFirmware +
                                             "  -  Upgrading to: v" +
                                             VersionText(Image.ImageMajor, Image.ImageMinor)));
  Button[kFindDevice]->setVisible(false);
  Button[kFlashDevice]->setVisible(true);
  Button[kAbortFlash]->setVisible(true);
}

void fmStart::FailLink() {
  close();
  ShowMessageBox("USB Connection Failure!", "USB Error");
  EndProgram(1);
}

void fmStart::ShowStartState() {
  Button[kFindDevice]->setVisible(true);
  Button[kFlashDevice]->setVisible(false);
  Button[kAbortFlash]->setVisible(false);
  Button[kOk]->setVisible(false);
  ProgressBar->setVisible(false);
  StatusText->clear();
  DeviceName->clear();
}

void fmStart::ShowCompletion() {
  Button[kOk]->setVisible(true);
  Button[kFlashDevice]->setVisible(false);
  Button[kAbortFlash]->setVisible(false);
  ProgressBar->setVisible(false);
  StatusText->setText(QStringLiteral("Flash Complete!"));
}

void fmStart::EndProgram(int status) {
  exitStatus_ = status;
  // Ends the event loop if one runs; before it starts, main() returns the status itself.
  QCoreApplication::exit(status);
}

int fmStart::ProgressValue() const {
  return ProgressBar->value();
}

void fmStart::SetProgressValue(int value) {
  ProgressBar->setValue(value);
}

void fmStart::SetProgressMaximum(int maximum) {
  ProgressBar->setMaximum(maximum);
}

void fmStart::SetProgressVisible(bool visible) {
  ProgressBar->setVisible(visible);
}

void fmStart::SetButtonVisible(int index, bool visible) {
  Button.at(static_cast<std::size_t>(index))->setVisible(visible);
}

void fmStart::SetStatusText(const std::string& text) {
  StatusText->setText(QString::fromStdString(text));
}

void fmStart::ProcessMessages() {
  QCoreApplication::processEvents();
}

void fmStart::ShowMessage(const std::string& text, const std::string& title) {
  ShowMessageBox(text, title);
}

void fmStart::closeEvent(QCloseEvent* event) {
  event->accept();
  if (closed_) return;
  std::int16_t cancel = 0;
  Form_QueryUnload(cancel, event->spontaneous() ? kClosedByOperator : kClosedByCode);
  Form_Unload(cancel);
  closed_ = true;
  // The operator's close ends the program; closes from code end it themselves.
  if (event->spontaneous()) QCoreApplication::exit(exitStatus_);
}

void fmStart::keyPressEvent(QKeyEvent* event) {
  Form_KeyDown(static_cast<std::int16_t>(event->key()),
               static_cast<std::int16_t>((event->modifiers().toInt() >> 25) & 7));
  QWidget::keyPressEvent(event);
}

}  // namespace qvx::ui
