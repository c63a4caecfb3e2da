// Times start-up: from creating a program's process to its window being visible and the
// program waiting for input.
//
//   startwatch.exe ROUNDS FOLDER "WINDOW TITLE" PROGRAM ["WINDOW TITLE" PROGRAM ...]
//
// Each round starts every program in turn (so that a drift of the machine's speed during the
// run falls on all of them alike), waits (bounded) until a visible top-level window with its
// title exists and the process is idle for input, records the time, and ends the process.
// Prints one median in milliseconds per program, one per line.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "median.h"

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

// Starts `command` once and returns the milliseconds to its idle, visible window, or a
// negative value when it cannot be started or shows no such window within 30 s.
double TimeOne(std::wstring command, const wchar_t* title, const wchar_t* folder) {
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi)) {
    std::fprintf(stderr, "cannot start %ls: %lu\n", command.c_str(), GetLastError());
    return -1;
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
    return -1;
  }
  return 1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5 || (argc - 3) % 2 != 0) {
    std::fprintf(stderr, "usage: startwatch ROUNDS FOLDER TITLE PROGRAM [TITLE PROGRAM ...]\n");
    return 2;
  }
  const int rounds = std::max(1, _wtoi(argv[1]));
  const wchar_t* folder = argv[2];
  const int programs = (argc - 3) / 2;
  std::vector<std::vector<double>> ms(static_cast<size_t>(programs));
  for (int i = 0; i <= rounds; ++i) {  // round 0 warms the caches and is not counted
    for (int p = 0; p < programs; ++p) {
      const wchar_t* title = argv[3 + 2 * p];
      const double t = TimeOne(std::wstring(L"\"") + argv[4 + 2 * p] + L"\"", title, folder);
      if (t < 0) return 2;
      if (i > 0) ms[static_cast<size_t>(p)].push_back(t);
    }
  }
  for (const auto& m : ms) std::printf("%.1f\n", Median(m));
  return 0;
}
