#pragma once

#include <QLockFile>
#include <QString>

namespace qvx::qt {

// "Is another instance running?" as a lock file in the user's runtime folder. The operating
// system forgets nothing here, so a crashed instance's lock is recognised by its dead process and
// taken over; the lock goes with this object.
class InstanceLock {
 public:
  // The default path: quorvex-updater.lock in Qt's runtime location, else the temporary folder.
  InstanceLock();
  explicit InstanceLock(const QString& path);

  // True when this object now holds the lock (also when it already did).
  bool TryAcquire();

  static QString DefaultPath();

 private:
  QLockFile file_;
};

}  // namespace qvx::qt
