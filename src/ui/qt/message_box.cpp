#include "ui/qt/message_box.h"

#include <QMessageBox>
#include <QString>

namespace qvx::qt {

void ShowMessageBox(const Message& message) {
  // Parentless, so the box also shows when the window is already closed or not yet shown.
  QMessageBox box(message.stopIcon ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QString::fromStdString(message.title), QString(), QMessageBox::Ok);
  box.setText(QString::fromStdString(message.text));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (message.systemModal) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  }
  box.exec();
}

}  // namespace qvx::qt
