// Labels, lines and images: painted by their container underneath every windowed control.
//
// Each label also has a Static window of its own that paints nothing and lets every click through,
// but carries the caption as its window text, so that screen readers and automation clients can
// read it. A decorative label's window (the copy under a title that makes its shadow) is hidden,
// so that a reader reads the title once.
#include "controls.h"
#include "form_window.h"

namespace win32 {

namespace {

class Label : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;

  void Create() override {
    CreateChild(L"Static", SS_LEFT | SS_NOPREFIX, 0);
    Subclass();
    if (Control().Def().decorative) ShowWindow(hwnd_, SW_HIDE);
  }

  void Changed() override {
    const bool renamed = hwnd_ && WindowText(hwnd_) != Control().Caption();
    ControlWindow::Changed();
    if (renamed) Form().LabelRenamed(Control());
    InvalidateBox();
  }

  // The box now, then whatever else in the container waits to be painted: windowed controls over
  // the box, and the gauge drawn since the last refresh.
  void Refresh() override {
    InvalidateBox();
    RedrawWindow(Container(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  }

  // The caption wrapped at word boundaries inside the label's fixed box.
  void PaintInto(HDC dc, const RECT& dirty) override {
    const rt::ControlDef& d = Control().Def();
    const RECT r = screen().PixelRect(d);
    RECT clip;
    if (!IntersectRect(&clip, &r, &dirty)) return;
    if (d.decorative && HighContrast()) return;  // high contrast leaves out what is only for looks
    if (!d.transparent) {
      if (d.back.IsDefault()) FillRect(dc, &r, Form().BackBrush());
      else FillSolid(dc, r, ColourOf(d.back, d.back, Ink::Window));
    }
    Selected sel(dc, Font());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColourOf(d.fore, rt::kButtonText, Ink::WindowText));
    const std::wstring& caption = Control().Caption();
    RECT box = r;
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &box,
              DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
  }

 protected:
  // The label's own window draws nothing: its container draws the caption, under the windowed
  // controls, with the background showing through.
  bool OnMessage(UINT msg, WPARAM, LPARAM, LRESULT& result) override {
    switch (msg) {
      case WM_PAINT: {
        PaintDc validated(hwnd_);
        result = 0;
        return true;
      }
      case WM_ERASEBKGND: result = 1; return true;
      case WM_NCHITTEST: result = HTTRANSPARENT; return true;
      default: return false;
    }
  }

 private:
  // A label's box is painted by its container. The label's own window is left out; windowed
  // controls that reach into the box are painted again after it, so that they stay on top.
  void InvalidateBox() {
    HWND container = Container();
    const RECT box = screen().PixelRect(Control().Def());
    RedrawWindow(container, &box, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_NOCHILDREN);
    for (auto& other : Control().Owner().Controls()) {
      if (rt::IsWindowless(other->GetKind()) || other->Container() != Control().Container()) continue;
      HWND h = WindowOf(*other).Handle();
      if (!h || !IsWindowVisible(h)) continue;
      RECT r{}, overlap{};
      GetWindowRect(h, &r);
      MapWindowPoints(nullptr, container, reinterpret_cast<POINT*>(&r), 2);
      if (IntersectRect(&overlap, &r, &box)) {
        RedrawWindow(h, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
      }
    }
  }
};

// A line from (left, top) to (width, height), both ends drawn.
class Line : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;
  void Create() override {}
  void PaintInto(HDC dc, const RECT&) override {
    const rt::ControlDef& d = Control().Def();
    const int x1 = screen().Pixels(d.left), y1 = screen().Pixels(d.top);
    const int x2 = screen().Pixels(d.width), y2 = screen().Pixels(d.height);
    UniqueGdiObject pen(CreatePen(PS_SOLID, 1, ColourOf(d.fore, rt::kWindowText, Ink::WindowText)));
    Selected sel(dc, pen.get());
    MoveToEx(dc, x1, y1, nullptr);
    LineTo(dc, x2 + (x2 >= x1 ? 1 : -1), y2);  // LineTo leaves out the last point
  }
};

class Image : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;
  void Create() override { picture_.Load(screen().instance, Control().Def().picture); }
  void PaintInto(HDC dc, const RECT& dirty) override {
    const RECT r = screen().PixelRect(Control().Def());
    RECT clip;
    if (IntersectRect(&clip, &r, &dirty)) DrawPicture(dc, picture_, r, Control().Def().stretch);
  }

 private:
  Picture picture_;
};

}  // namespace

std::unique_ptr<ControlWindow> MakeLabel(FormWindow& form, rt::Control& control) {
  return std::make_unique<Label>(form, control);
}
std::unique_ptr<ControlWindow> MakeLine(FormWindow& form, rt::Control& control) {
  return std::make_unique<Line>(form, control);
}
std::unique_ptr<ControlWindow> MakeImage(FormWindow& form, rt::Control& control) {
  return std::make_unique<Image>(form, control);
}

}  // namespace win32
