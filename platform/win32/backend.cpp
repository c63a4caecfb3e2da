#include "win32_backend.h"

#include <memory>

#include "controls.h"
#include "form_window.h"
#include "gdi.h"

namespace win32 {

namespace {
PictureBoxWindow& BoxOf(rt::Control& box) {
  if (box.GetKind() != rt::Kind::PictureBox) {
    throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"Not a picture box: ") + box.Name());
  }
  return static_cast<PictureBoxWindow&>(WindowOf(box));
}
}  // namespace

Backend::Backend(HINSTANCE instance, int dpi) {
  screen_.instance = instance;
  screen_.accessibility = &accessibility_;
  if (dpi <= 0) {
    WindowDc screen(nullptr);
    dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  }
  screen_.dpi = dpi > 0 ? dpi : 96;
  RegisterControlClasses(instance);
}

// Wizard pages and dialogs stay above the backdrop and out of the taskbar: the start-up form
// owns them.
void Backend::CreateForm(rt::Form& form) {
  HWND owner = nullptr;
  rt::Form* startup = form.App().StartupForm();
  if (startup && startup != &form && startup->native) owner = WindowOf(*startup).Handle();
  auto window = std::make_unique<FormWindow>(screen_, form);
  window->Create(owner);  // a failure takes down what was made, as `window` goes
  form.native = std::move(window);
}

Backend::~Backend() = default;

// The window goes now; the record goes once no procedure of it is running any more.
void Backend::DestroyForm(rt::Form& form) {
  WindowOf(form).TakeDown();
  retired_.emplace_back(static_cast<FormWindow*>(form.native.release()));
  FreeRetired();
}

void Backend::FreeRetired() {
  for (size_t i = retired_.size(); i-- > 0;) {
    if (!retired_[i]->InUse()) retired_.erase(retired_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void Backend::RefreshForm(rt::Form& form) {
  RedrawWindow(WindowOf(form).Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Backend::ControlChanged(rt::Control& control) { WindowOf(control).Changed(); }
void Backend::RefreshControl(rt::Control& control) { WindowOf(control).Refresh(); }

std::wstring Backend::ReadText(rt::Control& control) {
  const std::wstring s = WindowText(WindowOf(control).Handle());
  control.StoreTypedText(s);
  return s;
}

void Backend::SetSelection(rt::Control& control, int start, int length) {
  HWND h = WindowOf(control).Handle();
  SendMessageW(h, EM_SETSEL, start, start + length);
  // A mouse click that gave the focus places the caret after this; select again once it is done.
  PostMessageW(h, EM_SETSEL, start, start + length);
}

void Backend::SetFocus(rt::Control& control) {
  HWND h = WindowOf(control).Handle();
  if (h) SendMessageW(WindowOf(control.Owner()).Handle(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
}

double Backend::ScreenWidthTwips() { return screen_.Twips(GetSystemMetrics(SM_CXSCREEN)); }
double Backend::ScreenHeightTwips() { return screen_.Twips(GetSystemMetrics(SM_CYSCREEN)); }

rt::Backend::Rect Backend::FormRect(rt::Form& form) {
  RECT r{};
  GetWindowRect(WindowOf(form).Handle(), &r);
  return Rect{screen_.Twips(r.left), screen_.Twips(r.top), screen_.Twips(r.right - r.left),
              screen_.Twips(r.bottom - r.top)};
}

void Backend::MoveForm(rt::Form& form, double left, double top) {
  SetWindowPos(WindowOf(form).Handle(), nullptr, screen_.Pixels(left), screen_.Pixels(top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Backend::PictureClear(rt::Control& box) { BoxOf(box).Clear(); }
double Backend::PictureScaleWidth(rt::Control& box) { return BoxOf(box).ScaleWidth(); }
double Backend::PictureScaleHeight(rt::Control& box) { return BoxOf(box).ScaleHeight(); }

void Backend::PictureFillBox(rt::Control& box, double x1, double y1, double x2, double y2, rt::Colour colour) {
  BoxOf(box).FillBox(x1, y1, x2, y2, colour);
}

double Backend::PictureTextWidth(rt::Control& box, const std::wstring& text) {
  return screen_.Twips(BoxOf(box).TextExtent(text).cx);
}

double Backend::PictureTextHeight(rt::Control& box, const std::wstring& text) {
  return screen_.Twips(BoxOf(box).TextExtent(text).cy);
}

void Backend::PicturePrint(rt::Control& box, double x, double y, const std::wstring& text) {
  BoxOf(box).Print(x, y, text);
}

}  // namespace win32
