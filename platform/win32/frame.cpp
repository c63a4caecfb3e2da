// Frames: an etched box with the caption in its top edge, holding other controls.
//
// Neither frames nor forms clip their children (no WS_CLIPCHILDREN): the labels inside them are
// painted by the container itself, underneath the windowed controls, and the label's own window
// must not cut a hole into that painting.
#include "boundary.h"
#include "controls.h"
#include "form_window.h"

namespace win32 {

namespace {

class Frame : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;

  void Create() override { CreateChild(kFrameClass, 0, WS_EX_CONTROLPARENT); }

  void Changed() override {
    ControlWindow::Changed();
    InvalidateRect(hwnd_, nullptr, TRUE);
  }

 protected:
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
    switch (msg) {
      case WM_ERASEBKGND: {
        RECT r{};
        GetClientRect(hwnd_, &r);
        FillRect(reinterpret_cast<HDC>(wp), &r, Form().BackBrush());
        result = 1;
        return true;
      }
      case WM_PAINT: {
        PaintDc dc(hwnd_);
        PaintEdge(dc.get());
        Form().PaintWindowless(&Control(), dc.get(), dc.Dirty());
        result = 0;
        return true;
      }
      default: return Form().ContainerMessage(msg, wp, lp, result);
    }
  }

 private:
  void PaintEdge(HDC dc) {
    RECT cr{};
    GetClientRect(hwnd_, &cr);
    Selected sel(dc, Font());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    RECT edge = cr;
    edge.top += tm.tmHeight / 2;
    DrawEdge(dc, &edge, EDGE_ETCHED, BF_RECT);
    const std::wstring& caption = Control().Caption();
    if (caption.empty()) return;
    SIZE s{};
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &s);
    const int x = screen().Scaled(8);
    RECT behind{x - 2, 0, std::min<LONG>(x + s.cx + 2, cr.right - 2), tm.tmHeight};
    FillRect(dc, &behind, Form().BackBrush());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColourOf(Control().Def().fore, rt::kButtonText, Ink::WindowText));
    RECT text{x, 0, behind.right, tm.tmHeight};
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &text, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
  }
};

}  // namespace

std::unique_ptr<ControlWindow> MakeFrame(FormWindow& form, rt::Control& control) {
  return std::make_unique<Frame>(form, control);
}

}  // namespace win32
