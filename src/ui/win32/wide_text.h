#pragma once

#include <string>
#include <string_view>

namespace qvx::win32 {

// The program's texts are UTF-8; the platform's calls take UTF-16.
std::wstring Wide(std::string_view text);
std::string Narrow(std::wstring_view text);

}  // namespace qvx::win32
