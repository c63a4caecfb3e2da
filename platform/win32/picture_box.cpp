// Picture boxes. A box that is drawn on keeps what is drawn in an image of its own (a memory DC
// the size of its client area): the drawing survives being covered, and the box repaints from the
// image. The box also keeps the drawing calls since it was last cleared, so that it can draw the
// image again when the user's colours change. A box with a picture and no drawing shows the
// picture at its own size.
#include <algorithm>
#include <utility>

#include "accessible.h"
#include "accessible_object.h"
#include "controls.h"
#include "form_window.h"

namespace win32 {

PictureBoxWindow::~PictureBoxWindow() {
  LetGaugeGo();
  if (imageDc_ && imageOldBitmap_) SelectObject(imageDc_.get(), imageOldBitmap_);
}

void PictureBoxWindow::Create() {
  const rt::ControlDef& d = Control().Def();
  if (d.picture) picture_.Load(screen().instance, d.picture);
  const DWORD ex = d.border ? WS_EX_CLIENTEDGE : 0;
  CreateChild(kPictureClass, 0, ex);
  if (d.sizedToPicture && picture_) {
    // Exactly the picture's pixels at any resolution, border included where there is one.
    RECT r{0, 0, picture_.size.cx, picture_.size.cy};
    AdjustWindowRectEx(&r, WS_CHILD, FALSE, ex);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (!d.persistent && d.picture) return;
  RECT cr{};
  GetClientRect(hwnd_, &cr);
  imageSize_ = SIZE{std::max<LONG>(cr.right, 1), std::max<LONG>(cr.bottom, 1)};
  WindowDc dc(hwnd_);
  imageDc_.reset(CreateCompatibleDC(dc.get()));
  imageBitmap_.reset(CreateCompatibleBitmap(dc.get(), imageSize_.cx, imageSize_.cy));
  imageOldBitmap_ = SelectObject(imageDc_.get(), imageBitmap_.get());
  SelectObject(imageDc_.get(), Font());
  Clear();
}

// The box is told once that its image has changed, however many drawing calls follow before it
// paints again.
void PictureBoxWindow::ImageChanged() {
  if (imagePending_) return;
  imagePending_ = true;
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void PictureBoxWindow::Clear() {
  if (!imageDc_) return;
  drawn_.clear();
  Redraw();
}

void PictureBoxWindow::ColoursChanged() {
  if (imageDc_) Redraw();
}

void PictureBoxWindow::Redraw() {
  FillSolid(imageDc_.get(), RECT{0, 0, imageSize_.cx, imageSize_.cy},
            ColourOf(Control().Def().back, rt::kWindowBackground, Ink::Window));
  filled_.reset();
  for (const Drawn& d : drawn_) Draw(d);
  ImageChanged();
}

void PictureBoxWindow::FillBox(double x1, double y1, double x2, double y2, rt::Colour colour) {
  if (!imageDc_) return;
  const Screen& s = screen();
  const RECT r{s.Pixels(std::min(x1, x2)), s.Pixels(std::min(y1, y2)), s.Pixels(std::max(x1, x2)),
               s.Pixels(std::max(y1, y2))};
  if (r.right <= r.left) return;  // an empty bar draws nothing
  drawn_.push_back(Drawn{false, r, colour, {}});
  Draw(drawn_.back());
  ImageChanged();
}

// A filled box is a bar: with high contrast, the highlight colour. A text is in the box's text
// colour; with high contrast, the window text colour, and the highlight text colour where it
// lies over a bar.
void PictureBoxWindow::Draw(const Drawn& d) {
  HDC dc = imageDc_.get();
  if (!d.isText) {
    FillSolid(dc, d.box, ColourOf(d.colour, rt::kBlack, Ink::Highlight));
    UniqueGdiObject box(CreateRectRgnIndirect(&d.box));
    if (!filled_) filled_.reset(CreateRectRgn(0, 0, 0, 0));
    if (box && filled_) CombineRgn(static_cast<HRGN>(filled_.get()), static_cast<HRGN>(filled_.get()),
                                   static_cast<HRGN>(box.get()), RGN_OR);
    return;
  }
  SetBkMode(dc, TRANSPARENT);
  const rt::Colour fore = Control().Def().fore;
  const int length = static_cast<int>(d.text.size());
  if (!filled_ || !HighContrast()) {
    SetTextColor(dc, ColourOf(fore, rt::kBlack, Ink::WindowText));
    TextOutW(dc, d.box.left, d.box.top, d.text.c_str(), length);
    return;
  }
  UniqueGdiObject rest(CreateRectRgn(0, 0, imageSize_.cx, imageSize_.cy));
  if (!rest) return;
  CombineRgn(static_cast<HRGN>(rest.get()), static_cast<HRGN>(rest.get()), static_cast<HRGN>(filled_.get()), RGN_DIFF);
  for (auto [part, ink] : {std::pair{filled_.get(), Ink::HighlightText}, std::pair{rest.get(), Ink::WindowText}}) {
    SelectClipRgn(dc, static_cast<HRGN>(part));
    SetTextColor(dc, ColourOf(fore, rt::kBlack, ink));
    TextOutW(dc, d.box.left, d.box.top, d.text.c_str(), length);
  }
  SelectClipRgn(dc, nullptr);
}

// The extent of `text` in the box's font; an empty text is as high as a space.
SIZE PictureBoxWindow::TextExtent(const std::wstring& text) const {
  SIZE s{};
  if (!imageDc_) return s;
  GetTextExtentPoint32W(imageDc_.get(), text.empty() ? L" " : text.c_str(),
                        std::max<int>(static_cast<int>(text.size()), 1), &s);
  if (text.empty()) s.cx = 0;
  return s;
}

void PictureBoxWindow::Print(double x, double y, const std::wstring& text) {
  if (!imageDc_) return;
  drawn_.push_back(Drawn{true, RECT{screen().Pixels(x), screen().Pixels(y), 0, 0}, {}, text});
  Draw(drawn_.back());
  // What is printed is also the box's window text, its name and value for screen readers (who are
  // told when it changes) and automation clients.
  if (WindowText(hwnd_) != text) {
    SetWindowTextW(hwnd_, text.c_str());
    AnnounceNameChange(hwnd_, true);
  }
  ImageChanged();
}

bool PictureBoxWindow::OnMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) {
  switch (msg) {
    case WM_ERASEBKGND: result = 1; return true;  // the paint covers the whole client area
    case WM_PAINT: Paint(); result = 0; return true;
    default: return false;
  }
}

// A gauge answers readers with an object of its own: a progress bar, whose value the system's
// object for a window of this class would not give.
bool PictureBoxWindow::ReaderAsks(WPARAM wp, LPARAM lp, LRESULT& result) {
  Accessibility* services = screen().accessibility;
  if (!Control().Def().gauge || !services) return ControlWindow::ReaderAsks(wp, lp, result);
  if (static_cast<LONG>(lp) != OBJID_CLIENT) return false;
  if (!gauge_) gauge_ = services->MakeGauge(hwnd_);
  result = services->Serve(gauge_, wp, lp);
  return result != 0;
}

void PictureBoxWindow::WindowGone() noexcept {
  ControlWindow::WindowGone();
  LetGaugeGo();
}

// Readers that still hold the gauge's object are told from now on that it has gone.
void PictureBoxWindow::LetGaugeGo() noexcept {
  if (!gauge_) return;
  gauge_->Disconnect();
  std::exchange(gauge_, nullptr)->Release();
}

void PictureBoxWindow::Paint() {
  PaintDc dc(hwnd_);
  imagePending_ = false;
  if (imageDc_) {
    BitBlt(dc.get(), 0, 0, imageSize_.cx, imageSize_.cy, imageDc_.get(), 0, 0, SRCCOPY);
    return;
  }
  RECT cr{};
  GetClientRect(hwnd_, &cr);
  FillSolid(dc.get(), cr, ColourOf(Control().Def().back, rt::kWindowBackground, Ink::Window));
  DrawPicture(dc.get(), picture_, RECT{0, 0, picture_.size.cx, picture_.size.cy}, false);
}

std::unique_ptr<ControlWindow> MakePictureBox(FormWindow& form, rt::Control& control) {
  return std::make_unique<PictureBoxWindow>(form, control);
}

}  // namespace win32
