// Times the installation run against a bare loop of the same twenty copies.
//
//   copyrun_bench.exe SOURCE_FOLDER DEST_FOLDER [ROUNDS]
//
// The run is the installer's own copy window (real window, labels, gauge, explicit repaints)
// driven by the same forms and module code as SETUP.EXE; only the final message box and the end
// of the program are replaced, so that the time is taken when the message would appear. The bare
// loop copies the same files with the same system call and nothing else; the file services
// loop is the installer's own copy and length calls without a window. Rounds vary the order of
// the three and every copy goes to a fresh destination folder. Prints medians and the ratio of
// the installation run to the bare loop.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/median.h"
#include "forms/forms.h"
#include "install/Constants.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/setupkit_win32.h"
#include "platform/win32/win32_backend.h"

namespace {

struct RunEnded {};

// The real backend, except that the final message box records the time and the end statement
// returns control to the benchmark.
class TimingBackend : public win32::Backend {
 public:
  using win32::Backend::Backend;
  LARGE_INTEGER finished{};
  int ShowMessage(rt::Form*, const std::wstring&, const std::wstring&, int) override {
    QueryPerformanceCounter(&finished);
    return 1;
  }
  [[noreturn]] void EndProgram(int) override { throw RunEnded{}; }
};

// The shortcut is not part of what is measured.
class NoShortcut : public platform::SetupKit {
 public:
  int32_t CreateShellLink(const std::wstring&, const std::wstring&, const std::wstring&, const std::wstring&) override {
    return 1;
  }
};

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

// The real file services, timed: when the first copy starts, and how long the copies and
// length measurements take together. The rest of a run is the window's own work.
class TimingFiles : public win32::FileSystem {
 public:
  LARGE_INTEGER firstCopy{};
  double inFiles = 0;
  void Copy(const std::wstring& from, const std::wstring& to) override {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    if (firstCopy.QuadPart == 0) firstCopy = t0;
    win32::FileSystem::Copy(from, to);
    QueryPerformanceCounter(&t1);
    inFiles += Seconds(t0, t1);
  }
  uint64_t FileLength(const std::wstring& path) override {
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    const uint64_t length = win32::FileSystem::FileLength(path);
    QueryPerformanceCounter(&t1);
    inFiles += Seconds(t0, t1);
    return length;
  }
};

// One installation run, split into its parts.
struct RunTimes {
  double total = 0;      // loading the copy window to the final message
  double beforeCopy = 0; // loading, showing and painting the window, up to the first copy
  double inFiles = 0;    // the copies and length measurements
};

std::wstring Fresh(const std::wstring& root, int round, const wchar_t* kind) {
  std::wstring dir = root + L"\\" + kind + std::to_wstring(round) + L"\\";
  CreateDirectoryW(dir.c_str(), nullptr);
  CreateDirectoryW((dir + L"DATA").c_str(), nullptr);
  return dir;
}

double BareLoop(const std::wstring& dest) {
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  for (const auto& row : install::InstallManifest) {
    std::wstring to = dest + (row.folder == install::Folder::Data ? L"DATA\\" : L"") + row.dest;
    if (!CopyFileW(row.source, to.c_str(), FALSE)) {
      std::fprintf(stderr, "bare copy failed: %lu\n", GetLastError());
      ExitProcess(2);
    }
  }
  QueryPerformanceCounter(&t1);
  return Seconds(t0, t1);
}

RunTimes InstallerRun(HINSTANCE instance, const std::wstring& source, const std::wstring& dest) {
  TimingBackend backend(instance);
  TimingFiles files;
  NoShortcut kit;
  rt::Application app(backend, files, source, L"Setup");
  install::Constants constants(files, kit);
  forms::Program program(app, constants);
  constants.SourcePath = source + L"\\";
  constants.DestPath = dest;
  LARGE_INTEGER t0;
  QueryPerformanceCounter(&t0);
  try {
    program.ShowCopying.Load();
  } catch (const RunEnded&) {
    return RunTimes{Seconds(t0, backend.finished), Seconds(t0, files.firstCopy), files.inFiles};
  } catch (const rt::RuntimeError& e) {
    std::fprintf(stderr, "installation run failed: %ls\n", e.Description().c_str());
    ExitProcess(2);
  }
  std::fprintf(stderr, "the installation run did not end\n");
  ExitProcess(2);
}

// The installer's own file services without any window: the same copies with their checks,
// and the length measurement of each file. Tells the copy layer's share from the window's.
double ServicesLoop(const std::wstring& dest) {
  win32::FileSystem files;
  LARGE_INTEGER t0, t1;
  QueryPerformanceCounter(&t0);
  for (const auto& row : install::InstallManifest) {
    files.Copy(row.source, dest + (row.folder == install::Folder::Data ? L"DATA\\" : L"") + row.dest);
    files.FileLength(row.source);
  }
  QueryPerformanceCounter(&t1);
  return Seconds(t0, t1);
}

// Removes a round's copies again, so that rounds do not pile up dirty pages for one another.
void Remove(const std::wstring& dest) {
  for (const auto& row : install::InstallManifest) {
    DeleteFileW((dest + (row.folder == install::Folder::Data ? L"DATA\\" : L"") + row.dest).c_str());
  }
  RemoveDirectoryW((dest + L"DATA").c_str());
  RemoveDirectoryW(dest.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: copyrun_bench SOURCE_FOLDER DEST_FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::wstring source = argv[1], root = argv[2];
  const int rounds = argc > 3 ? std::max(1, _wtoi(argv[3])) : 5;
  HINSTANCE instance = GetModuleHandleW(nullptr);
  SetCurrentDirectoryW(source.c_str());
  CreateDirectoryW(root.c_str(), nullptr);

  // One untimed round of each warms the file cache and the window classes.
  const std::wstring warmBare = Fresh(root, 0, L"warm-bare"), warmRun = Fresh(root, 0, L"warm-run");
  BareLoop(warmBare);
  InstallerRun(instance, source, warmRun);
  Remove(warmBare);
  Remove(warmRun);

  std::vector<double> bare, services, run, beforeCopy, inFiles;
  auto timeBare = [&](int i) {
    const std::wstring d = Fresh(root, i, L"bare");
    bare.push_back(BareLoop(d));
    Remove(d);
  };
  auto timeServices = [&](int i) {
    const std::wstring d = Fresh(root, i, L"services");
    try {
      services.push_back(ServicesLoop(d));
    } catch (const rt::RuntimeError& e) {
      std::fprintf(stderr, "file services failed: %ls\n", e.Description().c_str());
      ExitProcess(2);
    }
    Remove(d);
  };
  auto timeRun = [&](int i) {
    const std::wstring d = Fresh(root, i, L"run");
    const RunTimes t = InstallerRun(instance, source, d);
    run.push_back(t.total);
    beforeCopy.push_back(t.beforeCopy);
    inFiles.push_back(t.inFiles);
    Remove(d);
  };
  // Each round takes the three in another order, so that none always follows the same one.
  for (int i = 1; i <= rounds; ++i) {
    switch (i % 3) {
      case 1: timeBare(i); timeServices(i); timeRun(i); break;
      case 2: timeRun(i); timeBare(i); timeServices(i); break;
      default: timeServices(i); timeRun(i); timeBare(i); break;
    }
  }
  const double b = Median(bare), r = Median(run);
  PROCESS_MEMORY_COUNTERS mem{};
  mem.cb = sizeof mem;
  K32GetProcessMemoryInfo(GetCurrentProcess(), &mem, sizeof mem);
  std::printf("rounds %d\nbare loop median %.4f s\nfile services alone median %.4f s\n"
              "installation run median %.4f s\nratio %.3f\n"
              "  of which window start-up %.4f s, copies and lengths %.4f s\n"
              "peak working set %.1f MiB\n",
              rounds, b, Median(services), r, b > 0 ? r / b : 0.0, Median(beforeCopy), Median(inFiles),
              static_cast<double>(mem.PeakWorkingSetSize) / (1024 * 1024));
  return 0;
}
