// The edge between the system and this program: every window procedure runs its work through
// AtBoundary, so that no exception unwinds into the system's frames (with this toolchain's
// unwinding it would end the program with no word).
#pragma once

#include "../rt/runtime.h"

namespace win32 {

// Reports a failure of unknown kind in the runtime's own error box and ends the program.
[[noreturn]] void EndAfterUnknownFailure(rt::Application& app) noexcept;

// Runs `work` (which returns an R) under the application's guard: a run-time error that no handler
// caught is reported and ends the program, as does anything else that is thrown. `fallback` is
// what the procedure answers if `work` did not produce a result.
template <typename R, typename Work>
R AtBoundary(rt::Application& app, R fallback, Work&& work) noexcept {
  try {
    R result = fallback;
    app.Guard([&] { result = work(); });
    return result;
  } catch (...) {
    EndAfterUnknownFailure(app);
  }
}

}  // namespace win32
