// Whole numbers as decimal text, without the C library's formatted output.
#pragma once

#include <string>

namespace rt {

inline std::wstring Decimal(long long value) {
  wchar_t digits[24];
  int n = 0;
  unsigned long long v = value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    digits[n++] = static_cast<wchar_t>(L'0' + v % 10);
    v /= 10;
  } while (v);
  std::wstring out;
  if (value < 0) out.push_back(L'-');
  while (n) out.push_back(digits[--n]);
  return out;
}

}  // namespace rt
