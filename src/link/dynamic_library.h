#pragma once

#include <optional>

namespace qvx {

// A shared library loaded by name at run time. It stays loaded for the rest of the process: the
// driver libraries may keep threads of their own running, so unloading them is never safe.
class DynamicLibrary {
 public:
  // Loaded through the platform's ordinary search path, with its symbols kept private so that
  // nothing loaded later can bind to them.
  static std::optional<DynamicLibrary> Open(const char* name);

  // Sets fn to the named function; false when the library has none by that name.
  template <typename Fn>
  bool Bind(Fn& fn, const char* symbol) const {
    fn = reinterpret_cast<Fn>(Find(symbol));
    return fn != nullptr;
  }

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* Find(const char* symbol) const;

  void* handle_;
};

}  // namespace qvx
