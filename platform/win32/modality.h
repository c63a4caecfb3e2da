// Who may take input while a modal form or a message box is up: the one place that disables and
// re-enables the program's windows.
#pragma once

#include <windows.h>

#include <vector>

namespace win32 {

// Takes the input away from windows for its lifetime and gives it back to exactly those it took
// it from (and that still exist).
class InputTakenAway {
 public:
  explicit InputTakenAway(const std::vector<HWND>& windows);
  ~InputTakenAway();
  InputTakenAway(const InputTakenAway&) = delete;
  InputTakenAway& operator=(const InputTakenAway&) = delete;

 private:
  std::vector<HWND> taken_;
};

}  // namespace win32
