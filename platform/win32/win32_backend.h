// The runtime's backend on the Win32 screen.
//
// Every form is a modeless dialog window made from an empty in-memory template, so that the
// dialog manager gives it tab order, Enter for the default button and focus memory. Windowed
// controls (buttons, frames, text boxes, lists, picture boxes) are real child windows. Windowless
// controls (labels, lines, images) are painted by their container underneath them; each label
// also exists as a Static child that paints nothing but carries the caption as its window text,
// so that screen readers and automation clients can read it.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../rt/runtime.h"
#include "handles.h"

namespace win32 {

class Backend : public rt::Backend {
 public:
  explicit Backend(HINSTANCE instance);
  ~Backend() override;

  void CreateForm(rt::Form& form) override;
  void DestroyForm(rt::Form& form) override;
  void ShowForm(rt::Form& form) override;
  void RunModal(rt::Form& form) override;
  void RunMainLoop(rt::Application& app) override;
  void RefreshForm(rt::Form& form) override;
  void ControlChanged(rt::Control& control) override;
  void RefreshControl(rt::Control& control) override;
  std::wstring ReadText(rt::Control& control) override;
  void SetSelection(rt::Control& control, int start, int length) override;
  void SetFocus(rt::Control& control) override;
  int Dpi() override { return dpi_; }
  double ScreenWidthTwips() override;
  double ScreenHeightTwips() override;
  Rect FormRect(rt::Form& form) override;
  void MoveForm(rt::Form& form, double left, double top) override;
  void PictureClear(rt::Control& box) override;
  double PictureScaleWidth(rt::Control& box) override;
  double PictureScaleHeight(rt::Control& box) override;
  void PictureFillBox(rt::Control& box, double x1, double y1, double x2, double y2, rt::Colour colour) override;
  double PictureTextWidth(rt::Control& box, const std::wstring& text) override;
  double PictureTextHeight(rt::Control& box, const std::wstring& text) override;
  void PicturePrint(rt::Control& box, double x, double y, const std::wstring& text) override;
  int ShowMessage(rt::Form* owner, const std::wstring& text, const std::wstring& title, int style) override;
  [[noreturn]] void EndProgram(int exitCode) override;

  // Window procedures (static: they are called by the system).
  static INT_PTR CALLBACK FormProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK PictureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK LabelStubProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  static LRESULT CALLBACK DirListProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

  struct FormNative;
  struct ControlNative;

 private:
  FormNative& F(rt::Form& form);
  void DisableOthersFor(rt::Form& form, FormNative& fn);
  ControlNative& C(rt::Control& control);
  HWND ContainerWindow(rt::Control& control);
  RECT PixelRect(const rt::ControlDef& d) const;
  HFONT MakeFont(const rt::Font& font);
  void CreateControl(rt::Form& form, rt::Control& control);
  void PaintWindowless(rt::Form& form, rt::Control* container, HDC dc, const RECT& dirty);
  void PaintFrame(rt::Control& frame, HDC dc);
  void ImageChanged(ControlNative& n);
  void InvalidateLabelBox(rt::Control& label);
  void DrawDirItem(rt::Control& list, const DRAWITEMSTRUCT& di);
  INT_PTR HandleFormMessage(rt::Form& form, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled);
  LRESULT HandleChildMessage(rt::Form& form, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, bool& handled);
  void OnCommand(rt::Form& form, WPARAM wp, LPARAM lp);
  void Pump(MSG& msg);
  COLORREF Resolve(rt::Colour c, COLORREF fallback) const;
  void FlushPaint(rt::Form& form);

  HINSTANCE instance_;
  int dpi_ = 96;
  std::map<const rt::Form*, std::unique_ptr<FormNative>> forms_;
  std::map<const rt::Control*, std::unique_ptr<ControlNative>> controls_;
  rt::Application* app_ = nullptr;
};

}  // namespace win32
