// A form's window: a modeless dialog made from an empty in-memory template, so that the dialog
// manager gives it tab order, Enter for the default button and focus memory. It owns the records
// of its controls.
//
// Unloading takes the window down at once (TakeDown), but the record itself lives on until no
// procedure of it or of its controls is running: a handler may unload its own form, and the
// procedure that ran the handler still has to return through the record.
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
  // Takes the window down if that has not been done.
  ~FormWindow() override;
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  // Creates the window, hidden, with its controls, owned by `owner` (none for the start-up form).
  // When this throws, the destructor takes down whatever was made.
  void Create(HWND owner);
  void Show();
  // Gives back the input a modal show took (so that activation goes to the window under this
  // one), unbinds the records from the runtime's controls and destroys the window with its
  // controls' windows. After it the record answers no message and touches no runtime object.
  void TakeDown();
  // Makes `owner` the window this one stays above and returns to when it goes.
  void SetOwner(HWND owner);
  // Gives the focus to the default button, if the form has an enabled one.
  void FocusDefaultButton();

  // Whether a procedure of this record or of one of its controls' records is running.
  bool InUse() const { return inUse_ > 0; }
  // Marks such a procedure for as long as it lives.
  struct Entered : rt::ScopedCount {
    explicit Entered(FormWindow& w) : ScopedCount(w.inUse_) {}
  };

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
  // The controls named by `label` have a new name.
  void LabelRenamed(const rt::Control& label);

  // The input a modal show of this form took from the others, until the show ends.
  std::optional<InputTakenAway> modalInput;

  static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 private:
  INT_PTR OnMessage(UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR Answer(LRESULT result);
  void OnActivate(bool active);
  void OnPaint();
  void OnCommand(WPARAM wp, LPARAM lp);
  ControlWindow* AtId(UINT id) const;
  HWND FirstStop() const;
  void SetBackground();
  void ColoursChanged();
  void SetIcon();
  void CreateControls();

  const Screen& screen_;
  rt::Form& form_;
  HWND hwnd_ = nullptr;
  HBRUSH backBrush_ = nullptr;  // a system colour brush (not owned) or ownBrush_
  UniqueGdiObject ownBrush_;
  UniqueFont defaultFont_;
  bool shown_ = false;
  bool activated_ = false;
  bool closing_ = false;  // taken down, or going
  int inUse_ = 0;
  std::vector<std::unique_ptr<ControlWindow>> controls_;  // by control index
};

FormWindow& WindowOf(const rt::Form& form);

}  // namespace win32
