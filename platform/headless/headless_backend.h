// A backend without a display: it keeps each form's state, records what a user would see
// (windows, captions, drawing, message boxes) and plays scripted user actions whenever the program
// waits for the user. Wizard flows and the copy run are tested through it natively.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "../rt/runtime.h"

namespace headless {

// Thrown when the program waits for the user and the script has nothing left, or acts on a
// window that is not the one waiting. Not a std::exception: no error trap may swallow it.
struct Stall {
  std::wstring what;
};

struct MessageRecord {
  std::wstring owner;  // name of the form that owned the box, empty when none
  std::wstring text;
  std::wstring title;
  int style;
};

struct DrawOp {
  enum Op { Clear, Fill, Print } op;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  rt::Colour colour{};
  std::wstring text;
};

class Backend : public rt::Backend {
 public:
  // Scripted user: when `form` waits for input, `action` runs (typically one click).
  using Action = std::function<void(rt::Form&)>;
  void When(const std::wstring& form, Action action);
  // Convenience: click a button of the waiting form.
  void WhenClick(const std::wstring& form, const wchar_t* control);
  bool ScriptDone() const { return script_.empty(); }

  // User actions, delivered as the real backend delivers them (guarded event boundary).
  void Click(rt::Form& form, const wchar_t* control);
  void PressEnter(rt::Form& form);
  void CloseBox(rt::Form& form);
  // A close request from outside (another program's WM_CLOSE): it reaches `form` whichever form
  // has the input.
  void CloseRequest(rt::Form& form);
  // Runs once while the next message box is up, as a box's own message loop would deliver it.
  std::function<void()> whileMessageUp;
  void Type(rt::Form& form, const wchar_t* control, const std::wstring& text);
  void Focus(rt::Form& form, const wchar_t* control);
  void PickDrive(rt::Form& form, const wchar_t* control, int index);
  void OpenFolder(rt::Form& form, const wchar_t* control, int index);

  // What happened, in order: "load Welcome", "show Welcome", "modal Welcome", "unload Welcome",
  // "refresh SourceLabel", "end 0", ...
  std::vector<std::string> log;
  std::vector<MessageRecord> messages;
  std::map<std::wstring, std::vector<DrawOp>> drawing;  // picture box name -> operations since start
  std::map<std::wstring, bool> visible;                 // form name -> shown
  bool Contains(const std::string& entry) const;

  // The screen and text metrics the program sees.
  int dpi = 96;
  double screenWidthTwips = 1024 * 15.0;
  double screenHeightTwips = 768 * 15.0;
  double charWidthTwips = 90;
  double textHeightTwips = 195;
  double nonClientWidthTwips = 90;
  double nonClientHeightTwips = 360;
  double pictureBorderTwips = 30;
  std::map<std::wstring, std::pair<int, int>> selection;  // text box name -> (start, length)

  // rt::Backend
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
  int Dpi() override { return dpi; }
  double ScreenWidthTwips() override { return screenWidthTwips; }
  double ScreenHeightTwips() override { return screenHeightTwips; }
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
  struct Record : rt::NativeForm {
    std::vector<rt::NativeControl> controls;
  };
  struct Step {
    std::wstring form;
    Action action;
  };
  void Deliver(rt::Form& form, const std::function<void()>& action);
  void Play(rt::Form* waiting, rt::Application& app);
  std::deque<Step> script_;
  std::map<const rt::Form*, Rect> rects_;
  std::map<const rt::Control*, std::wstring> typed_;
};

std::string Narrow(const std::wstring& s);

}  // namespace headless
