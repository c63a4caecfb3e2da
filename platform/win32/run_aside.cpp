#include "run_aside.h"

#include <objbase.h>

#include <utility>

namespace win32 {

namespace {

constexpr DWORD kServiceMs = 50;
// Paint messages handled in one look at the queue, at most (each validates its window).
constexpr int kPaintsPerLook = 64;

// One look at the queue: messages sent to this thread's windows are answered inside PeekMessage,
// and what needs painting is painted. Input and posted messages are left where they are.
void ServiceWindows() {
  MSG msg;
  for (int i = 0; i < kPaintsPerLook && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_NOYIELD); ++i) {
    DispatchMessageW(&msg);
  }
}

// Waits up to `ms` for `done`; true once it is set. Meanwhile what is sent to this thread's
// windows is answered, and, once the thread serves screen readers objects of its own (from a COM
// apartment), their calls to those objects too: COM brings them as messages to a window of its
// own, which only its modal wait takes.
bool DoneWithin(HANDLE done, DWORD ms) {
  APTTYPE type{};
  APTTYPEQUALIFIER qualifier{};
  if (SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA)) {
    DWORD index = 0;
    const HRESULT hr = CoWaitForMultipleHandles(0, ms, 1, &done, &index);
    if (hr == S_OK || hr == RPC_S_CALLPENDING) return hr == S_OK;
  }
  const DWORD woke = MsgWaitForMultipleObjects(1, &done, FALSE, ms, QS_SENDMESSAGE | QS_PAINT);
  if (woke != WAIT_FAILED) return woke == WAIT_OBJECT_0;
  WaitForSingleObject(done, INFINITE);  // the windows cannot be served: the work's end is awaited
  return true;
}

}  // namespace

Aside::~Aside() {
  if (!thread_) return;
  work_ = nullptr;
  SetEvent(wake_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
}

bool Aside::Start() {
  if (thread_) return true;
  wake_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  done_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (wake_ && done_) thread_.reset(CreateThread(nullptr, 0, &Aside::Serve, this, 0, nullptr));
  return static_cast<bool>(thread_);
}

DWORD WINAPI Aside::Serve(void* self) {
  auto& aside = *static_cast<Aside*>(self);
  while (WaitForSingleObject(aside.wake_.get(), INFINITE) == WAIT_OBJECT_0 && aside.work_) {
    try {
      (*aside.work_)();
    } catch (...) {
      aside.failure_ = std::current_exception();
    }
    SetEvent(aside.done_.get());
  }
  return 0;
}

void Aside::Run(const std::function<void()>& work) {
  if (!Start()) {
    work();  // no thread to be had: the work is done here, unresponsive as it may be
    return;
  }
  work_ = &work;
  failure_ = nullptr;
  SetEvent(wake_.get());
  while (!DoneWithin(done_.get(), kServiceMs)) ServiceWindows();
  ServiceWindows();  // at least once per piece of work, however short: between short files too
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace win32
