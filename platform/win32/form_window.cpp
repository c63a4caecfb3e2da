#include "form_window.h"

#include <string_view>
#include <tuple>

#include "boundary.h"

namespace win32 {

FormWindow& WindowOf(const rt::Form& form) {
  if (!form.native) throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"The form is not loaded: ") + form.Name());
  return static_cast<FormWindow&>(*form.native);
}

FormWindow::FormWindow(const Screen& screen, rt::Form& form) : screen_(screen), form_(form) {}

FormWindow::~FormWindow() { TakeDown(); }

void FormWindow::TakeDown() {
  if (closing_) return;
  modalInput.reset();
  closing_ = true;  // no events from the controls while they are destroyed (focus leaving, say)
  for (size_t i = 0; i < controls_.size() && i < form_.Controls().size(); ++i) {
    rt::Control& c = *form_.Controls()[i];
    if (c.native == controls_[i].get()) c.native = nullptr;
  }
  if (hwnd_) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

void FormWindow::SetOwner(HWND owner) {
  if (hwnd_ && reinterpret_cast<HWND>(GetWindowLongPtrW(hwnd_, GWLP_HWNDPARENT)) != owner) {
    SetWindowLongPtrW(hwnd_, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(owner));
  }
}

void FormWindow::FocusDefaultButton() {
  if (!hwnd_) return;
  const LRESULT def = SendMessageW(hwnd_, DM_GETDEFID, 0, 0);
  if (HIWORD(def) != DC_HASDEFID) return;
  HWND button = GetDlgItem(hwnd_, LOWORD(def));
  if (button && IsWindowEnabled(button) && IsWindowVisible(button)) {
    SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
  }
}

void FormWindow::Create(HWND owner) {
  const rt::FormDef& d = form_.Def();
  DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | DS_SETFOREGROUND;
  DWORD exStyle = WS_EX_CONTROLPARENT;
  if (d.controlBox) style |= WS_SYSMENU;
  style |= d.border == rt::Border::Sizable ? WS_THICKFRAME : DS_MODALFRAME;
  if (d.minButton) style |= WS_MINIMIZEBOX;
  if (d.maxButton) style |= WS_MAXIMIZEBOX;
  if (d.showInTaskbar) exStyle |= WS_EX_APPWINDOW;

  // An empty dialog template: header, no menu, the default class, the caption.
  std::vector<WORD> tmpl(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  tmpl.push_back(0);  // menu
  tmpl.push_back(0);  // class
  for (const wchar_t* p = d.caption; *p; ++p) tmpl.push_back(static_cast<WORD>(*p));
  tmpl.push_back(0);
  auto* hdr = reinterpret_cast<DLGTEMPLATE*>(tmpl.data());
  hdr->style = style;
  hdr->dwExtendedStyle = exStyle;

  // The window is bound to this record from WM_INITDIALOG on, before creation returns.
  if (!CreateDialogIndirectParamW(screen_.instance, hdr, owner, &FormWindow::Proc, reinterpret_cast<LPARAM>(this))) {
    throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"Cannot create the window ") + d.name);
  }
  SetBackground();
  defaultFont_.reset(screen_.MakeFont(rt::Font{}));
  SetIcon();

  // Outer size from the client size; design position as given.
  RECT r{0, 0, screen_.Pixels(d.width), screen_.Pixels(d.height)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  SetWindowPos(hwnd_, nullptr, screen_.Pixels(d.left), screen_.Pixels(d.top), r.right - r.left, r.bottom - r.top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();
}

// A fixed colour gives way to the window colour with high contrast on.
void FormWindow::SetBackground() {
  const rt::Colour back = form_.Def().back;
  if (back.kind == rt::Colour::Kind::Rgb && !HighContrast()) {
    ownBrush_.reset(CreateSolidBrush(back.value));
    backBrush_ = static_cast<HBRUSH>(ownBrush_.get());
    return;
  }
  int system = COLOR_BTNFACE;
  if (back.kind == rt::Colour::Kind::System) system = static_cast<int>(back.value);
  if (back.kind == rt::Colour::Kind::Rgb) system = COLOR_WINDOW;
  backBrush_ = GetSysColorBrush(system);
  ownBrush_.reset();
}

// The user's colours or high contrast changed (also while the copy run is busy): the window and
// its controls are drawn again in the colours now in force, what picture boxes keep included.
void FormWindow::ColoursChanged() {
  SetBackground();
  for (auto& c : controls_) {
    if (c) c->ColoursChanged();
  }
  RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
}

void FormWindow::SetIcon() {
  const int icon = form_.Def().icon;
  if (!icon) return;
  for (auto [which, cx, cy] : {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON}, std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
    // Shared icons belong to the system: nothing to free.
    HANDLE h = LoadImageW(screen_.instance, MAKEINTRESOURCEW(icon), IMAGE_ICON, GetSystemMetrics(cx),
                          GetSystemMetrics(cy), LR_SHARED);
    if (h) SendMessageW(hwnd_, WM_SETICON, which, reinterpret_cast<LPARAM>(h));
  }
}

// Frames first, so that their children have a parent; then everything else in tab order, which
// is also the order the dialog manager walks for Tab. Then the frames go into the tab order where
// their own tab index puts them.
void FormWindow::CreateControls() {
  auto& all = form_.Controls();
  controls_.resize(all.size());
  // A handful of controls: an insertion sort keeps equal keys in table order.
  auto key = [](const rt::Control* c) {
    const int tab = c->Def().tabIndex < 0 ? 1 << 29 : c->Def().tabIndex;
    return c->GetKind() == rt::Kind::Frame ? tab : tab + (1 << 29);
  };
  std::vector<rt::Control*> order;
  for (auto& c : all) {
    auto at = order.end();
    while (at != order.begin() && key(*(at - 1)) > key(c.get())) --at;
    order.insert(at, c.get());
  }
  for (rt::Control* c : order) {
    auto& record = controls_[static_cast<size_t>(c->Index())];
    record = MakeControlWindow(*this, *c);
    c->native = record.get();
    record->Create();
  }
  for (rt::Control* frame : order) {
    if (frame->GetKind() != rt::Kind::Frame) continue;
    HWND after = HWND_TOP;
    for (rt::Control* o : order) {
      HWND h = WindowOf(*o).Handle();
      if (o->Container() || o == frame || !h || o->Def().tabIndex < 0) continue;
      if (o->Def().tabIndex < frame->Def().tabIndex) after = h;
    }
    SetWindowPos(WindowOf(*frame).Handle(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  for (auto& c : all) {
    if (c->Def().isDefault) SendMessageW(hwnd_, DM_SETDEFID, WindowOf(*c).Id(), 0);
  }
}

void FormWindow::Show() {
  const bool first = !shown_;
  shown_ = true;
  ShowWindow(hwnd_, first && form_.Def().startMaximized ? SW_SHOWMAXIMIZED : SW_SHOW);
  if (first) {
    SetForegroundWindow(hwnd_);
    if (HWND stop = FirstStop()) SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(stop), TRUE);
  }
  UpdateWindow(hwnd_);
}

// The first control in tab order that takes input, or none: the dialog manager offers a label or
// a frame where no control takes input.
HWND FormWindow::FirstStop() const {
  HWND h = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
  return h && (GetWindowLongW(h, GWL_STYLE) & WS_TABSTOP) ? h : nullptr;
}

HWND FormWindow::ContainerWindow(const rt::Control* container) const {
  return container ? WindowOf(*container).Handle() : hwnd_;
}

ControlWindow* FormWindow::AtId(UINT id) const {
  if (id < kFirstControlId || id - kFirstControlId >= controls_.size()) return nullptr;
  return controls_[id - kFirstControlId].get();
}

void FormWindow::LabelRenamed(const rt::Control& label) {
  for (auto& c : form_.Controls()) {
    const wchar_t* by = c->Def().labelledBy;
    if (by && c->native && std::wstring_view(by) == label.Name()) WindowOf(*c).Renamed();
  }
}

// Bottom of the stack first, so that the topmost is drawn last, over the others.
void FormWindow::PaintWindowless(const rt::Control* container, HDC dc, const RECT& dirty) {
  auto& all = form_.Controls();
  for (auto it = all.rbegin(); it != all.rend(); ++it) {
    rt::Control& c = **it;
    if (rt::IsWindowless(c.GetKind()) && c.Container() == container) WindowOf(c).PaintInto(dc, dirty);
  }
}

// ---------------------------------------------------------------------------------------------
// Messages

INT_PTR CALLBACK FormWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    auto* self = reinterpret_cast<FormWindow*>(lp);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    return FALSE;
  }
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self || self->closing_) return FALSE;
  Entered entered(*self);
  return AtBoundary(self->form_.App(), INT_PTR{FALSE}, [&] { return self->OnMessage(msg, wp, lp); });
}

// A dialog procedure answers most messages through DWLP_MSGRESULT (of a window that may have
// been taken down by the handler that just ran).
INT_PTR FormWindow::Answer(LRESULT result) {
  if (hwnd_) SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR FormWindow::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_CLOSE: form_.CloseFromFrame(); return TRUE;
    case WM_QUERYENDSESSION: return Answer(form_.App().SessionMayEnd() ? TRUE : FALSE);
    case WM_ENDSESSION:
      if (wp) form_.App().SessionEnds();
      return Answer(0);
    case WM_CTLCOLORDLG: return reinterpret_cast<INT_PTR>(backBrush_);
    case WM_ERASEBKGND: {
      RECT r{};
      GetClientRect(hwnd_, &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, backBrush_);
      return Answer(1);
    }
    case WM_PAINT: OnPaint(); return TRUE;
    case WM_ACTIVATE: OnActivate(LOWORD(wp) != WA_INACTIVE); return FALSE;  // the dialog manager's too
    // A window without a control that takes input keeps the focus itself: the dialog manager
    // would give it to a label or a frame.
    case WM_SETFOCUS: return FirstStop() ? FALSE : TRUE;
    case WM_SIZE: InvalidateRect(hwnd_, nullptr, TRUE); return TRUE;
    case WM_SYSCOLORCHANGE: ColoursChanged(); return FALSE;
    case WM_SETTINGCHANGE:
      if (wp == SPI_SETHIGHCONTRAST) ColoursChanged();
      return FALSE;
    default: break;
  }
  LRESULT result = 0;
  if (!ContainerMessage(msg, wp, lp, result)) return FALSE;
  // The colour messages answer with the brush itself.
  if (msg == WM_CTLCOLORSTATIC || msg == WM_CTLCOLORBTN) return static_cast<INT_PTR>(result);
  return Answer(result);
}

// The first time the window is activated, the focus goes straight from the window that had it to
// this one's first control that takes input, before the system would give it to the window itself:
// a screen reader hears the page's button, not the page and then the button. A focus that comes
// from no window (the one that had it was disabled) is left to the system, which gives it to the
// window and the dialog manager then to that control: some systems tell readers nothing of a focus
// that comes from nowhere, and this way the move to the control is told. Later the dialog manager
// puts back the focus that the window had.
void FormWindow::OnActivate(bool active) {
  if (!active || activated_) return;
  activated_ = true;
  HWND focus = GetFocus();
  if (!focus || focus == hwnd_ || IsChild(hwnd_, focus)) return;
  if (HWND stop = FirstStop()) SetFocus(stop);
}

void FormWindow::OnPaint() {
  PaintDc dc(hwnd_);
  PaintWindowless(nullptr, dc.get(), dc.Dirty());
}

bool FormWindow::ContainerMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  switch (msg) {
    case WM_COMMAND: OnCommand(wp, lp); result = 0; return true;
    case WM_DRAWITEM: {
      const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      if (ControlWindow* w = AtId(di->CtlID)) w->DrawItem(*di);
      result = TRUE;
      return true;
    }
    case WM_MEASUREITEM:
      reinterpret_cast<MEASUREITEMSTRUCT*>(lp)->itemHeight = static_cast<UINT>(screen_.Scaled(16));
      result = TRUE;
      return true;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      result = reinterpret_cast<LRESULT>(backBrush_);
      return true;
    default: return false;
  }
}

// Escape (IDCANCEL) and Enter without a default button come without a control window: they do
// nothing.
void FormWindow::OnCommand(WPARAM wp, LPARAM lp) {
  if (!lp) return;
  if (ControlWindow* w = AtId(LOWORD(wp))) w->Notified(HIWORD(wp));
}

}  // namespace win32
