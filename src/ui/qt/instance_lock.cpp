#include "ui/qt/instance_lock.h"

#include <QDir>
#include <QStandardPaths>

namespace qvx::qt {

InstanceLock::InstanceLock() : InstanceLock(DefaultPath()) {}

InstanceLock::InstanceLock(const QString& path) : file_(path) {
  // Only a dead owner makes a lock stale; an old lock of a live instance still counts.
  file_.setStaleLockTime(0);
}

bool InstanceLock::TryAcquire() {
  return file_.isLocked() || file_.tryLock(0);
}

QString InstanceLock::DefaultPath() {
  // Unset, Qt would pick a folder of its own and say so on standard error.
  QString folder = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
                       ? QString()
                       : QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (folder.isEmpty()) {
    folder = QDir::tempPath();
  }
  return QDir(folder).filePath(QStringLiteral("quorvex-updater.lock"));
}

}  // namespace qvx::qt
