// Checks that no record of a form is touched after it is freed, with real windows: a form whose
// own click unloads it, a modal form unloaded from inside its own handler while the form under
// it is inside its handler too, and a form unloaded from inside a message box's loop.
//
// While the checks run, every allocation gets pages of its own, and freeing one makes its pages
// inaccessible instead of giving them back: any later use of a freed record faults, and the
// fault is reported as a failed check before the program ends.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "checks.h"
#include "test_form.h"
#include "platform/rt/runtime.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/form_window.h"
#include "platform/win32/win32_backend.h"

namespace {

// --- the checking allocator

constexpr int kMaxGuarded = 8192;
bool guarding = false;
void* guarded[kMaxGuarded];
SIZE_T guardedSize[kMaxGuarded];
bool guardedFreed[kMaxGuarded];
int guardedCount = 0;

int GuardedIndex(const void* p) {
  for (int i = 0; i < guardedCount; ++i) {
    const char* base = static_cast<const char*>(guarded[i]);
    if (p >= base && p < base + guardedSize[i]) return i;
  }
  return -1;
}

void* Allocate(std::size_t n) {
  if (guarding && guardedCount < kMaxGuarded) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const SIZE_T size = (n + si.dwPageSize) / si.dwPageSize * si.dwPageSize;
    if (void* p = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) {
      guarded[guardedCount] = p;
      guardedSize[guardedCount] = size;
      guardedFreed[guardedCount++] = false;
      return p;
    }
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

void Free(void* p) noexcept {
  if (!p) return;
  const int i = GuardedIndex(p);
  if (i < 0) return std::free(p);
  DWORD old = 0;
  VirtualProtect(guarded[i], guardedSize[i], PAGE_NOACCESS, &old);
  guardedFreed[i] = true;
}

bool IsFreed(const void* p) {
  const int i = GuardedIndex(p);
  return i >= 0 && guardedFreed[i];
}

// A fault on freed pages is the use of a freed record: reported, and the program ends failed.
LONG CALLBACK OnFault(EXCEPTION_POINTERS* e) {
  const EXCEPTION_RECORD& r = *e->ExceptionRecord;
  if (r.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r.NumberParameters >= 2 &&
      IsFreed(reinterpret_cast<const void*>(r.ExceptionInformation[1]))) {
    checks::Check(false, "a freed record was used", __LINE__);
    std::printf("%d checks, %d failed\n", checks::made, checks::failed);
    std::fflush(stdout);
    ExitProcess(3);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// --- forms

// A form with one button, which a posted click presses once the form's loop runs.
struct ClickForm : TestForm {
  ClickForm(rt::Application& app, const wchar_t* caption)
      : TestForm(app, ::Def(caption, {rt::Button(L"Command1", L"Go", 120, 120, 1200, 375).Default().Tab(0)})) {}
  void Click() { PostMessageW(win32::WindowOf((*this)[L"Command1"]).Handle(), BM_CLICK, 0, 0); }
};

bool WindowExists(const wchar_t* caption) { return FindWindowW(nullptr, caption) != nullptr; }

ClickForm* unloadFromTimer = nullptr;

// Unloads the form while the message box is up, then answers the box if it is still there.
void CALLBACK UnloadFromTimer(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  unloadFromTimer->Unload();
  if (HWND box = FindWindowW(nullptr, L"Box over the form")) PostMessageW(box, WM_COMMAND, IDOK, 0);
}

void OwnClickUnloadsTheForm(rt::Application& app) {
  ClickForm form(app, L"Unloads itself");
  form.On(L"Command1", rt::Event::Click, [&] { form.Unload(); });
  form.Load();
  const void* record = form.native.get();
  form.Click();
  form.ShowModal();
  CHECK(!form.IsLoaded() && !WindowExists(L"Unloads itself"));
  CHECK(IsFreed(record));  // freed once its procedure had returned
}

void NestedModalFormsUnloadFromTheirHandlers(rt::Application& app) {
  ClickForm outer(app, L"Outer form");
  ClickForm inner(app, L"Inner form");
  const void* innerRecord = nullptr;
  inner.On(L"Command1", rt::Event::Click, [&] { inner.Unload(); });
  outer.On(L"Command1", rt::Event::Click, [&] {
    inner.Load();
    innerRecord = inner.native.get();
    inner.Click();
    inner.ShowModal();
    CHECK(IsFreed(innerRecord));
    CHECK(outer.IsLoaded() && !WindowExists(L"Inner form"));
    outer.Unload();
  });
  outer.Load();
  const void* outerRecord = outer.native.get();
  outer.Click();
  outer.ShowModal();
  CHECK(!outer.IsLoaded() && !WindowExists(L"Outer form"));
  CHECK(innerRecord && IsFreed(outerRecord));
}

void FormUnloadedInsideAMessageBox(rt::Application& app) {
  ClickForm form(app, L"Under a box");
  unloadFromTimer = &form;
  form.On(L"Command1", rt::Event::Click, [&] {
    SetTimer(nullptr, 0, 50, &UnloadFromTimer);
    app.MsgBox(L"The form goes while this box is up.", rt::mb::OkOnly, L"Box over the form");
    CHECK(!form.IsLoaded());
  });
  form.Load();
  const void* record = form.native.get();
  form.Click();
  form.ShowModal();
  CHECK(!WindowExists(L"Under a box") && !WindowExists(L"Box over the form"));
  CHECK(IsFreed(record));
}

}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

void LifetimeChecks() {
  AddVectoredExceptionHandler(1, &OnFault);
  win32::FileSystem files;
  win32::Backend backend(GetModuleHandleW(nullptr));
  rt::Application app(backend, files, L"C:", L"Lifetime checks");
  guarding = true;
  OwnClickUnloadsTheForm(app);
  NestedModalFormsUnloadFromTheirHandlers(app);
  FormUnloadedInsideAMessageBox(app);
  guarding = false;
}
