#include "link/dynamic_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace qvx {

#ifdef _WIN32

std::optional<DynamicLibrary> DynamicLibrary::Open(const char* name) {
  HMODULE module = LoadLibraryA(name);
  if (module == nullptr) return std::nullopt;
  return DynamicLibrary(reinterpret_cast<void*>(module));
}

void* DynamicLibrary::Find(const char* symbol) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), symbol));
}

#else

std::optional<DynamicLibrary> DynamicLibrary::Open(const char* name) {
  // Never RTLD_GLOBAL: the vendor library carries its own libusb, which must not meet another.
  void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return std::nullopt;
  return DynamicLibrary(handle);
}

void* DynamicLibrary::Find(const char* symbol) const {
  return dlsym(handle_, symbol);
}

#endif

}  // namespace qvx
