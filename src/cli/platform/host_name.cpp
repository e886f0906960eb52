#include "cli/platform/host_name.h"

#include <array>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace qvx::cli {

std::string HostName() {
#ifdef _WIN32
  std::array<char, MAX_COMPUTERNAME_LENGTH + 1> name{};
  ::DWORD size = name.size();
  return GetComputerNameA(name.data(), &size) ? std::string(name.data(), size) : std::string();
#else
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return {};
  return name.data();
#endif
}

}  // namespace qvx::cli
