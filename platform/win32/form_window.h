// A form's window: a modeless dialog made from an empty in-memory template, so that the dialog
// manager gives it tab order, Enter for the default button and focus memory. It owns the records
// of its controls; its destructor takes the window down.
#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <vector>

#include "../rt/runtime.h"
#include "controls.h"
#include "handles.h"
#include "modality.h"
#include "screen.h"

namespace win32 {

class FormWindow : public rt::NativeForm {
 public:
  FormWindow(const Screen& screen, rt::Form& form);
  // Gives back the input a modal show took, then destroys the window while every record is
  // still there to answer its last messages.
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  // Creates the window, hidden, with its controls, owned by `owner` (none for the start-up form).
  // When this throws, the destructor takes down whatever was made.
  void Create(HWND owner);
  void Show();

  HWND Handle() const { return hwnd_; }
  rt::Form& Form() const { return form_; }
  const Screen& GetScreen() const { return screen_; }
  HBRUSH BackBrush() const { return backBrush_; }
  HFONT DefaultFont() const { return static_cast<HFONT>(defaultFont_.get()); }
  bool Closing() const { return closing_; }
  // The window of `container` (a frame), or the form's for none.
  HWND ContainerWindow(const rt::Control* container) const;

  // Paints the windowless controls of one container (nullptr: the form) into its DC.
  void PaintWindowless(const rt::Control* container, HDC dc, const RECT& dirty);
  // Messages the form and its frames handle for their children; false when `msg` is none of them.
  bool ContainerMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);

  // The input a modal show of this form took from the others, until the show ends.
  std::optional<InputTakenAway> modalInput;

  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR Answer(LRESULT result);
  void OnPaint();
  void OnCommand(WPARAM wp, LPARAM lp);
  ControlWindow* AtId(UINT id) const;
  void SetBackground();
  void SetIcon();
  void CreateControls();

  const Screen& screen_;
  rt::Form& form_;
  HWND hwnd_ = nullptr;
  HBRUSH backBrush_ = nullptr;  // a system colour brush (not owned) or ownBrush_
  UniqueGdiObject ownBrush_;
  UniqueFont defaultFont_;
  bool shown_ = false;
  bool closing_ = false;
  std::vector<std::unique_ptr<ControlWindow>> controls_;  // by control index
};

FormWindow& WindowOf(const rt::Form& form);

}  // namespace win32
