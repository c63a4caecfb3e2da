#include "boundary.h"

#include <windows.h>

namespace win32 {

void EndAfterUnknownFailure(rt::Application& app) noexcept {
  try {
    app.ReportUncaught(L"Run-time error '51':\n\nInternal error");
  } catch (...) {
    // Even the report failed: end without it.
  }
  ExitProcess(1);
}

}  // namespace win32
