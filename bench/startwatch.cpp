// Times start-up: from creating a program's process to its window being visible and the
// program waiting for input.
//
//   startwatch.exe ROUNDS "WINDOW TITLE" PROGRAM [WORKING_FOLDER]
//
// Each round starts the program, waits (bounded) until a visible top-level window with that
// title exists and the process is idle for input, records the time, and ends the process.
// Prints the median in milliseconds.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Search {
  DWORD pid;
  const wchar_t* title;
  bool found;
};

BOOL CALLBACK Look(HWND hwnd, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  wchar_t text[256];
  if (pid == s->pid && IsWindowVisible(hwnd) && GetWindowTextW(hwnd, text, 256) && lstrcmpW(text, s->title) == 0) {
    s->found = true;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: startwatch ROUNDS TITLE PROGRAM [FOLDER]\n");
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[1]));
  const wchar_t* title = argv[2];
  std::wstring command = std::wstring(L"\"") + argv[3] + L"\"";
  const wchar_t* folder = argc > 4 ? argv[4] : nullptr;
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  std::vector<double> ms;
  for (int i = 0; i <= rounds; ++i) {  // round 0 warms the caches and is not counted
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi)) {
      std::fprintf(stderr, "cannot start: %lu\n", GetLastError());
      return 2;
    }
    Search s{pi.dwProcessId, title, false};
    const DWORD deadline = GetTickCount() + 30000;
    while (!s.found && GetTickCount() < deadline) {
      EnumWindows(Look, reinterpret_cast<LPARAM>(&s));
      if (!s.found) Sleep(1);
    }
    WaitForInputIdle(pi.hProcess, 30000);
    QueryPerformanceCounter(&t1);
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (!s.found) {
      std::fprintf(stderr, "no window \"%ls\" within 30 s\n", title);
      return 2;
    }
    if (i > 0) ms.push_back(1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart));
  }
  std::sort(ms.begin(), ms.end());
  const size_t n = ms.size();
  const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
  std::printf("%.1f\n", median);
  return 0;
}
