// Work that may take long (a copy from a CD or a network share, a file measured there) runs on a
// thread of its own while the window thread stays responsive: it answers what is sent to its
// windows (the system's questions, such as whether the session may end; accessibility clients;
// other programs) and repaints what is uncovered, at least every twentieth of a second, whatever
// the size of the files and the speed of the medium. It runs no handler and acts on no input:
// what the user types or clicks meanwhile, and what is posted, stays in the queue for the
// program's own loops, as if the thread had done the work itself.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>

#include "handles.h"

namespace win32 {

// A worker thread, made on first use and kept until its owner goes, that runs one piece of work
// at a time for the thread that owns it.
class Aside {
 public:
  Aside() = default;
  // Lets the thread end and waits for it (it is idle: Run returns only when its work is done).
  ~Aside();
  Aside(const Aside&) = delete;
  Aside& operator=(const Aside&) = delete;

  // Runs `work` on the worker thread and returns when it is done; what it throws is thrown here.
  // `work` must not touch a window. Where no thread can be had, the work is done here.
  void Run(const std::function<void()>& work);

 private:
  bool Start();
  static DWORD WINAPI Serve(void* self);

  UniqueFile thread_, wake_, done_;
  const std::function<void()>* work_ = nullptr;  // the piece in hand; none: the thread ends
  std::exception_ptr failure_;
};

}  // namespace win32
