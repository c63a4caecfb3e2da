#include "path_rules.h"

#include <algorithm>

namespace platform {

namespace {

// Device names are ASCII; other letters never match them, whatever their upper case is.
wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

bool EqualsNoCase(std::wstring_view s, std::wstring_view upper) {
  if (s.size() != upper.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    if (AsciiUpper(s[i]) != upper[i]) return false;
  }
  return true;
}

bool IsPortDigit(wchar_t d) {
  // U+00B9, U+00B2, U+00B3: Windows reserves COM¹ and LPT³ as it does COM1 and LPT3.
  return (d >= L'1' && d <= L'9') || d == 0x00B9 || d == 0x00B2 || d == 0x00B3;
}

}  // namespace

bool IsReservedDeviceName(std::wstring_view component) {
  // Constructed rather than cut with substr(), which may throw.
  std::wstring_view base(component.data(), std::min(component.find(L'.'), component.size()));
  while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
  for (std::wstring_view device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (EqualsNoCase(base, device)) return true;
  }
  if (base.size() != 4 || !IsPortDigit(base[3])) return false;
  const std::wstring_view stem(base.data(), 3);
  return EqualsNoCase(stem, L"COM") || EqualsNoCase(stem, L"LPT");
}

wchar_t DriveLetterOf(std::wstring_view path) {
  if (path.size() < 2 || path[1] != L':') return 0;
  const wchar_t letter = AsciiUpper(path[0]);
  return letter >= L'A' && letter <= L'Z' ? letter : 0;
}

bool StartsWithDriveRoot(std::wstring_view path) {
  return DriveLetterOf(path) != 0 && path.size() >= 3 && path[2] == L'\\';
}

}  // namespace platform
