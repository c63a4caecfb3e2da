#include "win32_backend.h"

#include <algorithm>
#include <cmath>

#include "../rt/units.h"

namespace win32 {

namespace {

constexpr int kFirstControlId = 1000;
constexpr wchar_t kFrameClass[] = L"RtFrame";
constexpr wchar_t kPictureClass[] = L"RtPicture";
// The window's default font where a control has none of its own.
constexpr wchar_t kDefaultFace[] = L"MS Shell Dlg";
constexpr double kDefaultPoints = 8;

struct Binding {
  Backend* backend;
  rt::Form* form;
  rt::Control* control;  // nullptr for the form itself
};

Binding* BindingOf(HWND hwnd) { return reinterpret_cast<Binding*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)); }

// Runs `fn` at a system callback boundary: nothing may unwind into the system's frames.
template <typename Fn>
void AtBoundary(rt::Form& form, Fn&& fn) {
  form.App().Guard(std::forward<Fn>(fn));
}

}  // namespace

struct Backend::ControlNative {
  Binding binding{};
  HWND hwnd = nullptr;
  int id = 0;
  UniqueFont font;
  UniqueGdi<HGDIOBJ> bitmap;      // picture of an image or picture box
  SIZE bitmapSize{};
  UniqueDc imageDc;               // persistent image of a picture box
  UniqueGdi<HGDIOBJ> imageBitmap;
  HGDIOBJ imageOldBitmap = nullptr;
  SIZE imageSize{};
  bool imagePending = false;      // the image has changed since the box last painted it
  WNDPROC originalProc = nullptr; // subclassed system controls
  ~ControlNative() {
    if (imageDc && imageOldBitmap) SelectObject(imageDc.get(), imageOldBitmap);
  }
};

struct Backend::FormNative {
  Binding binding{};
  HWND hwnd = nullptr;
  HBRUSH backBrush = nullptr;      // not owned when it is a system colour brush
  UniqueGdi<HGDIOBJ> ownBrush;
  UniqueFont defaultFont;
  bool shown = false;
  std::vector<HWND> disabledForModal;
  bool othersDisabled = false;  // by this form's modal show, until it ends
};

// ---------------------------------------------------------------------------------------------

Backend::Backend(HINSTANCE instance) : instance_(instance) {
  WindowDc screen(nullptr);
  dpi_ = GetDeviceCaps(screen.get(), LOGPIXELSY);
  if (dpi_ <= 0) dpi_ = 96;

  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.hInstance = instance_;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.lpfnWndProc = &Backend::FrameProc;
  wc.lpszClassName = kFrameClass;
  RegisterClassExW(&wc);
  wc.lpfnWndProc = &Backend::PictureProc;
  wc.lpszClassName = kPictureClass;
  RegisterClassExW(&wc);
}

Backend::~Backend() = default;

Backend::FormNative& Backend::F(rt::Form& form) { return *forms_.at(&form); }
Backend::ControlNative& Backend::C(rt::Control& control) { return *controls_.at(&control); }

COLORREF Backend::Resolve(rt::Colour c, COLORREF fallback) const {
  switch (c.kind) {
    case rt::Colour::Kind::Rgb: return c.value;
    case rt::Colour::Kind::System: return GetSysColor(static_cast<int>(c.value));
    default: return fallback;
  }
}

RECT Backend::PixelRect(const rt::ControlDef& d) const {
  RECT r;
  r.left = rt::TwipsToPixels(d.left, dpi_);
  r.top = rt::TwipsToPixels(d.top, dpi_);
  r.right = r.left + rt::TwipsToPixels(d.width, dpi_);
  r.bottom = r.top + rt::TwipsToPixels(d.height, dpi_);
  return r;
}

HFONT Backend::MakeFont(const rt::Font& font) {
  const wchar_t* face = font.face ? font.face : kDefaultFace;
  const double pt = font.face ? font.points : kDefaultPoints;
  LOGFONTW lf{};
  lf.lfHeight = -static_cast<LONG>(std::lround(pt * dpi_ / 72.0));
  lf.lfWeight = font.bold ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = font.italic ? TRUE : FALSE;
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = DEFAULT_QUALITY;
  lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
  return CreateFontIndirectW(&lf);
}

HWND Backend::ContainerWindow(rt::Control& control) {
  if (rt::Control* frame = control.Container()) return C(*frame).hwnd;
  return F(control.Owner()).hwnd;
}

// ---------------------------------------------------------------------------------------------
// Forms

void Backend::CreateForm(rt::Form& form) {
  app_ = &form.App();
  const rt::FormDef& d = form.Def();
  auto fn = std::make_unique<FormNative>();
  fn->binding = Binding{this, &form, nullptr};

  DWORD style = WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | DS_SETFOREGROUND;
  DWORD exStyle = WS_EX_CONTROLPARENT;
  if (d.controlBox) style |= WS_SYSMENU;
  if (d.border == rt::Border::Sizable) style |= WS_THICKFRAME;
  else style |= DS_MODALFRAME;
  if (d.minButton) style |= WS_MINIMIZEBOX;
  if (d.maxButton) style |= WS_MAXIMIZEBOX;
  if (d.showInTaskbar) exStyle |= WS_EX_APPWINDOW;

  // An empty dialog template: header, no menu, the default class, the caption.
  std::vector<WORD> tmpl(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
  auto* hdr = reinterpret_cast<DLGTEMPLATE*>(tmpl.data());
  hdr->style = style;
  hdr->dwExtendedStyle = exStyle;
  tmpl.push_back(0);  // menu
  tmpl.push_back(0);  // class
  for (const wchar_t* p = d.caption; *p; ++p) tmpl.push_back(static_cast<WORD>(*p));
  tmpl.push_back(0);
  hdr = reinterpret_cast<DLGTEMPLATE*>(tmpl.data());

  // Wizard pages and dialogs stay above the backdrop and out of the taskbar: the start-up form
  // owns them.
  HWND owner = nullptr;
  rt::Form* startup = form.App().StartupForm();
  if (startup && startup != &form && startup->IsLoaded() && forms_.count(startup)) owner = F(*startup).hwnd;

  FormNative* raw = fn.get();
  forms_[&form] = std::move(fn);
  HWND hwnd = CreateDialogIndirectParamW(instance_, hdr, owner, &Backend::FormProc,
                                         reinterpret_cast<LPARAM>(&raw->binding));
  if (!hwnd) {
    forms_.erase(&form);
    throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"Cannot create the window ") + d.name);
  }
  raw->hwnd = hwnd;
  form.native = raw;

  if (d.back.kind == rt::Colour::Kind::Rgb) {
    raw->ownBrush.reset(CreateSolidBrush(d.back.value));
    raw->backBrush = static_cast<HBRUSH>(raw->ownBrush.get());
  } else {
    raw->backBrush = GetSysColorBrush(d.back.kind == rt::Colour::Kind::System ? d.back.value : COLOR_BTNFACE);
  }
  raw->defaultFont.reset(MakeFont(rt::Font{}));

  if (d.icon) {
    HICON big = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(d.icon), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(d.icon), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (big) SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    if (small) SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
  }

  // Outer size from the client size; design position as given.
  RECT r{0, 0, rt::TwipsToPixels(d.width, dpi_), rt::TwipsToPixels(d.height, dpi_)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  SetWindowPos(hwnd, nullptr, rt::TwipsToPixels(d.left, dpi_), rt::TwipsToPixels(d.top, dpi_), r.right - r.left,
               r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);

  // Frames first, so their children have a parent; then everything else in tab order, which
  // is also the order the dialog manager walks for Tab.
  std::vector<rt::Control*> order;
  for (auto& c : form.Controls()) order.push_back(c.get());
  std::stable_sort(order.begin(), order.end(), [](rt::Control* a, rt::Control* b) {
    const bool fa = a->GetKind() == rt::Kind::Frame, fb = b->GetKind() == rt::Kind::Frame;
    if (fa != fb) return fa;
    auto key = [](rt::Control* c) { return c->Def().tabIndex < 0 ? 1 << 30 : c->Def().tabIndex; };
    return key(a) < key(b);
  });
  for (rt::Control* c : order) CreateControl(form, *c);
  // Frames go into the tab order where their own tab index puts them.
  for (rt::Control* c : order) {
    if (c->GetKind() != rt::Kind::Frame) continue;
    HWND after = HWND_TOP;
    for (rt::Control* o : order) {
      if (o->Container() || o == c || !C(*o).hwnd || o->Def().tabIndex < 0) continue;
      if (o->Def().tabIndex < c->Def().tabIndex) after = C(*o).hwnd;
    }
    SetWindowPos(C(*c).hwnd, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  for (auto& c : form.Controls()) {
    if (c->Def().isDefault) SendMessageW(hwnd, DM_SETDEFID, C(*c).id, 0);
  }
}

void Backend::CreateControl(rt::Form& form, rt::Control& control) {
  const rt::ControlDef& d = control.Def();
  auto cn = std::make_unique<ControlNative>();
  ControlNative& n = *cn;
  n.binding = Binding{this, &form, &control};
  n.id = kFirstControlId + control.Index();
  controls_[&control] = std::move(cn);
  control.native = &n;

  if (!d.font.IsDefault()) n.font.reset(MakeFont(d.font));
  HFONT font = static_cast<HFONT>(n.font ? n.font.get() : F(form).defaultFont.get());
  if (d.picture) {
    n.bitmap.reset(LoadImageW(instance_, MAKEINTRESOURCEW(d.picture), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    BITMAP bm{};
    if (n.bitmap && GetObjectW(n.bitmap.get(), sizeof bm, &bm)) n.bitmapSize = SIZE{bm.bmWidth, bm.bmHeight};
  }
  if (d.kind == rt::Kind::Line || d.kind == rt::Kind::Image) return;  // painted by the container

  const RECT r = PixelRect(d);
  HWND parent = ContainerWindow(control);
  const wchar_t* cls = L"Static";
  DWORD style = WS_CHILD | WS_VISIBLE;
  DWORD ex = 0;
  switch (d.kind) {
    case rt::Kind::Label: style |= SS_LEFT | SS_NOPREFIX; break;
    case rt::Kind::CommandButton:
      cls = L"Button";
      style |= WS_TABSTOP | (d.isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
      break;
    case rt::Kind::Frame: cls = kFrameClass; ex |= WS_EX_CONTROLPARENT; break;
    case rt::Kind::PictureBox:
      cls = kPictureClass;
      if (d.border) ex |= WS_EX_CLIENTEDGE;
      break;
    case rt::Kind::TextBox:
      cls = L"Edit";
      style |= WS_TABSTOP | ES_AUTOHSCROLL | ES_LEFT;
      ex |= WS_EX_CLIENTEDGE;
      break;
    case rt::Kind::DriveList:
      cls = L"ComboBox";
      style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS;
      break;
    case rt::Kind::DirList:
      cls = L"ListBox";
      style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOINTEGRALHEIGHT;
      ex |= WS_EX_CLIENTEDGE;
      break;
    default: break;
  }
  if (!control.Enabled()) style |= WS_DISABLED;
  int height = r.bottom - r.top;
  if (d.kind == rt::Kind::DriveList) height = rt::TwipsToPixels(d.height * 8, dpi_);  // with its drop-down
  n.hwnd = CreateWindowExW(ex, cls, control.Caption().c_str(), style, r.left, r.top, r.right - r.left, height,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(n.id)), instance_, nullptr);
  if (!n.hwnd) throw rt::RuntimeError(rt::ErrInternal, std::wstring(L"Cannot create the control ") + d.name);
  SetWindowPos(n.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  SendMessageW(n.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

  switch (d.kind) {
    case rt::Kind::Label:
      n.originalProc = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(n.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Backend::LabelStubProc)));
      SetWindowLongPtrW(n.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&n.binding));
      break;
    case rt::Kind::Frame:
    case rt::Kind::PictureBox:
      SetWindowLongPtrW(n.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&n.binding));
      break;
    case rt::Kind::DirList: {
      WindowDc dc(n.hwnd);
      Selected sel(dc.get(), font);
      TEXTMETRICW tm{};
      GetTextMetricsW(dc.get(), &tm);
      SendMessageW(n.hwnd, LB_SETITEMHEIGHT, 0, std::max<LONG>(tm.tmHeight + 2, MulDiv(16, dpi_, 96)));
      n.originalProc = reinterpret_cast<WNDPROC>(
          SetWindowLongPtrW(n.hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Backend::DirListProc)));
      SetWindowLongPtrW(n.hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&n.binding));
      break;
    }
    case rt::Kind::DriveList: {
      // The closed box is as high as its definition says.
      RECT wr{};
      GetWindowRect(n.hwnd, &wr);
      const int field = static_cast<int>(SendMessageW(n.hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
      const int want = r.bottom - r.top;
      const int border = (wr.bottom - wr.top) - field;
      if (want - border > 4) SendMessageW(n.hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), want - border);
      break;
    }
    case rt::Kind::TextBox: SendMessageW(n.hwnd, EM_LIMITTEXT, 0, 0); break;
    default: break;
  }

  if (d.kind == rt::Kind::PictureBox) {
    RECT cr{};
    GetClientRect(n.hwnd, &cr);
    WindowDc screen(n.hwnd);
    n.imageSize = SIZE{std::max<LONG>(cr.right, 1), std::max<LONG>(cr.bottom, 1)};
    if (d.persistent || !d.picture) {
      n.imageDc.reset(CreateCompatibleDC(screen.get()));
      n.imageBitmap.reset(CreateCompatibleBitmap(screen.get(), n.imageSize.cx, n.imageSize.cy));
      n.imageOldBitmap = SelectObject(n.imageDc.get(), n.imageBitmap.get());
      SelectObject(n.imageDc.get(), font);
      PictureClear(control);
    }
  }
}

void Backend::DestroyForm(rt::Form& form) {
  auto it = forms_.find(&form);
  if (it == forms_.end()) return;
  FormNative& fn = *it->second;
  // Give the windows back their input before this one goes, so that activation returns to them.
  for (HWND h : fn.disabledForModal) {
    if (IsWindow(h)) EnableWindow(h, TRUE);
  }
  fn.disabledForModal.clear();
  HWND hwnd = fn.hwnd;
  SetWindowLongPtrW(hwnd, DWLP_USER, 0);
  for (auto& c : form.Controls()) {
    auto ci = controls_.find(c.get());
    if (ci != controls_.end() && ci->second->hwnd) SetWindowLongPtrW(ci->second->hwnd, GWLP_USERDATA, 0);
  }
  DestroyWindow(hwnd);
  for (auto& c : form.Controls()) controls_.erase(c.get());
  forms_.erase(it);
}

// A modal form takes the input from every other form before it appears, so that no click can
// reach them in between; the modal run gives it back when the form goes.
void Backend::DisableOthersFor(rt::Form& form, FormNative& fn) {
  if (fn.othersDisabled) return;
  fn.othersDisabled = true;
  for (rt::Form* other : form.App().LoadedForms()) {
    if (other == &form || !forms_.count(other)) continue;
    HWND h = F(*other).hwnd;
    if (IsWindowEnabled(h)) {
      EnableWindow(h, FALSE);
      fn.disabledForModal.push_back(h);
    }
  }
}

void Backend::ShowForm(rt::Form& form) {
  FormNative& fn = F(form);
  if (form.IsModal()) DisableOthersFor(form, fn);
  const bool first = !fn.shown;
  fn.shown = true;
  ShowWindow(fn.hwnd, first && form.Def().startMaximized ? SW_SHOWMAXIMIZED : SW_SHOW);
  if (first) {
    SetForegroundWindow(fn.hwnd);
    if (HWND firstStop = GetNextDlgTabItem(fn.hwnd, nullptr, FALSE)) {
      SendMessageW(fn.hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(firstStop), TRUE);
    }
  }
  UpdateWindow(fn.hwnd);
}

void Backend::Pump(MSG& msg) {
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root) {
    for (auto& [form, fn] : forms_) {
      if (fn->hwnd == root) {
        if (IsDialogMessageW(root, &msg)) return;
        break;
      }
    }
  }
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

void Backend::RunModal(rt::Form& form) {
  FormNative& fn = F(form);
  DisableOthersFor(form, fn);
  MSG msg;
  while (form.IsLoaded()) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) break;
    Pump(msg);
  }
  if (form.IsLoaded()) {
    for (HWND h : fn.disabledForModal) {
      if (IsWindow(h)) EnableWindow(h, TRUE);
    }
    fn.disabledForModal.clear();
    fn.othersDisabled = false;
  }
}

void Backend::RunMainLoop(rt::Application& app) {
  MSG msg;
  while (!app.LoadedForms().empty()) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    Pump(msg);
  }
}

void Backend::FlushPaint(rt::Form& form) {
  RedrawWindow(F(form).hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Backend::RefreshForm(rt::Form& form) {
  RedrawWindow(F(form).hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void Backend::ControlChanged(rt::Control& control) {
  ControlNative& n = C(control);
  switch (control.GetKind()) {
    case rt::Kind::Label: {
      SetWindowTextW(n.hwnd, control.Caption().c_str());
      InvalidateLabelBox(control);
      break;
    }
    case rt::Kind::DriveList:
      SendMessageW(n.hwnd, CB_RESETCONTENT, 0, 0);
      for (const auto& item : control.DriveItems()) {
        SendMessageW(n.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      }
      SendMessageW(n.hwnd, CB_SETCURSEL, control.ListIndex(), 0);
      break;
    case rt::Kind::DirList:
      SendMessageW(n.hwnd, WM_SETREDRAW, FALSE, 0);
      SendMessageW(n.hwnd, LB_RESETCONTENT, 0, 0);
      for (const auto& item : control.DirItems()) {
        SendMessageW(n.hwnd, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.name.c_str()));
      }
      SendMessageW(n.hwnd, LB_SETCURSEL, control.ListIndex(), 0);
      SendMessageW(n.hwnd, WM_SETREDRAW, TRUE, 0);
      InvalidateRect(n.hwnd, nullptr, TRUE);
      break;
    default:
      if (n.hwnd) {
        SetWindowTextW(n.hwnd, control.Caption().c_str());
        if (control.GetKind() == rt::Kind::Frame) InvalidateRect(n.hwnd, nullptr, TRUE);
      }
      break;
  }
}

void Backend::RefreshControl(rt::Control& control) {
  ControlNative& n = C(control);
  if (rt::IsWindowless(control.GetKind())) {
    // The box now, then whatever else in the container waits to be painted: windowed controls
    // over the box, and the gauge drawn since the last refresh.
    InvalidateLabelBox(control);
    RedrawWindow(ContainerWindow(control), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  } else if (n.hwnd) {
    RedrawWindow(n.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  }
}

// A label's box is painted by its container. The label's own window draws nothing, so it is
// left out; windowed controls that reach into the box are painted again after it, so that they
// stay on top of the label as they must.
void Backend::InvalidateLabelBox(rt::Control& label) {
  HWND container = ContainerWindow(label);
  const RECT box = PixelRect(label.Def());
  RedrawWindow(container, &box, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN);
  for (auto& other : label.Owner().Controls()) {
    if (rt::IsWindowless(other->GetKind()) || other->Container() != label.Container()) continue;
    HWND h = C(*other).hwnd;
    if (!h || !IsWindowVisible(h)) continue;
    RECT r{}, overlap{};
    GetWindowRect(h, &r);
    MapWindowPoints(nullptr, container, reinterpret_cast<POINT*>(&r), 2);
    if (IntersectRect(&overlap, &r, &box)) RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
  }
}

std::wstring Backend::ReadText(rt::Control& control) {
  HWND h = C(control).hwnd;
  const int len = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  const int got = GetWindowTextW(h, s.data(), len + 1);
  s.resize(static_cast<size_t>(std::max(got, 0)));
  control.StoreTypedText(s);
  return s;
}

void Backend::SetSelection(rt::Control& control, int start, int length) {
  HWND h = C(control).hwnd;
  SendMessageW(h, EM_SETSEL, start, start + length);
  // A mouse click that gave the focus places the caret after this; select again once it is done.
  PostMessageW(h, EM_SETSEL, start, start + length);
}

void Backend::SetFocus(rt::Control& control) {
  HWND h = C(control).hwnd;
  if (h) SendMessageW(F(control.Owner()).hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(h), TRUE);
}

double Backend::ScreenWidthTwips() { return rt::PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), dpi_); }
double Backend::ScreenHeightTwips() { return rt::PixelsToTwips(GetSystemMetrics(SM_CYSCREEN), dpi_); }

rt::Backend::Rect Backend::FormRect(rt::Form& form) {
  RECT r{};
  GetWindowRect(F(form).hwnd, &r);
  return Rect{rt::PixelsToTwips(r.left, dpi_), rt::PixelsToTwips(r.top, dpi_),
              rt::PixelsToTwips(r.right - r.left, dpi_), rt::PixelsToTwips(r.bottom - r.top, dpi_)};
}

void Backend::MoveForm(rt::Form& form, double left, double top) {
  SetWindowPos(F(form).hwnd, nullptr, rt::TwipsToPixels(left, dpi_), rt::TwipsToPixels(top, dpi_), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---------------------------------------------------------------------------------------------
// Picture boxes: drawing goes into the box's persistent image; the box paints from it.

// The box is told once that its image has changed, however many drawing calls follow before it
// paints again.
void Backend::ImageChanged(ControlNative& n) {
  if (n.imagePending) return;
  n.imagePending = true;
  InvalidateRect(n.hwnd, nullptr, FALSE);
}

void Backend::PictureClear(rt::Control& box) {
  ControlNative& n = C(box);
  if (!n.imageDc) return;
  HBRUSH brush = CreateSolidBrush(Resolve(box.Def().back, GetSysColor(COLOR_WINDOW)));
  RECT r{0, 0, n.imageSize.cx, n.imageSize.cy};
  FillRect(n.imageDc.get(), &r, brush);
  DeleteObject(brush);
  ImageChanged(n);
}

double Backend::PictureScaleWidth(rt::Control& box) { return rt::PixelsToTwips(C(box).imageSize.cx, dpi_); }
double Backend::PictureScaleHeight(rt::Control& box) { return rt::PixelsToTwips(C(box).imageSize.cy, dpi_); }

void Backend::PictureFillBox(rt::Control& box, double x1, double y1, double x2, double y2, rt::Colour colour) {
  ControlNative& n = C(box);
  if (!n.imageDc) return;
  RECT r{rt::TwipsToPixels(std::min(x1, x2), dpi_), rt::TwipsToPixels(std::min(y1, y2), dpi_),
         rt::TwipsToPixels(std::max(x1, x2), dpi_), rt::TwipsToPixels(std::max(y1, y2), dpi_)};
  if (r.right <= r.left) return;  // an empty bar draws nothing
  HBRUSH brush = CreateSolidBrush(Resolve(colour, 0));
  FillRect(n.imageDc.get(), &r, brush);
  DeleteObject(brush);
  ImageChanged(n);
}

double Backend::PictureTextWidth(rt::Control& box, const std::wstring& text) {
  ControlNative& n = C(box);
  SIZE s{};
  if (n.imageDc) GetTextExtentPoint32W(n.imageDc.get(), text.c_str(), static_cast<int>(text.size()), &s);
  return rt::PixelsToTwips(s.cx, dpi_);
}

double Backend::PictureTextHeight(rt::Control& box, const std::wstring& text) {
  ControlNative& n = C(box);
  SIZE s{};
  if (n.imageDc) GetTextExtentPoint32W(n.imageDc.get(), text.empty() ? L" " : text.c_str(),
                                       std::max<int>(static_cast<int>(text.size()), 1), &s);
  return rt::PixelsToTwips(s.cy, dpi_);
}

void Backend::PicturePrint(rt::Control& box, double x, double y, const std::wstring& text) {
  ControlNative& n = C(box);
  if (!n.imageDc) return;
  SetBkMode(n.imageDc.get(), TRANSPARENT);
  SetTextColor(n.imageDc.get(), Resolve(box.Def().fore, RGB(0, 0, 0)));
  TextOutW(n.imageDc.get(), rt::TwipsToPixels(x, dpi_), rt::TwipsToPixels(y, dpi_), text.c_str(),
           static_cast<int>(text.size()));
  // What is printed is also the box's window text, for screen readers and automation clients.
  SetWindowTextW(n.hwnd, text.c_str());
  ImageChanged(n);
}

// ---------------------------------------------------------------------------------------------
// Message boxes and the end

namespace {
// Takes the input away from windows for its lifetime and gives it back to exactly those it took
// it from (and that still exist).
class InputTakenAway {
 public:
  explicit InputTakenAway(const std::vector<HWND>& windows) {
    for (HWND h : windows) {
      if (IsWindowEnabled(h)) {
        EnableWindow(h, FALSE);
        taken_.push_back(h);
      }
    }
  }
  ~InputTakenAway() {
    for (HWND h : taken_) {
      if (IsWindow(h)) EnableWindow(h, TRUE);
    }
  }
  InputTakenAway(const InputTakenAway&) = delete;
  InputTakenAway& operator=(const InputTakenAway&) = delete;

 private:
  std::vector<HWND> taken_;
};
}  // namespace

int Backend::ShowMessage(rt::Form* owner, const std::wstring& text, const std::wstring& title, int style) {
  // A message box answers only what is typed or clicked once it is there: keys pressed while
  // the program was busy (during the copy run) must not dismiss it unread.
  MSG pending;
  while (PeekMessageW(&pending, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE | PM_NOYIELD)) {
  }
  while (PeekMessageW(&pending, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE | PM_NOYIELD)) {
  }
  while (PeekMessageW(&pending, nullptr, WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK, PM_REMOVE | PM_NOYIELD)) {
  }
  HWND h = nullptr;
  if (owner && forms_.count(owner)) h = F(*owner).hwnd;
  // The box is modal to the whole program, as a modal form is: it disables its owner itself,
  // and every other window of the program is disabled while it is up, so that a click
  // elsewhere (the backdrop's close box) cannot end the program under it.
  std::vector<HWND> others;
  for (const auto& [form, fn] : forms_) {
    if (fn->hwnd != h) others.push_back(fn->hwnd);
  }
  InputTakenAway whileUp(others);
  return MessageBoxW(h, text.c_str(), title.c_str(), static_cast<UINT>(style) | MB_SETFOREGROUND);
}

void Backend::EndProgram(int exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }

// ---------------------------------------------------------------------------------------------
// Painting

void Backend::PaintWindowless(rt::Form& form, rt::Control* container, HDC dc, const RECT& dirty) {
  auto& controls = form.Controls();
  HFONT defaultFont = static_cast<HFONT>(F(form).defaultFont.get());
  // Bottom of the stack first, so that the topmost is drawn last, over the others.
  for (auto it = controls.rbegin(); it != controls.rend(); ++it) {
    rt::Control& c = **it;
    if (!rt::IsWindowless(c.GetKind()) || c.Container() != container) continue;
    const rt::ControlDef& d = c.Def();
    ControlNative& n = C(c);
    if (d.kind == rt::Kind::Line) {
      const int x1 = rt::TwipsToPixels(d.left, dpi_), y1 = rt::TwipsToPixels(d.top, dpi_);
      const int x2 = rt::TwipsToPixels(d.width, dpi_), y2 = rt::TwipsToPixels(d.height, dpi_);
      UniqueGdi<HGDIOBJ> pen(CreatePen(PS_SOLID, 1, Resolve(d.fore, GetSysColor(COLOR_WINDOWTEXT))));
      Selected sel(dc, pen.get());
      MoveToEx(dc, x1, y1, nullptr);
      LineTo(dc, x2 + (x2 >= x1 ? 1 : -1), y2);
      continue;
    }
    RECT r = PixelRect(d);
    RECT clip;
    if (!IntersectRect(&clip, &r, &dirty)) continue;
    if (d.kind == rt::Kind::Image) {
      if (!n.bitmap) continue;
      UniqueDc mem(CreateCompatibleDC(dc));
      Selected sel(mem.get(), n.bitmap.get());
      SetStretchBltMode(dc, HALFTONE);
      SetBrushOrgEx(dc, 0, 0, nullptr);
      if (d.stretch) {
        StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, mem.get(), 0, 0, n.bitmapSize.cx,
                   n.bitmapSize.cy, SRCCOPY);
      } else {
        BitBlt(dc, r.left, r.top, n.bitmapSize.cx, n.bitmapSize.cy, mem.get(), 0, 0, SRCCOPY);
      }
      continue;
    }
    // A label: its caption wrapped at word boundaries inside its fixed box.
    if (!d.transparent) {
      HBRUSH back = d.back.IsDefault() ? F(form).backBrush : CreateSolidBrush(Resolve(d.back, 0));
      FillRect(dc, &r, back);
      if (!d.back.IsDefault()) DeleteObject(back);
    }
    Selected sel(dc, n.font ? n.font.get() : defaultFont);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Resolve(d.fore, GetSysColor(COLOR_BTNTEXT)));
    DrawTextW(dc, c.Caption().c_str(), static_cast<int>(c.Caption().size()), &r,
              DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  }
}

void Backend::PaintFrame(rt::Control& frame, HDC dc) {
  ControlNative& n = C(frame);
  rt::Form& form = frame.Owner();
  RECT cr{};
  GetClientRect(n.hwnd, &cr);
  HFONT font = static_cast<HFONT>(n.font ? n.font.get() : F(form).defaultFont.get());
  Selected sel(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  RECT edge = cr;
  edge.top += tm.tmHeight / 2;
  DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
  const std::wstring& caption = frame.Caption();
  if (!caption.empty()) {
    SIZE s{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &s);
    const int x = MulDiv(8, dpi_, 96);
    RECT tr{x - 2, 0, std::min<LONG>(x + s.cx + 2, cr.right - 2), tm.tmHeight};
    FillRect(dc, &tr, F(form).backBrush);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, Resolve(frame.Def().fore, GetSysColor(COLOR_BTNTEXT)));
    RECT text{x, 0, tr.right, tm.tmHeight};
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
}

void Backend::DrawDirItem(rt::Control& list, const DRAWITEMSTRUCT& di) {
  if (di.itemID == static_cast<UINT>(-1)) return;
  const auto& items = list.DirItems();
  if (di.itemID >= items.size()) return;
  const rt::DirItem& item = items[di.itemID];
  const bool selected = (di.itemState & ODS_SELECTED) != 0;
  HDC dc = di.hDC;
  RECT r = di.rcItem;
  FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int unit = MulDiv(1, dpi_, 96) > 0 ? MulDiv(1, dpi_, 96) : 1;
  const int indent = item.depth * 8 * unit;
  // A small folder: open for the folders of the current path, closed for the others.
  const int h = r.bottom - r.top;
  const int fx = r.left + 2 * unit + indent, fy = r.top + (h - 10 * unit) / 2;
  UniqueGdi<HGDIOBJ> body(CreateSolidBrush(item.open ? RGB(255, 255, 160) : RGB(240, 210, 90)));
  UniqueGdi<HGDIOBJ> pen(CreatePen(PS_SOLID, 1, RGB(128, 96, 0)));
  {
    Selected sb(dc, body.get());
    Selected sp(dc, pen.get());
    Rectangle(dc, fx, fy + 2 * unit, fx + 14 * unit, fy + 10 * unit);
    Rectangle(dc, fx, fy, fx + 6 * unit, fy + 3 * unit);
  }
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  RECT tr = r;
  tr.left = fx + 18 * unit;
  DrawTextW(dc, item.name.c_str(), static_cast<int>(item.name.size()), &tr,
            DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  if (di.itemState & ODS_FOCUS) DrawFocusRect(dc, &r);
}

// ---------------------------------------------------------------------------------------------
// Events

void Backend::OnCommand(rt::Form& form, WPARAM wp, LPARAM lp) {
  const int id = LOWORD(wp);
  const int code = HIWORD(wp);
  HWND from = reinterpret_cast<HWND>(lp);
  if (id < kFirstControlId || !from) return;  // Escape (IDCANCEL) and Enter without a default do nothing
  const size_t index = static_cast<size_t>(id - kFirstControlId);
  if (index >= form.Controls().size()) return;
  rt::Control& c = *form.Controls()[index];
  switch (c.GetKind()) {
    case rt::Kind::CommandButton:
      if (code == BN_CLICKED) AtBoundary(form, [&] { form.Fire(c, rt::Event::Click); });
      break;
    case rt::Kind::TextBox:
      if (code == EN_SETFOCUS) AtBoundary(form, [&] { form.Fire(c, rt::Event::GotFocus); });
      if (code == EN_KILLFOCUS) AtBoundary(form, [&] { form.Fire(c, rt::Event::LostFocus); });
      break;
    case rt::Kind::DriveList:
      if (code == CBN_SELCHANGE) {
        const int sel = static_cast<int>(SendMessageW(from, CB_GETCURSEL, 0, 0));
        if (sel >= 0 && static_cast<size_t>(sel) < c.DriveItems().size()) {
          const std::wstring drive = c.DriveItems()[static_cast<size_t>(sel)];
          AtBoundary(form, [&] { c.SetDrive(drive); });
        }
      }
      break;
    case rt::Kind::DirList:
      if (code == LBN_DBLCLK) {
        const int sel = static_cast<int>(SendMessageW(from, LB_GETCURSEL, 0, 0));
        if (sel >= 0 && static_cast<size_t>(sel) < c.DirItems().size()) {
          const std::wstring path = c.DirItems()[static_cast<size_t>(sel)].path;
          AtBoundary(form, [&] { c.SetPath(path); });
        }
      }
      break;
    default: break;
  }
}

// Messages a container (form or frame) handles for itself and its children.
LRESULT Backend::HandleChildMessage(rt::Form& form, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  switch (msg) {
    case WM_COMMAND: OnCommand(form, wp, lp); return 0;
    case WM_DRAWITEM: {
      const auto* di = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
      const size_t index = static_cast<size_t>(di->CtlID - kFirstControlId);
      if (di->CtlID >= static_cast<UINT>(kFirstControlId) && index < form.Controls().size()) {
        DrawDirItem(*form.Controls()[index], *di);
      }
      return TRUE;
    }
    case WM_MEASUREITEM: {
      auto* mi = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
      mi->itemHeight = static_cast<UINT>(MulDiv(16, dpi_, 96));
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
      FormNative& fn = F(form);
      SetBkMode(reinterpret_cast<HDC>(wp), TRANSPARENT);
      return reinterpret_cast<LRESULT>(fn.backBrush);
    }
    default: break;
  }
  (void)hwnd;
  handled = false;
  return 0;
}

INT_PTR Backend::HandleFormMessage(rt::Form& form, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  FormNative& fn = F(form);
  handled = true;
  switch (msg) {
    case WM_CLOSE: AtBoundary(form, [&] { form.CloseFromFrame(); }); return TRUE;
    case WM_CTLCOLORDLG: return reinterpret_cast<INT_PTR>(fn.backBrush);
    case WM_ERASEBKGND: {
      RECT r{};
      GetClientRect(hwnd, &r);
      FillRect(reinterpret_cast<HDC>(wp), &r, fn.backBrush);
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, 1);
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      PaintWindowless(form, nullptr, dc, ps.rcPaint);
      EndPaint(hwnd, &ps);
      return TRUE;
    }
    case WM_SIZE: InvalidateRect(hwnd, nullptr, TRUE); return TRUE;
    default: break;
  }
  LRESULT r = HandleChildMessage(form, hwnd, msg, wp, lp, handled);
  if (handled && msg != WM_CTLCOLORSTATIC && msg != WM_CTLCOLORBTN) {
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, r);
    return TRUE;
  }
  return static_cast<INT_PTR>(r);
}

INT_PTR CALLBACK Backend::FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    SetWindowLongPtrW(hwnd, DWLP_USER, lp);
    return FALSE;
  }
  auto* b = reinterpret_cast<Binding*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!b || !b->form || !b->backend->forms_.count(b->form)) return FALSE;
  INT_PTR result = FALSE;
  bool handled = false;
  rt::Form& form = *b->form;
  form.App().Guard([&] { result = b->backend->HandleFormMessage(form, hwnd, msg, wp, lp, handled); });
  return handled ? result : FALSE;
}

LRESULT CALLBACK Backend::FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Binding* b = BindingOf(hwnd);
  if (b && b->control) {
    rt::Form& form = *b->form;
    LRESULT result = 0;
    bool handled = false;
    form.App().Guard([&] {
      switch (msg) {
        case WM_ERASEBKGND: {
          RECT r{};
          GetClientRect(hwnd, &r);
          FillRect(reinterpret_cast<HDC>(wp), &r, b->backend->F(form).backBrush);
          result = 1;
          handled = true;
          break;
        }
        case WM_PAINT: {
          PAINTSTRUCT ps;
          HDC dc = BeginPaint(hwnd, &ps);
          b->backend->PaintFrame(*b->control, dc);
          b->backend->PaintWindowless(form, b->control, dc, ps.rcPaint);
          EndPaint(hwnd, &ps);
          handled = true;
          break;
        }
        default: result = b->backend->HandleChildMessage(form, hwnd, msg, wp, lp, handled); break;
      }
    });
    if (handled) return result;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT CALLBACK Backend::PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Binding* b = BindingOf(hwnd);
  if (b && b->control) {
    ControlNative& n = b->backend->C(*b->control);
    if (msg == WM_ERASEBKGND) return 1;
    if (msg == WM_PAINT) {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      n.imagePending = false;
      if (n.imageDc) {
        BitBlt(dc, 0, 0, n.imageSize.cx, n.imageSize.cy, n.imageDc.get(), 0, 0, SRCCOPY);
      } else {
        RECT cr{};
        GetClientRect(hwnd, &cr);
        FillRect(dc, &cr, GetSysColorBrush(COLOR_WINDOW));
        if (n.bitmap) {
          UniqueDc mem(CreateCompatibleDC(dc));
          Selected sel(mem.get(), n.bitmap.get());
          SetStretchBltMode(dc, HALFTONE);
          StretchBlt(dc, 0, 0, cr.right, cr.bottom, mem.get(), 0, 0, n.bitmapSize.cx, n.bitmapSize.cy, SRCCOPY);
        }
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

// A label's own window paints nothing: its container draws the caption, underneath the windowed
// controls, with the background showing through.
LRESULT CALLBACK Backend::LabelStubProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Binding* b = BindingOf(hwnd);
  WNDPROC original = b && b->control ? b->backend->C(*b->control).originalProc : nullptr;
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      BeginPaint(hwnd, &ps);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_NCHITTEST: return HTTRANSPARENT;
    default: break;
  }
  return original ? CallWindowProcW(original, hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

// The directory list opens the highlighted folder on Enter, as it does on a double-click;
// on the current folder, Enter goes on to the dialog's default button.
LRESULT CALLBACK Backend::DirListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Binding* b = BindingOf(hwnd);
  WNDPROC original = b && b->control ? b->backend->C(*b->control).originalProc : nullptr;
  if (b && b->control) {
    rt::Control& c = *b->control;
    const int sel = static_cast<int>(CallWindowProcW(original, hwnd, LB_GETCURSEL, 0, 0));
    const bool other = sel >= 0 && sel != c.ListIndex();
    if (msg == WM_GETDLGCODE && lp) {
      const MSG* m = reinterpret_cast<const MSG*>(lp);
      if (m->message == WM_KEYDOWN && m->wParam == VK_RETURN && other) return DLGC_WANTALLKEYS;
    }
    if (msg == WM_KEYDOWN && wp == VK_RETURN && other) {
      const std::wstring path = c.DirItems()[static_cast<size_t>(sel)].path;
      rt::Form& form = *b->form;
      form.App().Guard([&] { c.SetPath(path); });
      return 0;
    }
  }
  return original ? CallWindowProcW(original, hwnd, msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace win32
