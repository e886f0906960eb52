#pragma once

namespace qvx::win32 {

// "Is another instance running?" as a named mutex in the user's session. The system removes the
// mutex with the last handle to it, so a crashed instance leaves nothing stale behind; the
// handle goes with this object.
class InstanceMutex {
 public:
  static constexpr const wchar_t* kDefaultName = L"Local\\quorvex-updater";

  explicit InstanceMutex(const wchar_t* name = kDefaultName) : name_(name) {}
  ~InstanceMutex();
  InstanceMutex(const InstanceMutex&) = delete;
  InstanceMutex& operator=(const InstanceMutex&) = delete;

  // True when this object now holds the mutex (also when it already did).
  bool TryAcquire();

 private:
  const wchar_t* name_;
  void* handle_ = nullptr;
};

}  // namespace qvx::win32
