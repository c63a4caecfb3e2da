// Drive lists: a drop-down list of the drives, "c: [label]".
#include "controls.h"
#include "form_window.h"

namespace win32 {

namespace {

class DriveList : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;

  void Create() override {
    // The window is as high as the box with its list dropped down; the closed box is as high as
    // its definition says.
    const int height = screen().Pixels(Control().Def().height);
    CreateChild(L"ComboBox", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_HASSTRINGS, 0,
                screen().Pixels(Control().Def().height * 8));
    RECT wr{};
    GetWindowRect(hwnd_, &wr);
    const int field = static_cast<int>(SendMessageW(hwnd_, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
    const int border = (wr.bottom - wr.top) - field;
    if (height - border > 4) SendMessageW(hwnd_, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), height - border);
  }

  void Changed() override {
    SendMessageW(hwnd_, CB_RESETCONTENT, 0, 0);
    for (const auto& item : Control().DriveItems()) {
      SendMessageW(hwnd_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    }
    SendMessageW(hwnd_, CB_SETCURSEL, Control().ListIndex(), 0);
  }

  void Notified(int code) override {
    if (code != CBN_SELCHANGE) return;
    const int sel = static_cast<int>(SendMessageW(hwnd_, CB_GETCURSEL, 0, 0));
    if (sel < 0 || static_cast<size_t>(sel) >= Control().DriveItems().size()) return;
    const std::wstring drive = Control().DriveItems()[static_cast<size_t>(sel)];  // SetDrive may refill the list
    Control().SetDrive(drive);
  }
};

}  // namespace

std::unique_ptr<ControlWindow> MakeDriveList(FormWindow& form, rt::Control& control) {
  return std::make_unique<DriveList>(form, control);
}

}  // namespace win32
