// Text helpers whose result depends on the platform's own case tables.
#pragma once

#include <string>

namespace platform {

// Upper case as the system's user interface shows it (full Unicode on Windows).
std::wstring UpperCase(const std::wstring& text);

}  // namespace platform
