// Times installers doing the same job, from the click that starts the copying to the final
// message box, the way a user drives them.
//
//   clickwatch.exe ROUNDS FOLDER DEST MESSAGE NAME PROGRAM TITLE1 BUTTON1 TITLE2 BUTTON2 [NAME ...]
//
// For each program in turn, each round: start it from FOLDER; wait until a visible window
// TITLE1 with a button BUTTON1 exists and the program is idle for input; press BUTTON1; wait
// for window TITLE2 with button BUTTON2; then take the time, press BUTTON2 and wait until a
// message box whose text is MESSAGE exists. The peak working set of the program is read at that
// moment, the program is ended, and DEST and the link are removed so that every run starts
// alike. Texts are compared without '&' and trailing blanks. Round 0 warms the caches and is not
// counted. Prints, per program, "NAME <median ms> <median peak MiB>". Every wait is bounded.
#include <windows.h>
#include <psapi.h>
#include <shlobj.h>

#include <cstdio>
#include <string>
#include <vector>

#include "median.h"

namespace {

constexpr DWORD kWaitMs = 120000;

struct Program {
  const wchar_t* name;
  const wchar_t* path;
  const wchar_t* title1;
  const wchar_t* button1;
  const wchar_t* title2;
  const wchar_t* button2;
  std::vector<double> ms, peakMiB;
};

std::wstring Text(HWND h) {
  wchar_t buf[512];
  const int n = GetWindowTextW(h, buf, 512);
  std::wstring s(buf, n > 0 ? static_cast<size_t>(n) : 0);
  std::wstring out;
  for (wchar_t c : s) {
    if (c != L'&') out += c;
  }
  // Some installers pad a page's caption with a blank: "Setup " is still "Setup".
  while (!out.empty() && out.back() == L' ') out.pop_back();
  return out;
}

// A visible top-level window of the process with that title holding a visible, enabled child
// window with that text (a button), or with id 65535 and that text (a message box's text).
struct Search {
  DWORD pid;
  const wchar_t* title;  // nullptr: any title
  const wchar_t* child;
  bool byMessageId;
  HWND found;
};

BOOL CALLBACK LookChild(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  const bool idOk = !s->byMessageId || GetDlgCtrlID(h) == 0xFFFF;
  if (idOk && IsWindowVisible(h) && IsWindowEnabled(h) && Text(h) == s->child) {
    s->found = h;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK LookTop(HWND h, LPARAM lp) {
  auto* s = reinterpret_cast<Search*>(lp);
  DWORD pid = 0;
  GetWindowThreadProcessId(h, &pid);
  if (pid != s->pid || !IsWindowVisible(h)) return TRUE;
  if (s->title && Text(h) != s->title) return TRUE;
  EnumChildWindows(h, LookChild, lp);
  return s->found ? FALSE : TRUE;
}

HWND WaitFor(DWORD pid, const wchar_t* title, const wchar_t* child, bool byMessageId) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kWaitMs) {
    Search s{pid, title, child, byMessageId, nullptr};
    EnumWindows(LookTop, reinterpret_cast<LPARAM>(&s));
    if (s.found) return s.found;
    Sleep(2);
  }
  return nullptr;
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW fd;
  HANDLE f = FindFirstFileW((path + L"\\*").c_str(), &fd);
  if (f != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = fd.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = path + L"\\" + name;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(full);
      } else {
        SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(f, &fd));
    FindClose(f);
  }
  RemoveDirectoryW(path.c_str());
}

void RemoveLink() {
  for (int folder : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
    wchar_t programs[MAX_PATH];
    if (SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, programs) == S_OK) {
      DeleteFileW((std::wstring(programs) + L"\\Quorvant '99.lnk").c_str());
    }
  }
}

// One run; false (with a message) when a step does not come within its bound.
bool RunOnce(Program& p, const wchar_t* folder, const wchar_t* message, bool counted) {
  std::wstring command = std::wstring(L"\"") + p.path + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi)) {
    std::fprintf(stderr, "cannot start %ls: %lu\n", p.path, GetLastError());
    return false;
  }
  bool ok = false;
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  HWND next = WaitFor(pi.dwProcessId, p.title1, p.button1, false);
  HWND start = nullptr;
  if (next) {
    WaitForInputIdle(pi.hProcess, kWaitMs);
    PostMessageW(next, BM_CLICK, 0, 0);
    start = WaitFor(pi.dwProcessId, p.title2, p.button2, false);
  }
  if (!next || !start) {
    std::fprintf(stderr, "%ls: no %ls \"%ls\"\n", p.name, next ? p.title2 : p.title1, next ? p.button2 : p.button1);
  } else {
    WaitForInputIdle(pi.hProcess, kWaitMs);
    QueryPerformanceCounter(&t0);
    PostMessageW(start, BM_CLICK, 0, 0);
    HWND box = WaitFor(pi.dwProcessId, nullptr, message, true);
    QueryPerformanceCounter(&t1);
    PROCESS_MEMORY_COUNTERS mem{};
    mem.cb = sizeof mem;
    K32GetProcessMemoryInfo(pi.hProcess, &mem, sizeof mem);
    if (!box) {
      std::fprintf(stderr, "%ls: no message \"%ls\"\n", p.name, message);
    } else {
      ok = true;
      if (counted) {
        p.ms.push_back(1000.0 * static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart));
        p.peakMiB.push_back(static_cast<double>(mem.PeakWorkingSetSize) / (1024 * 1024));
      }
    }
  }
  TerminateProcess(pi.hProcess, 0);
  WaitForSingleObject(pi.hProcess, kWaitMs);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 11 || (argc - 5) % 6 != 0) {
    std::fprintf(stderr,
                 "usage: clickwatch ROUNDS FOLDER DEST MESSAGE NAME PROGRAM TITLE1 BUTTON1 TITLE2 BUTTON2 [...]\n");
    return 2;
  }
  const int rounds = _wtoi(argv[1]) > 0 ? _wtoi(argv[1]) : 1;
  const wchar_t* folder = argv[2];
  const std::wstring dest = argv[3];
  const wchar_t* message = argv[4];
  std::vector<Program> programs;
  for (int i = 5; i + 5 < argc; i += 6) {
    programs.push_back(Program{argv[i], argv[i + 1], argv[i + 2], argv[i + 3], argv[i + 4], argv[i + 5], {}, {}});
  }
  for (int round = 0; round <= rounds; ++round) {
    for (auto& p : programs) {
      RemoveTree(dest);
      RemoveLink();
      if (!RunOnce(p, folder, message, round > 0)) return 1;
    }
  }
  RemoveTree(dest);
  RemoveLink();
  for (const auto& p : programs) std::printf("%ls %.1f %.1f\n", p.name, Median(p.ms), Median(p.peakMiB));
  return 0;
}
