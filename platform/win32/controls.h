// The native record of each control kind: its window (none for lines and images), its font and
// what the kind needs to paint and to answer the system. The record is bound to its window
// (GWLP_USERDATA) until the window's last message, WM_NCDESTROY: from WM_NCCREATE on for the
// runtime's own classes, and from just after creation for subclassed system controls, whose
// creation messages go to the system's procedure alone.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "../rt/runtime.h"
#include "gdi.h"
#include "handles.h"
#include "screen.h"

namespace win32 {

class FormWindow;
class GaugeAccessible;

// Control windows are numbered from here in the order of the form's table.
constexpr UINT kFirstControlId = 1000;

class ControlWindow : public rt::NativeControl {
 public:
  ControlWindow(FormWindow& form, rt::Control& control);

  // Creates the control's window in its container; windowless kinds make only what they paint.
  virtual void Create() = 0;
  // The control's caption, text or list changed.
  virtual void Changed();
  // Repaints the control at once.
  virtual void Refresh();
  // A notification (the code of a WM_COMMAND) from the control's window.
  virtual void Notified(int /*code*/) {}
  // Windowless kinds paint themselves into their container's DC.
  virtual void PaintInto(HDC /*dc*/, const RECT& /*dirty*/) {}
  // Owner-drawn kinds draw one item.
  virtual void DrawItem(const DRAWITEMSTRUCT& /*item*/) {}
  // The label that names this control has a new caption.
  void Renamed();
  // The system's colours or high contrast changed: what the control keeps drawn is drawn again.
  virtual void ColoursChanged() {}

  rt::Control& Control() const { return control_; }
  FormWindow& Form() const { return form_; }
  HWND Handle() const { return hwnd_; }
  int Id() const;
  HFONT Font() const;

  // The procedure of the runtime's own window classes and of subclassed system controls.
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

 protected:
  const Screen& screen() const;
  // The window of the frame that holds the control, or the form's.
  HWND Container() const;
  // Creates the child window with the control's caption, position, enabled state and font.
  // Windows go to the bottom of the z-order as they are made, in tab order: the dialog manager
  // walks the z-order for Tab, so z-order equals tab order.
  void CreateChild(const wchar_t* cls, DWORD style, DWORD exStyle, int height = -1);
  // Puts Proc in front of a system control's own procedure and binds the window to this record
  // (once: a window that has Proc already is left as it is).
  void Subclass();
  // The kind's own handling of a message to its window; false leaves it to the system.
  virtual bool OnMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, LRESULT& /*result*/) { return false; }
  // A screen reader's WM_GETOBJECT; false leaves it to the system. A control named by a label
  // has the system's object named by the label's caption.
  virtual bool ReaderAsks(WPARAM wp, LPARAM lp, LRESULT& result);
  // The window's last message (WM_NCDESTROY), before the system's procedure frees what it keeps.
  virtual void WindowGone() noexcept;

  HWND hwnd_ = nullptr;
  UniqueFont font_;

 private:
  LRESULT Default(UINT msg, WPARAM wp, LPARAM lp);
  // The caption of the label that names this control (not for a control without one).
  const std::wstring& LabelCaption() const;
  FormWindow& form_;
  rt::Control& control_;
  WNDPROC original_ = nullptr;
  bool annotated_ = false;  // the system's object is named by annotation
};

// The record of a control on a loaded form.
ControlWindow& WindowOf(const rt::Control& control);

// The text of a window of this program.
std::wstring WindowText(HWND h);

// The window classes of the runtime's own controls (frames and picture boxes).
void RegisterControlClasses(HINSTANCE instance);
extern const wchar_t kFrameClass[];
extern const wchar_t kPictureClass[];

// One record per kind, made for a control of that kind.
std::unique_ptr<ControlWindow> MakeControlWindow(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakeLabel(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakeLine(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakeImage(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakeFrame(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakePictureBox(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakeDirList(FormWindow& form, rt::Control& control);
std::unique_ptr<ControlWindow> MakeDriveList(FormWindow& form, rt::Control& control);

// Picture boxes: drawing goes into the box's persistent image; the box paints from it. The image
// is drawn again, with the colours then in force, when the user's colours change.
class PictureBoxWindow : public ControlWindow {
 public:
  using ControlWindow::ControlWindow;
  ~PictureBoxWindow() override;
  void Create() override;
  void Clear();
  double ScaleWidth() const { return screen().Twips(imageSize_.cx); }
  double ScaleHeight() const { return screen().Twips(imageSize_.cy); }
  void FillBox(double x1, double y1, double x2, double y2, rt::Colour colour);
  SIZE TextExtent(const std::wstring& text) const;
  void Print(double x, double y, const std::wstring& text);
  void ColoursChanged() override;

 protected:
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) override;
  bool ReaderAsks(WPARAM wp, LPARAM lp, LRESULT& result) override;
  void WindowGone() noexcept override;

 private:
  // One drawing call since the box was last cleared: a box filled in a colour, or a text
  // printed at a point (the box's top-left corner), in pixels.
  struct Drawn {
    bool isText;
    RECT box;
    rt::Colour colour;
    std::wstring text;
  };
  void Draw(const Drawn& d);
  void Redraw();
  void ImageChanged();
  void Paint();
  void LetGaugeGo() noexcept;
  Picture picture_;
  UniqueDc imageDc_;  // the persistent image, for boxes that are drawn on
  UniqueGdiObject imageBitmap_;
  HGDIOBJ imageOldBitmap_ = nullptr;
  SIZE imageSize_{};
  bool imagePending_ = false;  // the image has changed since the box last painted it
  std::vector<Drawn> drawn_;   // what the image shows over its background, in order
  UniqueGdiObject filled_;     // the region that the filled boxes cover
  GaugeAccessible* gauge_ = nullptr;  // a gauge's object for readers, once one asked (a reference)
};

}  // namespace win32
