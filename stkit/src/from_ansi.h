// The library's text arguments arrive in an ANSI code page: the system's, which may be UTF-8.
#pragma once

#include <windows.h>

#include <string>

namespace stkit {

// `s` in `codePage` as a wide string; false for a null pointer or bytes that are not valid text
// in that code page (MB_ERR_INVALID_CHARS is one of the flags UTF-8 allows, too).
inline bool FromAnsi(const char* s, unsigned codePage, std::wstring& out) {
    if (s == nullptr) return false;
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, s, -1, nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, s, -1, &out[0], n) != n) return false;
    out.resize(static_cast<std::size_t>(n - 1));  // drop the terminating NUL
    return true;
}

}  // namespace stkit
