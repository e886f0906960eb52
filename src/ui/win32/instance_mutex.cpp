#include "ui/win32/instance_mutex.h"

#include <windows.h>

namespace qvx::win32 {

InstanceMutex::~InstanceMutex() {
  if (handle_ != nullptr) CloseHandle(handle_);
}

bool InstanceMutex::TryAcquire() {
  if (handle_ != nullptr) return true;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, name_);
  // Existing, or the name taken by an object of another kind: someone else holds it.
  if (mutex == nullptr) return false;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return false;
  }
  handle_ = mutex;
  return true;
}

}  // namespace qvx::win32
