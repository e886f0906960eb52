#pragma once

#include <string>

namespace qvx::cli {

// The machine's name, as records give it; empty when the system will not say.
std::string HostName();

}  // namespace qvx::cli
