#include "setupkit_win32.h"

#include <windows.h>

#include "../rt/errors.h"
#include "handles.h"

namespace win32 {

namespace {
constexpr wchar_t kLibrary[] = L"STKIT432.DLL";
using CreateShellLinkFn = long(__stdcall*)(const char*, const char*, const char*, const char*);

// Code pages whose conversions take no best-fit flag and no used-default report (UTF-7, UTF-8,
// GB18030, HZ, symbol, the ISO-2022 and ISCII pages); elsewhere both are allowed.
bool TakesNoFlags(unsigned codePage) {
  return codePage == CP_UTF7 || codePage == CP_UTF8 || codePage == 54936 || codePage == 52936 ||
         codePage == 42 || (codePage >= 50220 && codePage <= 50229) || (codePage >= 57002 && codePage <= 57011);
}

// The installer's own copy of the library, never one found elsewhere. Its own imports are looked
// for beside it and in the system folder only, where the system offers that search (wherever
// start-up could restrict the process's search); elsewhere the classic search for a library
// loaded by full path, which start-up has already stripped of the current directory.
HMODULE LoadFromInstallerFolder(const std::wstring& path) {
  const bool searchFlags =
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories") != nullptr;
  return LoadLibraryExW(path.c_str(), nullptr,
                        searchFlags ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                                    : LOAD_WITH_ALTERED_SEARCH_PATH);
}
}  // namespace

// The result is NUL-terminated. Exactness is proven by converting back: no best-fit character
// and no default character can pass for the original.
bool ToAnsiExactly(const std::wstring& text, std::vector<char>& out, unsigned codePage) {
  out.assign(1, '\0');
  if (text.empty()) return true;
  const bool plain = TakesNoFlags(codePage);
  const bool unicode = codePage == CP_UTF8 || codePage == 54936;  // these refuse unpaired surrogates
  const DWORD flags = unicode ? WC_ERR_INVALID_CHARS : plain ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* lossyReport = plain ? nullptr : &lossy;
  const int length = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, lossyReport);
  if (n <= 0 || lossy) return false;
  out.assign(static_cast<size_t>(n) + 1, '\0');
  if (WideCharToMultiByte(codePage, flags, text.data(), length, out.data(), n, nullptr, lossyReport) != n || lossy) {
    return false;
  }
  std::wstring back(static_cast<size_t>(length), L'\0');
  return MultiByteToWideChar(codePage, 0, out.data(), n, back.data(), length) == length && back == text;
}

int32_t SetupKit::CreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                                  const std::wstring& arguments) {
  std::wstring path = folder_;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += kLibrary;
  UniqueModule lib(LoadFromInstallerFolder(path));
  if (!lib) throw rt::RuntimeError(rt::ErrFileNotFoundDll, std::wstring(L"File not found: ") + kLibrary);
  auto fn = reinterpret_cast<CreateShellLinkFn>(reinterpret_cast<void*>(GetProcAddress(lib.get(), "fCreateShellLink")));
  if (!fn) {
    throw rt::RuntimeError(rt::ErrDllEntryPoint,
                           std::wstring(L"Can't find DLL entry point fCreateShellLink in ") + kLibrary);
  }
  // The library takes text in the system's ANSI code page. A name that the code page cannot carry
  // exactly would give a shortcut to some other path: no shortcut is made instead.
  const unsigned codePage = GetACP();
  std::vector<char> a1, a2, a3, a4;
  if (!ToAnsiExactly(folder, a1, codePage) || !ToAnsiExactly(name, a2, codePage) ||
      !ToAnsiExactly(target, a3, codePage) || !ToAnsiExactly(arguments, a4, codePage)) {
    return 0;
  }
  return static_cast<int32_t>(fn(a1.data(), a2.data(), a3.data(), a4.data()));
}

}  // namespace win32
