// Checks of the Win32 backend with real windows: how forms and controls are made and taken down,
// the edge between the system's calls and the program, and the pictures and fonts of picture
// boxes.
#include <windows.h>

#include <map>
#include <string>

#include "checks.h"
#include "test_form.h"
#include "platform/rt/runtime.h"
#include "platform/win32/controls.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/form_window.h"
#include "platform/win32/gdi.h"
#include "platform/win32/win32_backend.h"
#include "resources/resource_ids.h"

namespace {

// System control classes stood in for by classes of this program with the same name (a
// program's own classes come before the system's): each passes everything on to the system's
// procedure, counts the messages it sees, and can be made to refuse to be created.
struct StandIn {
  WNDPROC system = nullptr;
  std::map<UINT, int> seen;
  bool refuseCreation = false;
};
std::map<std::wstring, StandIn> standIns;

LRESULT CALLBACK StandInProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  StandIn& s = standIns[name];
  ++s.seen[msg];
  if (msg == WM_NCCREATE && s.refuseCreation) return FALSE;
  return CallWindowProcW(s.system, hwnd, msg, wp, lp);
}

void StandInFor(const wchar_t* cls) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  GetClassInfoExW(nullptr, cls, &wc);
  standIns[cls].system = wc.lpfnWndProc;
  wc.lpfnWndProc = &StandInProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.style &= ~CS_GLOBALCLASS;
  wc.lpszClassName = cls;
  RegisterClassExW(&wc);
}

struct CaptionCount {
  const wchar_t* caption;
  int n;
};

BOOL CALLBACK CountCaptioned(HWND h, LPARAM lp) {
  auto* c = reinterpret_cast<CaptionCount*>(lp);
  wchar_t text[128] = {};
  GetWindowTextW(h, text, 128);
  if (std::wstring(text) == c->caption) ++c->n;
  return TRUE;
}

int WindowsCaptioned(const wchar_t* caption) {
  CaptionCount count{caption, 0};
  EnumThreadWindows(GetCurrentThreadId(), &CountCaptioned, reinterpret_cast<LPARAM>(&count));
  return count.n;
}

// A list box and a static (the label's own window) that are subclassed get their own procedure
// back for their last messages, so that they free what they keep.
void SubclassedControlsEndInTheirOwnProcedure(rt::Application& app) {
  TestForm form(app, Def(L"Subclassed", {rt::Label(L"Label1", L"Folders:", 120, 120, 1500, 240),
                                         rt::DirList(L"Dir1", 120, 480, 3000, 1800).Tab(0)}));
  form.Load();
  standIns[L"ListBox"].seen.clear();
  standIns[L"Static"].seen.clear();
  form.Unload();
  CHECK(standIns[L"ListBox"].seen[WM_DESTROY] == 1);
  CHECK(standIns[L"ListBox"].seen[WM_NCDESTROY] == 1);
  CHECK(standIns[L"Static"].seen[WM_NCDESTROY] == 1);
}

// A control that cannot be created takes the half-made form down with it; the form loads again
// afterwards as if nothing had happened.
void HalfMadeFormIsTakenDown(rt::Application& app) {
  const wchar_t* caption = L"Half-made form";
  TestForm form(app, Def(caption, {rt::Button(L"Command1", L"OK", 120, 120, 1200, 375).Tab(0),
                                   rt::TextBox(L"Text1", L"", 120, 600, 3000, 300).Tab(1),
                                   rt::Label(L"Label1", L"After the box", 120, 1000, 3000, 240)}));
  standIns[L"Edit"].refuseCreation = true;
  bool refused = false;
  try {
    form.Load();
  } catch (const rt::RuntimeError& e) {
    refused = e.Description().find(L"Text1") != std::wstring::npos;
  }
  standIns[L"Edit"].refuseCreation = false;
  CHECK(refused);
  CHECK(!form.IsLoaded());
  CHECK(WindowsCaptioned(caption) == 0);
  for (auto& c : form.Controls()) CHECK(c->native == nullptr);

  form.Load();
  CHECK(form.IsLoaded() && WindowsCaptioned(caption) == 1);
  form[L"Text1"].SetText(L"typed");
  CHECK(form[L"Text1"].Text() == L"typed");
  // Every window of the thread hears of a changed setting; none may reach a freed record.
  SendMessageW(win32::WindowOf(form).Handle(), WM_SETTINGCHANGE, 0, 0);
  form.Unload();
  CHECK(WindowsCaptioned(caption) == 0);
}

// A paint that fails still ends: the window is valid again, so the failure's report does not
// bring the same failing paint again, and the paint's DC goes back to the system (a DC still
// held answers WindowFromDC with its window).
int failingPaints = 0;
HDC paintDc = nullptr;
struct PaintFailed {};
LRESULT CALLBACK FailingPaintProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != WM_PAINT) return DefWindowProcW(hwnd, msg, wp, lp);
  ++failingPaints;
  try {
    win32::PaintDc dc(hwnd);
    paintDc = dc.get();
    throw PaintFailed{};
  } catch (const PaintFailed&) {
  }
  return 0;
}

void FailedPaintEnds() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &FailingPaintProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"FailingPaint";
  RegisterClassExW(&wc);
  win32::UniqueWindow w(CreateWindowExW(0, L"FailingPaint", L"Failing paint", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                        200, 100, nullptr, nullptr, wc.hInstance, nullptr));
  failingPaints = 0;
  UpdateWindow(w.get());
  MSG msg;
  for (int i = 0; i < 100 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageW(&msg);
  CHECK(failingPaints == 1);
  CHECK(!GetUpdateRect(w.get(), nullptr, FALSE));
  CHECK(paintDc && WindowFromDC(paintDc) == nullptr);
}

// A picture box sized to its picture is exactly the picture's pixels at any resolution, and a
// font that asks for the ANSI character set gets it.
void PictureBoxesAt144Dpi(rt::Application& app) {
  TestForm form(app, Def(L"Pictures", {rt::PictureBox(L"Picture2", 840, 1185, 5595, 255)
                                           .WithFont(L"MS Sans Serif", 8.25, true, true).AnsiCharset()
                                           .Back(rt::kWindowBackground).Fore(rt::kBlack).Persistent(),
                                       rt::PictureBox(L"Picture1", 255, 1170, 465, 300)
                                           .Picture(IDB_DRIVE).SizedToPicture().NoBorder().Back(rt::kWhite)}));
  form.Load();
  RECT r{};
  GetClientRect(win32::WindowOf(form[L"Picture1"]).Handle(), &r);
  CHECK(r.right == 31 && r.bottom == 20);
  LOGFONTW lf{};
  GetObjectW(win32::WindowOf(form[L"Picture2"]).Font(), sizeof lf, &lf);
  CHECK(lf.lfCharSet == ANSI_CHARSET && lf.lfItalic && lf.lfWeight == FW_BOLD);
  CHECK(lf.lfHeight == -17);  // 8.25 pt at 144 DPI
  form.Unload();
}

}  // namespace

void BackendChecks() {
  for (const wchar_t* cls : {L"ListBox", L"Static", L"Edit"}) StandInFor(cls);
  win32::FileSystem files;
  {
    win32::Backend backend(GetModuleHandleW(nullptr));
    rt::Application app(backend, files, L"C:", L"Backend checks");
    SubclassedControlsEndInTheirOwnProcedure(app);
    HalfMadeFormIsTakenDown(app);
  }
  FailedPaintEnds();
  win32::Backend at144(GetModuleHandleW(nullptr), 144);
  rt::Application app(at144, files, L"C:", L"Backend checks");
  PictureBoxesAt144Dpi(app);
}

// The child's part of UncaughtFailureIsReported: a click whose handler throws what no handler
// knows.
int ThrowFromClick() {
  win32::FileSystem files;
  win32::Backend backend(GetModuleHandleW(nullptr));
  rt::Application app(backend, files, L"C:", L"Throwing click");
  TestForm form(app, Def(L"Throwing click", {rt::Button(L"Command1", L"Throw", 120, 120, 1200, 375).Tab(0)}));
  form.On(L"Command1", rt::Event::Click, [] { throw 42; });
  form.Show();
  PostMessageW(win32::WindowOf(form[L"Command1"]).Handle(), BM_CLICK, 0, 0);
  app.Run(form);
  return 0;
}
