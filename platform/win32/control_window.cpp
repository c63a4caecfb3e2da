#include "controls.h"

#include <algorithm>

#include "accessible.h"
#include "boundary.h"
#include "form_window.h"

namespace win32 {

const wchar_t kFrameClass[] = L"RtFrame";
const wchar_t kPictureClass[] = L"RtPicture";

ControlWindow& WindowOf(const rt::Control& control) {
  if (!control.native) {
    throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"The form of this control is not loaded: ") + control.Name());
  }
  return static_cast<ControlWindow&>(*control.native);
}

std::wstring WindowText(HWND h) {
  const int len = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  const int got = GetWindowTextW(h, s.data(), len + 1);
  s.resize(static_cast<size_t>(std::max(got, 0)));
  return s;
}

void RegisterControlClasses(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpfnWndProc = &ControlWindow::Proc;
  for (const wchar_t* name : {kFrameClass, kPictureClass}) {
    wc.lpszClassName = name;
    RegisterClassExW(&wc);
  }
}

ControlWindow::ControlWindow(FormWindow& form, rt::Control& control) : form_(form), control_(control) {}

int ControlWindow::Id() const { return static_cast<int>(kFirstControlId) + control_.Index(); }

const Screen& ControlWindow::screen() const { return form_.GetScreen(); }

HFONT ControlWindow::Font() const { return font_ ? static_cast<HFONT>(font_.get()) : form_.DefaultFont(); }

HWND ControlWindow::Container() const { return form_.ContainerWindow(control_.Container()); }

void ControlWindow::CreateChild(const wchar_t* cls, DWORD style, DWORD exStyle, int height) {
  const rt::ControlDef& d = control_.Def();
  if (!d.font.IsDefault()) font_.reset(screen().MakeFont(d.font));
  const RECT r = screen().PixelRect(d);
  style |= WS_CHILD | WS_VISIBLE;
  if (!control_.Enabled()) style |= WS_DISABLED;
  // The runtime's own classes bind the record at WM_NCCREATE, from the creation parameter.
  HWND h = CreateWindowExW(exStyle, cls, control_.Caption().c_str(), style, r.left, r.top, r.right - r.left,
                           height < 0 ? r.bottom - r.top : height, Container(),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id())), screen().instance, this);
  if (!h) throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"Cannot create the control ") + d.name);
  hwnd_ = h;
  SetWindowPos(h, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font()), FALSE);
  if (d.labelledBy) Subclass();  // it answers screen readers itself (ReadersAsk)
}

void ControlWindow::Subclass() {
  if (GetWindowLongPtrW(hwnd_, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&ControlWindow::Proc)) return;  // done
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  original_ = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlWindow::Proc)));
}

LRESULT ControlWindow::Default(UINT msg, WPARAM wp, LPARAM lp) {
  if (!hwnd_) return 0;  // the handler that just ran took the window down
  return original_ ? CallWindowProcW(original_, hwnd_, msg, wp, lp) : DefWindowProcW(hwnd_, msg, wp, lp);
}

LRESULT CALLBACK ControlWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<ControlWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    if (self) {
      self->hwnd_ = hwnd;
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
  }
  auto* self = reinterpret_cast<ControlWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  FormWindow::Entered entered(self->form_);  // the form's record owns this one
  if (msg == WM_NCDESTROY) {
    // The window's last message: a subclassed control gets its own procedure back first, so that
    // it frees what it keeps; then the window is bound to nothing.
    self->WindowGone();
    const WNDPROC original = self->original_;
    if (original) SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return original ? CallWindowProcW(original, hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
  }
  LRESULT result = 0;
  const bool handled = AtBoundary(self->form_.Form().App(), false, [&] {
    if (self->form_.Closing()) return false;
    return msg == WM_GETOBJECT ? self->ReaderAsks(wp, lp, result) : self->OnMessage(msg, wp, lp, result);
  });
  return handled ? result : self->Default(msg, wp, lp);
}

void ControlWindow::Changed() {
  if (!hwnd_) return;
  // A text box's text is its value, which the system's edit control reports itself.
  const bool renamed = control_.GetKind() != rt::Kind::TextBox && WindowText(hwnd_) != control_.Caption();
  SetWindowTextW(hwnd_, control_.Caption().c_str());
  if (renamed) AnnounceNameChange(hwnd_);
}

const std::wstring& ControlWindow::LabelCaption() const { return control_.Owner()[control_.Def().labelledBy].Caption(); }

// The system's own object, named by annotation, is what readers get wherever the system can
// annotate: every interface and text service of the control stays the system's. Elsewhere the
// window answers with the system's object under the label's caption. Annotation is done on the
// first request, so that the program takes up the system's accessibility services only for a
// reader.
bool ControlWindow::ReaderAsks(WPARAM wp, LPARAM lp, LRESULT& result) {
  Accessibility* services = screen().accessibility;
  if (!control_.Def().labelledBy || !services) return false;
  if (annotated_ || services->Annotate(hwnd_, LabelCaption())) {
    annotated_ = true;
    return false;
  }
  result = services->NamedObject(hwnd_, wp, lp, LabelCaption());
  return result != 0;
}

void ControlWindow::Renamed() {
  if (!hwnd_) return;
  if (annotated_) screen().accessibility->Annotate(hwnd_, LabelCaption());
  AnnounceNameChange(hwnd_);
}

void ControlWindow::WindowGone() noexcept {
  if (annotated_) screen().accessibility->ClearAnnotation(hwnd_);
  annotated_ = false;
}

void ControlWindow::Refresh() {
  if (hwnd_) RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// ---------------------------------------------------------------------------------------------
// Command buttons and text boxes: system controls that only report what the user did.

namespace {

class Button : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;
  void Create() override {
    CreateChild(L"Button", WS_TABSTOP | (Control().Def().isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), 0);
  }
  void Notified(int code) override {
    if (code == BN_CLICKED) Form().Form().Fire(Control(), rt::Event::Click);
  }
};

class TextBox : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;
  void Create() override {
    CreateChild(L"Edit", WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT, WS_EX_CLIENTEDGE);
    SendMessageW(hwnd_, EM_LIMITTEXT, 0, 0);  // as long as the system allows
  }
  void Notified(int code) override {
    if (code == EN_SETFOCUS) Form().Form().Fire(Control(), rt::Event::GotFocus);
    if (code == EN_KILLFOCUS) Form().Form().Fire(Control(), rt::Event::LostFocus);
  }
};

}  // namespace

std::unique_ptr<ControlWindow> MakeControlWindow(FormWindow& form, rt::Control& control) {
  switch (control.GetKind()) {
    case rt::Kind::Label: return MakeLabel(form, control);
    case rt::Kind::CommandButton: return std::make_unique<Button>(form, control);
    case rt::Kind::Line: return MakeLine(form, control);
    case rt::Kind::Image: return MakeImage(form, control);
    case rt::Kind::Frame: return MakeFrame(form, control);
    case rt::Kind::PictureBox: return MakePictureBox(form, control);
    case rt::Kind::TextBox: return std::make_unique<TextBox>(form, control);
    case rt::Kind::DriveList: return MakeDriveList(form, control);
    case rt::Kind::DirList: return MakeDirList(form, control);
  }
  throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"No such kind of control: ") + control.Name());
}

}  // namespace win32
