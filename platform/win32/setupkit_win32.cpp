#include "setupkit_win32.h"

#include <windows.h>

#include "../rt/errors.h"
#include "handles.h"

namespace win32 {

namespace {
constexpr wchar_t kLibrary[] = L"STKIT432.DLL";
using CreateShellLinkFn = long(__stdcall*)(const char*, const char*, const char*, const char*);
}  // namespace

// The result is NUL-terminated.
bool ToAnsiExactly(const std::wstring& text, std::vector<char>& out) {
  out.assign(1, '\0');
  if (text.empty()) return true;
  BOOL lossy = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, &lossy);
  if (n <= 0 || lossy) return false;
  out.assign(static_cast<size_t>(n) + 1, '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                      &lossy);
  return !lossy;
}

int32_t SetupKit::CreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                                  const std::wstring& arguments) {
  std::wstring path = folder_;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += kLibrary;
  // Only the installer's own copy of the library, never one found elsewhere on the search path.
  UniqueModule lib(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
  if (!lib) throw rt::RuntimeError(rt::ErrFileNotFoundDll, std::wstring(L"File not found: ") + kLibrary);
  auto fn = reinterpret_cast<CreateShellLinkFn>(reinterpret_cast<void*>(GetProcAddress(lib.get(), "fCreateShellLink")));
  if (!fn) {
    throw rt::RuntimeError(rt::ErrDllEntryPoint,
                           std::wstring(L"Can't find DLL entry point fCreateShellLink in ") + kLibrary);
  }
  // The library takes ANSI text. A name that the code page cannot carry exactly would give a
  // shortcut to some other path: no shortcut is made instead.
  std::vector<char> a1, a2, a3, a4;
  if (!ToAnsiExactly(folder, a1) || !ToAnsiExactly(name, a2) || !ToAnsiExactly(target, a3) ||
      !ToAnsiExactly(arguments, a4)) {
    return 0;
  }
  return static_cast<int32_t>(fn(a1.data(), a2.data(), a3.data(), a4.data()));
}

}  // namespace win32
