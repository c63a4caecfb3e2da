// Directory lists: an owner-drawn list box of the folders from the root down to the current one
// (open folder icons, indented by depth), then the current folder's sub-folders (closed icons).
// A double-click, or Enter on a highlighted folder, opens it.
#include <algorithm>

#include "controls.h"
#include "form_window.h"

namespace win32 {

namespace {

class DirList : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;

  void Create() override {
    CreateChild(L"ListBox", WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS |
                                LBS_NOINTEGRALHEIGHT,
                WS_EX_CLIENTEDGE);
    WindowDc dc(hwnd_);
    Selected sel(dc.get(), Font());
    TEXTMETRICW tm{};
    GetTextMetricsW(dc.get(), &tm);
    SendMessageW(hwnd_, LB_SETITEMHEIGHT, 0, std::max<LONG>(tm.tmHeight + 2, screen().Scaled(16)));
    Subclass();
  }

  void Changed() override {
    SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(hwnd_, LB_RESETCONTENT, 0, 0);
    for (const auto& item : Control().DirItems()) {
      SendMessageW(hwnd_, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.name.c_str()));
    }
    SendMessageW(hwnd_, LB_SETCURSEL, Control().ListIndex(), 0);
    SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
  }

  void Notified(int code) override {
    if (code == LBN_DBLCLK) OpenHighlighted();
  }

  void DrawItem(const DRAWITEMSTRUCT& di) override;

 protected:
  // Enter on a highlighted folder other than the current one opens it, as a double-click does;
  // on the current folder it goes on to the dialog's default button.
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override {
    if (msg == WM_GETDLGCODE && lp) {
      const MSG* m = reinterpret_cast<const MSG*>(lp);
      if (m->message == WM_KEYDOWN && m->wParam == VK_RETURN && Highlighted() >= 0) {
        result = DLGC_WANTALLKEYS;
        return true;
      }
    }
    if (msg == WM_KEYDOWN && wp == VK_RETURN && Highlighted() >= 0) {
      OpenHighlighted();
      result = 0;
      return true;
    }
    return false;
  }

 private:
  // The highlighted line when it is not the current folder, else -1.
  int Highlighted() const {
    const int sel = static_cast<int>(SendMessageW(hwnd_, LB_GETCURSEL, 0, 0));
    const bool other = sel >= 0 && static_cast<size_t>(sel) < Control().DirItems().size() && sel != Control().ListIndex();
    return other ? sel : -1;
  }

  void OpenHighlighted() {
    const int sel = static_cast<int>(SendMessageW(hwnd_, LB_GETCURSEL, 0, 0));
    if (sel < 0 || static_cast<size_t>(sel) >= Control().DirItems().size()) return;
    const std::wstring path = Control().DirItems()[static_cast<size_t>(sel)].path;  // SetPath replaces the items
    Control().SetPath(path);
  }
};

// A small folder: open for the folders of the current path, closed for the others.
void DirList::DrawItem(const DRAWITEMSTRUCT& di) {
  const auto& items = Control().DirItems();
  if (di.itemID == static_cast<UINT>(-1) || di.itemID >= items.size()) return;
  const rt::DirItem& item = items[di.itemID];
  const bool selected = (di.itemState & ODS_SELECTED) != 0;
  HDC dc = di.hDC;
  RECT r = di.rcItem;
  FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  const int unit = std::max(screen().Scaled(1), 1);
  const int indent = item.depth * 8 * unit;
  const int h = r.bottom - r.top;
  const int fx = r.left + 2 * unit + indent, fy = r.top + (h - 10 * unit) / 2;
  // In yellow, or with high contrast in the line's own colours: an outline on its background.
  const rt::Colour yellow = item.open ? rt::Colour::Rgb(255, 255, 160) : rt::Colour::Rgb(240, 210, 90);
  UniqueGdiObject body(CreateSolidBrush(ColourOf(yellow, yellow, selected ? Ink::Highlight : Ink::Window)));
  const rt::Colour brown = rt::Colour::Rgb(128, 96, 0);
  UniqueGdiObject pen(CreatePen(PS_SOLID, 1, ColourOf(brown, brown, selected ? Ink::HighlightText : Ink::WindowText)));
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

}  // namespace

std::unique_ptr<ControlWindow> MakeDirList(FormWindow& form, rt::Control& control) {
  return std::make_unique<DirList>(form, control);
}

}  // namespace win32
