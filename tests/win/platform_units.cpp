// Checks of the code that only runs on Windows (or Wine), made by the build under test: the
// setup library's text in given ANSI code pages, the gauge arithmetic as this build's floating
// point computes it, the C++ library's failures as SETUP.EXE's hooks report them, and the Win32
// backend with real windows. Prints one line per failed check and a closing count; exits 1 on
// any failure.
//
//   platform_units.exe [--small-drive E:]
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "checks.h"
#include "from_ansi.h"
#include "install/Constants.h"
#include "platform/rt/errors.h"
#include "platform/win32/setupkit_win32.h"

void BackendChecks();
void LifetimeChecks();
void ReaderChecks();
void FilesChecks(const std::wstring& smallDrive);
int ThrowFromClick();

namespace {

using checks::Check;

// --- the setup library's text

struct Case {
  const wchar_t* text;
  unsigned codePage;
  bool exact;       // the code page carries every character
  const char* bytes;  // the expected bytes, where given
};

const Case kCases[] = {
    {L"C:\\Program Files\\Quorvant '99", 1252, true, "C:\\Program Files\\Quorvant '99"},
    {L"C:\\Caf\u00e9\\QV99.EXE", 1252, true, "C:\\Caf\xe9\\QV99.EXE"},
    {L"C:\\Test\\\u03a9mega", 1252, false, nullptr},        // no omega in 1252, not even best fit
    {L"C:\\\u30c6\u30b9\u30c8", 1252, false, nullptr},
    {L"C:\\Program Files\\Quorvant '99", 932, true, "C:\\Program Files\\Quorvant '99"},
    {L"C:\\\u30c6\u30b9\u30c8", 932, true, "C:\\\x83\x65\x83\x58\x83\x67"},
    {L"C:\\Test\\\u03a9mega", 932, true, "C:\\Test\\\x83\xb6mega"},
    {L"C:\\Caf\u00e9", 932, false, nullptr},                // best fit would make it "Cafe"
    {L"C:\\Program Files\\Quorvant '99", CP_UTF8, true, "C:\\Program Files\\Quorvant '99"},
    {L"C:\\Test\\\u03a9mega", CP_UTF8, true, "C:\\Test\\\xce\xa9mega"},
    {L"C:\\\u30c6\u30b9\u30c8\\Caf\u00e9", CP_UTF8, true, nullptr},
    {L"C:\\bad\xd800name", CP_UTF8, false, nullptr},       // an unpaired surrogate is no text
    {L"", CP_UTF8, true, ""},
};

void SetupLibraryText() {
  for (const Case& c : kCases) {
    std::vector<char> ansi;
    const bool exact = win32::ToAnsiExactly(c.text, ansi, c.codePage);
    Check(exact == c.exact, "conversion is exact exactly where the code page carries the text", __LINE__);
    if (!exact || !c.exact) continue;
    CHECK(!ansi.empty() && ansi.back() == '\0');
    if (c.bytes) CHECK(std::string(ansi.data()) == c.bytes);
    // The library reads it back in the same code page as the same text.
    std::wstring back;
    CHECK(stkit::FromAnsi(ansi.data(), c.codePage, back) && back == c.text);
  }
  std::wstring out;
  CHECK(!stkit::FromAnsi("C:\\\xff\xfe", CP_UTF8, out));  // not UTF-8
  CHECK(!stkit::FromAnsi(nullptr, 1252, out));
}

// --- the gauge arithmetic

// Every step of the display rules with its rounding forced by a store of the step's precision.
float ReferenceAdvance(float percent, int64_t bytes) {
  volatile double share = static_cast<double>(bytes) / 4800000.0;
  volatile double scaled = share * 100.0;
  volatile float increment = static_cast<float>(scaled);
  volatile float sum = percent + increment;
  return sum > 100 ? 100.0f : static_cast<float>(sum);
}

float ReferenceBarRight(float percent, double width) {
  volatile float perPercent = static_cast<float>(width / 100);
  volatile float right = percent * perPercent;
  return right;
}

void GaugeArithmetic() {
  // Values worked out by hand: 2.5 x 55.35f is 138.3749962 exactly, 138.375 in single precision.
  CHECK(install::GaugeAdvance(0, 48000) == 1.0f);
  CHECK(install::GaugeAdvance(0, 120000) == 2.5f);
  CHECK(install::GaugeBarRight(2.5f, 5535) == 138.375f);
  CHECK(install::GaugeBarRight(37.0f, 5535) == 2047.949951171875f);
  CHECK(install::GaugeAdvance(0, 1234567) == 25.720146f);
  CHECK(install::GaugeAdvance(99.5f, 48000) == 100.0f);
  // A whole run of odd-sized files on gauges of several widths, step for step.
  const double widths[] = {5535, 5595, 4000, 1234.5, 8295};
  float percent = 0, reference = 0;
  for (int64_t bytes = 1; bytes < 4800000; bytes = bytes * 7 + 12345) {
    percent = install::GaugeAdvance(percent, bytes);
    reference = ReferenceAdvance(reference, bytes);
    Check(percent == reference, "the percentage is the single-precision sum", __LINE__);
    for (double w : widths) {
      Check(install::GaugeBarRight(percent, w) == ReferenceBarRight(percent, w),
            "the bar's edge is the single-precision product", __LINE__);
    }
  }
}

// --- what no handler caught, at the edge of a window procedure

// The message box of process `pid`, if one is up: forms are dialogs too, so it is the dialog
// with a message box's text control.
HWND MessageBoxOf(DWORD pid) {
  for (HWND h = nullptr; (h = FindWindowExW(nullptr, h, L"#32770", nullptr)) != nullptr;) {
    DWORD owner = 0;
    GetWindowThreadProcessId(h, &owner);
    if (owner == pid && IsWindowVisible(h) && GetDlgItem(h, 0xFFFF)) return h;
  }
  return nullptr;
}

// A click whose handler throws something of no known kind ends in the runtime's own error box,
// and the program ends with 1 once it is answered.
void UncaughtFailureIsReported() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --throw-from-click";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  CHECK(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  if (!pi.hProcess) return;
  // Until the box is up or the child has ended, for 30 s at the most.
  HWND box = nullptr;
  for (int i = 0; i < 300 && !box && WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT; ++i) {
    box = MessageBoxOf(pi.dwProcessId);
  }
  wchar_t text[256] = {}, title[64] = {};
  if (box) {
    GetDlgItemTextW(box, 0xFFFF, text, 256);
    GetWindowTextW(box, title, 64);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  CHECK(std::wstring(text) == L"Run-time error '51':\n\nInternal error");
  CHECK(std::wstring(title) == L"Throwing click");
  DWORD code = 259;
  if (WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  GetExitCodeProcess(pi.hProcess, &code);
  CHECK(code == 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// --- the library's failures (platform/win32/library_errors.cpp)

// The run-time error a failing call throws: its description, or "-" for any other exception.
template <class F>
std::wstring RuntimeErrorOf(F call) {
  try {
    call();
  } catch (const rt::RuntimeError& e) {
    return e.Number() == rt::ErrInternal ? e.Description() : L"-";
  } catch (...) {
    return L"-";
  }
  return L"";
}

bool IsInternalError(const std::wstring& description) { return description.rfind(L"Internal error: ", 0) == 0; }

void LibraryFailures() {
  // Each becomes the runtime's error, which the event boundary reports in its box, not a crash.
  const std::wstring text = L"abc";
  std::vector<int> numbers;
  CHECK(IsInternalError(RuntimeErrorOf([&] { (void)text.at(7); })));
  CHECK(IsInternalError(RuntimeErrorOf([&] { (void)text.substr(9); })));
  CHECK(IsInternalError(RuntimeErrorOf([&] { numbers.reserve(numbers.max_size() + 1); })));
  bool badAlloc = false;
  volatile size_t tooMuch = static_cast<size_t>(PTRDIFF_MAX) + 1;
  try {
    (void)std::allocator<char>().allocate(tooMuch);
  } catch (const std::bad_alloc&) {
    badAlloc = true;
  }
  CHECK(badAlloc);  // memory exhaustion stays std::bad_alloc
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--throw-from-click") return ThrowFromClick();
  SetupLibraryText();
  GaugeArithmetic();
  LibraryFailures();
  BackendChecks();
  LifetimeChecks();
  ReaderChecks();
  FilesChecks(argc > 2 && std::wstring(argv[1]) == L"--small-drive" ? argv[2] : L"");
  UncaughtFailureIsReported();
  std::printf("%d checks, %d failed\n", checks::made, checks::failed);
  return checks::failed == 0 ? 0 : 1;
}
