// SETUP.EXE: hands the program's windows to the runtime, which loads the start-up form.
#include <windows.h>

#include <string>

#include "forms/forms.h"
#include "install/Constants.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/setupkit_win32.h"
#include "platform/win32/win32_backend.h"

namespace {

// An installer runs from download folders and disks where anyone may have left a DLL named
// like a system library: libraries load from the system folder only (or by full path).
void RestrictDllSearch() {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) SetDllDirectoryW(L"");
}

std::wstring ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictDllSearch();
  // No "insert a disk" system dialogs: a drive that is not ready is an ordinary error here. The
  // modes the program was started with stay.
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

  const std::wstring folder = ProgramFolder();
  win32::Backend backend(instance);
  win32::FileSystem files;
  win32::SetupKit setupKit(folder);
  rt::Application app(backend, files, folder, L"Setup");
  install::Constants constants(files, setupKit);
  forms::Program program(app, constants);
  app.Run(program.SetupMain);
  // Run comes back only when the user has closed every window: nothing was installed.
  return install::ExitCancelled;
}
