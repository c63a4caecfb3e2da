// Modal forms, message boxes and the message loops: who may take input, and when.
//
// The policy, in one place: while a modal form is up, or a message box, every other form of the
// program is disabled, so that no click reaches them (the backdrop's close box, for one, would end
// the program under the box). Each takes the input from the forms that have it and gives it back
// to exactly those when it ends.
#include "modality.h"

#include <utility>

#include "form_window.h"
#include "win32_backend.h"

namespace win32 {

InputTakenAway::InputTakenAway(const std::vector<HWND>& windows) {
  for (HWND h : windows) {
    if (IsWindowEnabled(h)) {
      EnableWindow(h, FALSE);
      taken_.push_back(h);
    }
  }
}

InputTakenAway::~InputTakenAway() {
  for (HWND h : taken_) {
    if (IsWindow(h)) EnableWindow(h, TRUE);
  }
}

std::vector<HWND> Backend::OtherWindows(const rt::Application& app, const rt::Form* except) const {
  std::vector<HWND> windows;
  for (rt::Form* f : app.LoadedForms()) {
    if (f != except && f->native) windows.push_back(WindowOf(*f).Handle());
  }
  return windows;
}

// A modal form takes the input from every other form before it appears, so that no click can
// reach them in between; it gives it back when it goes (or when its modal run ends).
void Backend::TakeInputFor(rt::Form& form) {
  FormWindow& w = WindowOf(form);
  if (!w.modalInput) w.modalInput.emplace(OtherWindows(form.App(), &form));
}

// A modal form is owned by the form it goes over, so that it stays above that form and the
// system activates that form again when it goes.
void Backend::ShowForm(rt::Form& form) {
  if (form.IsModal()) {
    rt::Form* under = form.App().FormUnder(form);
    WindowOf(form).SetOwner(under && under->native ? WindowOf(*under).Handle() : nullptr);
    TakeInputFor(form);
  }
  WindowOf(form).Show();
}

void Backend::Pump(rt::Application& app, MSG& msg) {
  // Keyboard navigation (Tab, Enter, arrow keys) for the form the message is for.
  if (HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr) {
    for (rt::Form* f : app.LoadedForms()) {
      if (f->native && WindowOf(*f).Handle() == root) {
        if (IsDialogMessageW(root, &msg)) return FreeRetired();
        break;
      }
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  FreeRetired();
}

void Backend::RunModal(rt::Form& form) {
  rt::Application& app = form.App();
  TakeInputFor(form);
  MSG msg;
  while (form.IsLoaded()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop outside
      break;
    }
    if (got == -1) break;
    Pump(app, msg);
  }
  // Unloading gave the input back already; a run that ended otherwise gives it back here.
  if (form.IsLoaded()) {
    WindowOf(form).modalInput.reset();
    return;
  }
  // The form under it has the input again, with the focus on its default button: Enter goes on.
  if (rt::Form* under = app.FormUnder(form); under && under->native) WindowOf(*under).FocusDefaultButton();
}

void Backend::RunMainLoop(rt::Application& app) {
  MSG msg;
  while (!app.LoadedForms().empty()) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    Pump(app, msg);
  }
}

int Backend::ShowMessage(rt::Form* owner, const std::wstring& text, const std::wstring& title, int style) {
  HWND h = owner && owner->native ? WindowOf(*owner).Handle() : nullptr;
  // The box disables its owner itself; every other form is disabled while it is up. (A box
  // without an owner comes when no form is loaded.) They are disabled first, so that a click
  // given to one of them while the program was busy cannot activate it and raise it over the
  // box's window as it is taken from the queue below.
  InputTakenAway whileUp(owner ? OtherWindows(owner->App(), owner) : std::vector<HWND>{});
  // A message box answers only what is typed or clicked once it is there: keys pressed while
  // the program was busy (during the copy run) must not dismiss it unread.
  MSG pending;
  for (auto [first, last] : {std::pair{WM_KEYFIRST, WM_KEYLAST}, std::pair{WM_MOUSEFIRST, WM_MOUSELAST},
                             std::pair{WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}}) {
    while (PeekMessageW(&pending, nullptr, first, last, PM_REMOVE | PM_NOYIELD)) {
    }
  }
  const int answer = MessageBoxW(h, text.c_str(), title.c_str(), static_cast<UINT>(style) | MB_SETFOREGROUND);
  FreeRetired();
  return answer;
}

void Backend::EndProgram(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

// The reason shows where Windows lists the programs that keep the session from ending.
void Backend::RefuseSessionEnd(rt::Form& form, const std::wstring& reason) {
  ShutdownBlockReasonCreate(WindowOf(form).Handle(), reason.c_str());
}

void Backend::AllowSessionEnd(rt::Form& form) {
  if (form.native) ShutdownBlockReasonDestroy(WindowOf(form).Handle());  // else it went with the window
}

}  // namespace win32
