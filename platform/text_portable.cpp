#include <cwctype>

#include "text.h"

namespace platform {

std::wstring UpperCase(const std::wstring& text) {
  std::wstring out = text;
  for (auto& c : out) c = static_cast<wchar_t>(std::towupper(c));
  return out;
}

}  // namespace platform
