#pragma once

#include <optional>
#include <string>

namespace qvx::cli {

// Runs the command through the system's shell with `input` on its standard input and its
// standard output joined to standard error, and waits for it; why it failed (it could not be
// started, or ended with another status than 0), or nothing.
std::optional<std::string> RunHook(const std::string& command, const std::string& input);

}  // namespace qvx::cli
