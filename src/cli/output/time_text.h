#pragma once

#include <ctime>
#include <string>

namespace qvx::cli {

// The moment in that strftime format, in UTC or in the local time zone.
std::string TimeText(std::time_t moment, const char* format, bool utc);

}  // namespace qvx::cli
