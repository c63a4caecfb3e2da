// The runtime's backend on the Win32 screen.
//
// Every form is a FormWindow (form_window.h); windowed controls (buttons, frames, text boxes,
// lists, picture boxes) are real child windows and windowless ones (labels, lines, images) are
// painted by their container (controls.h). Modality, the message loops and message boxes are in
// modality.cpp; this class hands the runtime's calls to the records of the forms and controls.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "../rt/runtime.h"
#include "accessible.h"
#include "screen.h"

namespace win32 {

class FormWindow;

class Backend : public rt::Backend {
 public:
  // `dpi` 0: the screen's own resolution.
  explicit Backend(HINSTANCE instance, int dpi = 0);
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
  int Dpi() override { return screen_.dpi; }
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
  void RefuseSessionEnd(rt::Form& form, const std::wstring& reason) override;
  void AllowSessionEnd(rt::Form& form) override;

 private:
  // Every loaded form's window but `except`'s.
  std::vector<HWND> OtherWindows(const rt::Application& app, const rt::Form* except) const;
  void TakeInputFor(rt::Form& form);
  void Pump(rt::Application& app, MSG& msg);
  // Frees the records of unloaded forms that no running procedure uses any more. Called where
  // a dispatch has returned to one of the program's own loops.
  void FreeRetired();

  Accessibility accessibility_;
  Screen screen_;
  // Records of unloaded forms, taken down but still in use by a procedure on the stack.
  std::vector<std::unique_ptr<FormWindow>> retired_;
};

}  // namespace win32
