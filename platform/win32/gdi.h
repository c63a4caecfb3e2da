// Drawing helpers and owners for device contexts: each DC is given back by its owner's destructor,
// also when the drawing between throws.
#pragma once

#include <windows.h>

#include "handles.h"

namespace win32 {

// Selects an object into a DC for one scope.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~Selected() {
    if (old_) SelectObject(dc_, old_);
  }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// The DC of a window (or of the whole screen, for a null window) for one scope.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// One WM_PAINT: BeginPaint now, EndPaint at the end of the scope. When painting fails, the paint
// still ends before the failure is reported, so that the window is valid again and no second
// WM_PAINT arrives inside the error box's own message loop.
class PaintDc {
 public:
  explicit PaintDc(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &ps_)) {}
  ~PaintDc() { EndPaint(hwnd_, &ps_); }
  PaintDc(const PaintDc&) = delete;
  PaintDc& operator=(const PaintDc&) = delete;
  HDC get() const { return dc_; }
  const RECT& Dirty() const { return ps_.rcPaint; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_;
};

// A bitmap from the program's resources and its size in pixels.
struct Picture {
  UniqueGdiObject bitmap;
  SIZE size{};
  void Load(HINSTANCE instance, int id);
  explicit operator bool() const { return static_cast<bool>(bitmap); }
};

void FillSolid(HDC dc, const RECT& r, COLORREF colour);
// Draws the picture at the box's top-left corner in its own size, or stretched over the box.
void DrawPicture(HDC dc, const Picture& picture, const RECT& box, bool stretch);

}  // namespace win32
