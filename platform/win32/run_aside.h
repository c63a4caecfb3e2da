// Work that may take long (a copy from a CD or a network share, a file measured there) runs on a
// thread of its own while the window thread stays responsive: it answers what is sent to its
// windows (the system's questions, such as whether the session may end; accessibility clients;
// other programs) and repaints what is uncovered, at least every tenth of a second, whatever the
// size of the files and the speed of the medium. It runs no handler and acts on no input: what
// the user types or clicks meanwhile, and what is posted, stays in the queue for the program's
// own loops, as if the thread had done the work itself.
#pragma once

#include <functional>

namespace win32 {

// Runs `work` on a worker thread and returns when it is done; what it throws is thrown here.
// `work` must not touch a window.
void RunAside(const std::function<void()>& work);

}  // namespace win32
