#include "cli/output/time_text.h"

#include <array>

namespace qvx::cli {

std::string TimeText(std::time_t moment, const char* format, bool utc) {
  std::tm parts{};
#ifdef _WIN32
  utc ? gmtime_s(&parts, &moment) : localtime_s(&parts, &moment);
#else
  utc ? gmtime_r(&moment, &parts) : localtime_r(&moment, &parts);
#endif
  std::array<char, 64> text{};
  return {text.data(), std::strftime(text.data(), text.size(), format, &parts)};
}

}  // namespace qvx::cli
