// A stand-in for a library that someone left beside the installer or in the folder it is
// started from, under the name of a system library (version.dll, uxtheme.dll, ...) or of the
// setup library. It exports nothing (but for the STKHELP.DLL build, below): all it does, when a process loads it, is leave a marker
// file named after itself, so a test can tell afterwards that it was loaded and by whom.
//
// The marker goes into the folder named by the environment variable SETUP_PLANT_MARKERS, or
// C:\planted when that is not set: <dll name>.loaded, holding the library's own path and the
// path of the program that loaded it.
#include <windows.h>

namespace {

void Append(wchar_t* dst, size_t cap, const wchar_t* src) {
  size_t n = lstrlenW(dst);
  while (*src && n + 1 < cap) dst[n++] = *src++;
  dst[n] = L'\0';
}

void WriteLine(HANDLE file, const wchar_t* text) {
  char buf[2 * MAX_PATH];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, nullptr, nullptr);
  DWORD written = 0;
  if (n > 1) WriteFile(file, buf, static_cast<DWORD>(n - 1), &written, nullptr);
  WriteFile(file, "\r\n", 2, &written, nullptr);
}

void LeaveMarker(HINSTANCE self) {
  wchar_t own[MAX_PATH] = L"", exe[MAX_PATH] = L"", folder[MAX_PATH] = L"", marker[2 * MAX_PATH] = L"";
  GetModuleFileNameW(self, own, MAX_PATH);
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (!GetEnvironmentVariableW(L"SETUP_PLANT_MARKERS", folder, MAX_PATH)) lstrcpyW(folder, L"C:\\planted");
  CreateDirectoryW(folder, nullptr);

  const wchar_t* name = own;
  for (const wchar_t* p = own; *p; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  Append(marker, 2 * MAX_PATH, folder);
  Append(marker, 2 * MAX_PATH, L"\\");
  Append(marker, 2 * MAX_PATH, name);
  Append(marker, 2 * MAX_PATH, L".loaded");

  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  WriteLine(file, own);
  WriteLine(file, exe);
  CloseHandle(file);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    LeaveMarker(instance);
  }
  return TRUE;
}

#ifdef PLANT_HELPER
// Built as STKHELP.DLL, a library that a test build of the setup library imports: the one
// function it calls.
extern "C" __declspec(dllexport) int StkHelper(void) { return 1; }
#endif
