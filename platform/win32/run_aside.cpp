#include "run_aside.h"

#include <windows.h>

#include <exception>

#include "handles.h"

namespace win32 {

namespace {

constexpr DWORD kServiceMs = 50;
// Paint messages handled in one look at the queue, at most (each validates its window).
constexpr int kPaintsPerLook = 64;

struct Job {
  const std::function<void()>& work;
  std::exception_ptr failure;
};

DWORD WINAPI RunJob(void* data) {
  auto& job = *static_cast<Job*>(data);
  try {
    job.work();
  } catch (...) {
    job.failure = std::current_exception();
  }
  return 0;
}

// One look at the queue: messages sent to this thread's windows are answered inside PeekMessage,
// and what needs painting is painted. Input and posted messages are left where they are.
void ServiceWindows() {
  MSG msg;
  for (int i = 0; i < kPaintsPerLook && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_NOYIELD); ++i) {
    DispatchMessageW(&msg);
  }
}

}  // namespace

void RunAside(const std::function<void()>& work) {
  Job job{work, nullptr};
  UniqueFile thread(CreateThread(nullptr, 0, &RunJob, &job, 0, nullptr));
  if (!thread) {
    work();  // no thread to be had: the work is done here, unresponsive as it may be
    return;
  }
  for (;;) {
    HANDLE h = thread.get();
    const DWORD woke = MsgWaitForMultipleObjects(1, &h, FALSE, kServiceMs, QS_SENDMESSAGE | QS_PAINT);
    if (woke == WAIT_OBJECT_0) break;
    if (woke == WAIT_FAILED) {
      WaitForSingleObject(h, INFINITE);
      break;
    }
    ServiceWindows();
  }
  ServiceWindows();  // at least once per piece of work, however short: between short files too
  if (job.failure) std::rethrow_exception(job.failure);
}

}  // namespace win32
