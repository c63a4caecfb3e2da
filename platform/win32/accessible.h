// What screen readers get beyond what the system tells them by itself: the names of controls
// that have no caption of their own (a text box or a list named by the label beside it), the
// gauge as a progress bar, and the events that tell a reader that a text it shows has changed.
#pragma once

#include <objbase.h>
#include <oleacc.h>
#include <windows.h>

#include <string>

#include "handles.h"

namespace win32 {

class WindowAccessible;
class GaugeAccessible;

// The system's accessibility services, taken up the first time a screen reader asks for one of
// the program's objects: the COM apartment they need on the program's thread, the system's
// accessibility library (loaded from the system folder, not imported: it is not one that the
// system loads only from its own folder) and its annotation service.
class Accessibility {
 public:
  Accessibility() = default;
  ~Accessibility();
  Accessibility(const Accessibility&) = delete;
  Accessibility& operator=(const Accessibility&) = delete;

  // Names the system's own object for `hwnd` `name` by annotating it, so that readers get
  // everything else the system provides for it. False where the system cannot annotate: the
  // window answers with NamedObject then.
  bool Annotate(HWND hwnd, const std::wstring& name);
  // Takes the annotation off a window that goes.
  void ClearAnnotation(HWND hwnd);
  // The answer to WM_GETOBJECT (wp, lp) for `hwnd`: the system's own object for the control,
  // under the name `name`. 0 (the system answers itself) for the control's other objects, and
  // when the library cannot be had.
  LRESULT NamedObject(HWND hwnd, WPARAM wp, LPARAM lp, const std::wstring& name);
  // A gauge's object for its window (one reference, the caller's), or none when the library
  // cannot be had.
  GaugeAccessible* MakeGauge(HWND hwnd);
  // The answer to WM_GETOBJECT (wp, lp) with `object` as the window's client object; 0 for the
  // window's other objects.
  LRESULT Serve(WindowAccessible* object, WPARAM wp, LPARAM lp);

 private:
  using CreateStdFn = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
  using LresultFn = LRESULT(WINAPI*)(REFIID, WPARAM, IUnknown*);
  void StartCom();
  bool Load();
  IAccessible* SystemObject(HWND hwnd);
  void LoadTypeInfo();

  bool comTried_ = false, libraryTried_ = false, annotationTried_ = false;
  bool comStarted_ = false;  // this owner started the thread's apartment, and ends it
  UniqueModule library_;
  CreateStdFn createStd_ = nullptr;
  LresultFn lresult_ = nullptr;
  ITypeInfo* typeInfo_ = nullptr;          // IAccessible described, for late binding
  IAccPropServices* annotations_ = nullptr;  // while the system annotates
};

// Tells screen readers that the text of a control's window, its name, has changed; with
// `value`, that its value has too (a gauge's percentage).
void AnnounceNameChange(HWND hwnd, bool value = false);

}  // namespace win32
