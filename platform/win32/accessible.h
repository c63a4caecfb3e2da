// What screen readers get beyond what the system tells them by itself: the names of controls
// that have no caption of their own (a text box or a list named by the label beside it), and the
// events that tell a reader that a text it shows has changed.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <string>

#include "handles.h"

namespace win32 {

// The system's accessibility library, loaded from the system folder the first time a screen
// reader asks for a named control, with the COM apartment it needs on the program's thread. The
// program does not import the library: it is not one that the system loads only from its own
// folder.
class Accessibility {
 public:
  Accessibility() = default;
  ~Accessibility();
  Accessibility(const Accessibility&) = delete;
  Accessibility& operator=(const Accessibility&) = delete;

  // The answer to WM_GETOBJECT (wp, lp) for `hwnd`: the system's own object for the control,
  // under the name `name`. 0 (the system answers itself) for the control's other objects, and
  // when the library cannot be had.
  LRESULT NamedObject(HWND hwnd, WPARAM wp, LPARAM lp, const std::wstring& name);

 private:
  using CreateStdFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
  using LresultFn = LRESULT(WINAPI*)(REFIID, WPARAM, IUnknown*);
  bool Load();

  bool tried_ = false;
  bool comStarted_ = false;  // this owner started the thread's apartment, and ends it
  UniqueModule library_;
  CreateStdFn createStd_ = nullptr;
  LresultFn lresult_ = nullptr;
};

// Tells screen readers that the text of a control's window, its name, has changed; with
// `value`, that its value has too (a gauge's percentage).
void AnnounceNameChange(HWND hwnd, bool value = false);

}  // namespace win32
