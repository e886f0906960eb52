#include "ui/message_box.h"

#include <QMessageBox>
#include <QString>
#include <utility>

namespace qvx::ui {
namespace {

void ShowQtMessageBox(const MessageBoxRequest& request) {
  // Parentless, so the box also shows when the window is already closed or not yet shown.
  QMessageBox box(request.stopIcon ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QString::fromStdString(request.title), QString(), QMessageBox::Ok);
  box.setText(QString::fromStdString(request.text));
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  if (request.systemModal) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
  }
  box.exec();
}

MessageBoxHandler& CurrentHandler() {
  static MessageBoxHandler handler = ShowQtMessageBox;
  return handler;
}

}  // namespace

void ShowMessageBox(const std::string& text, const std::string& title, bool stopIcon,
                    bool systemModal) {
  const MessageBoxRequest request{text, title.empty() ? std::string(kApplicationTitle) : title,
                                  stopIcon, systemModal};
  CurrentHandler()(request);
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(CurrentHandler());
  CurrentHandler() = handler ? std::move(handler) : MessageBoxHandler(ShowQtMessageBox);
  return previous;
}

}  // namespace qvx::ui
