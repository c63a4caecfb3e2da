#include <windows.h>

#include "../text.h"

namespace platform {

std::wstring UpperCase(const std::wstring& text) {
  std::wstring out = text;
  if (!out.empty()) CharUpperBuffW(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

}  // namespace platform
