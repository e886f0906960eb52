#include "usb/usb_preload.h"

#include <dlfcn.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
extern "C" void __asan_init();
#endif

namespace qvx::usbemu {

void EnterPreload(char** argv) {
  if (std::getenv("QVX_USB_PRELOADED") != nullptr) return;
  setenv("QVX_USB_PRELOADED", "1", 1);  // once, even when the exec below fails
  const char* earlier = std::getenv("LD_PRELOAD");
  if (earlier != nullptr && std::strstr(earlier, "libumockdev-preload") != nullptr) return;
  // The preload library is installed beside the umockdev library this binary links.
  Dl_info umockdev{};
  if (dladdr(reinterpret_cast<void*>(&umockdev_testbed_new), &umockdev) == 0 ||
      umockdev.dli_fname == nullptr) {
    return;
  }
  std::string preload =
      std::filesystem::path(umockdev.dli_fname).parent_path() / "libumockdev-preload.so.0";
  if (access(preload.c_str(), R_OK) != 0) return;
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer insists on coming first in the preload list.
  Dl_info asan{};
  if (dladdr(reinterpret_cast<void*>(&__asan_init), &asan) != 0 && asan.dli_fname != nullptr &&
      std::string(asan.dli_fname).find("libasan") != std::string::npos) {
    preload = std::string(asan.dli_fname) + ":" + preload;
  }
#endif
  if (earlier != nullptr && *earlier != '\0') {
    preload += std::string(":") + earlier;
  }
  setenv("LD_PRELOAD", preload.c_str(), 1);
  execv("/proc/self/exe", argv);
}

}  // namespace qvx::usbemu
