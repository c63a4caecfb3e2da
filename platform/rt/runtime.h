// The windowing runtime: forms with named controls, event handlers, loading and unloading,
// modeless and modal showing, message boxes, the application and screen objects and the end
// statement. The portable logic lives here; a Backend puts it on the screen (Win32) or records it
// (headless, for tests).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "../folder_lists.h"
#include "definitions.h"
#include "errors.h"
#include "scoped_count.h"

namespace platform {
class FileSystem;
}

namespace rt {

class Application;
class Backend;
class Form;

// What a backend keeps for a loaded form or one of its controls (its window, for example). The
// backend makes it when it creates the form; the form owns it until it is unloaded.
class NativeControl {
 public:
  virtual ~NativeControl() = default;
};
class NativeForm {
 public:
  virtual ~NativeForm() = default;
};

enum class Event : uint8_t { Click, Change, GotFocus, LostFocus };

// Message box styles (the values of the Win32 MB_* constants).
namespace mb {
constexpr int OkOnly = 0;
constexpr int Critical = 16;
constexpr int Exclamation = 48;
}  // namespace mb

// One line of a directory list: the folders of the current path (open), then its sub-folders.
using DirItem = platform::FolderLine;

class Control {
 public:
  Control(Form& form, const ControlDef& def, int index);

  const ControlDef& Def() const { return def_; }
  const wchar_t* Name() const { return def_.name; }
  Kind GetKind() const { return def_.kind; }
  Form& Owner() const { return form_; }
  int Index() const { return index_; }
  Control* Container() const { return container_; }

  // Labels, buttons, frames.
  const std::wstring& Caption() const { return caption_; }
  void SetCaption(const std::wstring& text);
  // Repaints the control at once.
  void Refresh();
  bool Enabled() const { return enabled_; }

  // Text boxes.
  std::wstring Text() const;
  void SetText(const std::wstring& text);
  void SetSelection(int start, int length);
  void SetFocus();

  // Picture boxes: the drawing surface, in twips from the top-left of the drawing area.
  void Cls();
  double ScaleWidth() const;
  double ScaleHeight() const;
  void FillBox(double x1, double y1, double x2, double y2, Colour colour);
  double TextWidth(const std::wstring& text) const;
  double TextHeight(const std::wstring& text) const;
  double CurrentX = 0;
  double CurrentY = 0;
  void Print(const std::wstring& text);

  // Directory lists.
  const std::wstring& Path() const { return List().path; }
  void SetPath(const std::wstring& folder);
  const std::vector<DirItem>& DirItems() const { return List().dirItems; }
  // Drive lists: the drive as "c: [label]". SetDrive takes a drive or a path on one; a network
  // path (\\server\share) selects no drive.
  const std::wstring& Drive() const { return List().drive; }
  void SetDrive(const std::wstring& drive);
  const std::vector<std::wstring>& DriveItems() const { return List().driveItems; }
  int ListIndex() const { return List().index; }

  // Backend side: the control's record in its form's NativeForm while the form is loaded.
  NativeControl* native = nullptr;
  void ResetToDefinition();
  void SetContainer(Control* c) { container_ = c; }
  // Lists start on the current drive and directory, without a Change event.
  void InitList();
  void StoreTypedText(const std::wstring& t) { caption_ = t; }

 private:
  // What a drive or directory list holds; other kinds have none.
  struct ListState {
    std::wstring path;   // directory lists
    std::wstring drive;  // drive lists
    std::vector<DirItem> dirItems;
    std::vector<std::wstring> driveItems;
    int index = -1;  // the current line
  };
  ListState& List() const;
  void FillDriveList();
  // The drive list's line for drive `letter`, -1 for none.
  int DriveIndex(wchar_t letter) const;
  void FillDirList(const std::wstring& folder);
  Backend& backend() const;
  Form& form_;
  const ControlDef& def_;
  int index_;
  Control* container_ = nullptr;
  std::wstring caption_;
  bool enabled_ = true;
  std::unique_ptr<ListState> list_;
};

class Form {
 public:
  Form(Application& app, FormDef def);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const FormDef& Def() const { return def_; }
  const wchar_t* Name() const { return def_.name; }
  Application& App() const { return app_; }

  // Loads the form if it is not loaded: creates its window (hidden) and runs Form_Load at once.
  void Load();
  // Shows the form, loading it first. A modal show returns only when the form has been unloaded.
  void Show();
  void ShowModal();
  // Runs Form_Unload (which may cancel), then destroys the window. Unloading discards every change
  // to the controls: the next load starts from the definition again.
  void Unload();
  // Repaints the whole form at once.
  void Refresh();

  bool IsLoaded() const { return loaded_; }
  bool IsModal() const { return modal_; }

  // The window's outer rectangle in twips.
  double Left() const;
  double Top() const;
  double Width() const;
  double Height() const;
  void Move(double left, double top);

  // Places the window in the middle of the screen (top first, then left).
  void CentreOnScreen();

  Control& operator[](const wchar_t* name);
  std::vector<std::unique_ptr<Control>>& Controls() { return controls_; }

  // Dispatches an event to its handler, if the form has one; errors propagate to the caller.
  void Fire(const Control& control, Event event);
  // A close request (the close box, the system menu, another program's WM_CLOSE): unloads the
  // form, unless its input is taken away (see Application::TakesCloseRequest).
  void CloseFromFrame();

 protected:
  virtual void Form_Load() {}
  virtual void Form_Unload(int& /*cancel*/) {}
  using Handler = std::function<void()>;
  // Binds a handler to a control's event; a name that no control of the form has is refused
  // here, when the form is defined, rather than leaving a handler that never runs.
  void On(const wchar_t* control, Event event, Handler handler);

 private:
  struct Binding {
    const wchar_t* control;
    Event event;
    Handler handler;
  };
  Application& app_;
  FormDef def_;
  std::vector<std::unique_ptr<Control>> controls_;
  std::vector<Binding> bindings_;
  bool loaded_ = false;
  bool modal_ = false;

 public:
  // The backend's record of the loaded form; empty while it is not loaded. Declared after the
  // controls so that a form destroyed while loaded drops its record (which may still speak to
  // the controls) before the controls go.
  std::unique_ptr<NativeForm> native;
};

// The runtime's application object, screen object, message boxes and the end statement.
class Application {
 public:
  Application(Backend& backend, platform::FileSystem& files, std::wstring programFolder,
              std::wstring title);

  Backend& GetBackend() { return backend_; }
  platform::FileSystem& Files() { return files_; }

  // The program's folder, without a trailing backslash (a drive root is "D:").
  const std::wstring& Path() const { return path_; }
  const std::wstring& Title() const { return title_; }

  double ScreenWidth() const;
  double ScreenHeight() const;

  int MsgBox(const std::wstring& text, int style, const std::wstring& title);
  // Ends the program at once with `exitCode`: no further handler runs.
  [[noreturn]] void End(int exitCode);

  // Loads the start-up form (running its load handler) and then serves the windows until none is
  // loaded: it returns only when the user has closed every window (or the system asked the
  // program to quit).
  void Run(Form& startup);

  // Runs `action` at an event boundary: what no handler caught is reported in the runtime's own
  // message box, and the program ends.
  void Guard(const std::function<void()>& action);
  [[noreturn]] void ReportUncaught(const std::wstring& text);

  // Form bookkeeping for the backend.
  void FormLoaded(Form& f);
  void FormUnloaded(Form& f);
  const std::vector<Form*>& LoadedForms() const { return loaded_; }
  Form* StartupForm() const { return startup_; }
  // The window a message box belongs to: the innermost loaded modal form, else the last loaded.
  Form* MessageOwner() const;
  Form* ActiveModal() const { return modalStack_.empty() ? nullptr : modalStack_.back(); }
  // The form a modal show of `modal` goes over: the innermost other loaded modal form, else the
  // start-up form (nullptr when that is not loaded either).
  Form* FormUnder(const Form& modal) const;

  // A close request reaches a form only when the form has the input: it is the innermost modal
  // form (or no form is modal), and the program is waiting for the user in that form's message
  // loop, not busy in a handler (a copy run, a message box) that delivered the request on its way.
  bool TakesCloseRequest(const Form& form) const;

  // A session end: the user logs off, or the system shuts down or restarts. The system asks first,
  // and is told no while a SessionEndRefusal lives; when the session ends all the same, or was not
  // refused, the program ends with the code last set here (as when the user leaves it).
  void SetSessionEndCode(int exitCode) { sessionEndCode_ = exitCode; }
  bool SessionMayEnd() const { return sessionEndRefusals_ == 0; }
  [[noreturn]] void SessionEnds() { End(sessionEndCode_); }

  // Refuses a session end for as long as it lives, with a reason that the system shows the user
  // for `form`'s window.
  class SessionEndRefusal {
   public:
    SessionEndRefusal(Form& form, std::wstring reason);
    ~SessionEndRefusal();
    SessionEndRefusal(const SessionEndRefusal&) = delete;
    SessionEndRefusal& operator=(const SessionEndRefusal&) = delete;

   private:
    Form& form_;
  };

  // Counts a handler or a message box in progress for as long as it lives.
  struct Busy : ScopedCount {
    explicit Busy(Application& app) : ScopedCount(app.busy_) {}
  };

 private:
  friend class Form;  // a modal show opens a message loop of its own
  Backend& backend_;
  platform::FileSystem& files_;
  std::wstring path_;
  std::wstring title_;
  std::vector<Form*> loaded_;
  std::vector<Form*> modalStack_;
  Form* startup_ = nullptr;
  int busy_ = 0;      // handlers and message boxes in progress
  int loopBusy_ = 0;  // busy_ where the innermost message loop waits for the user
  int sessionEndCode_ = 0;
  int sessionEndRefusals_ = 0;
};

// What a form and its controls need from the screen.
class Backend {
 public:
  virtual ~Backend() = default;

  virtual void CreateForm(Form& form) = 0;
  virtual void DestroyForm(Form& form) = 0;
  virtual void ShowForm(Form& form) = 0;
  // Disables the other forms and serves events until `form` is unloaded; then re-enables them.
  virtual void RunModal(Form& form) = 0;
  // Serves events until no form is loaded.
  virtual void RunMainLoop(Application& app) = 0;
  virtual void RefreshForm(Form& form) = 0;

  virtual void ControlChanged(Control& control) = 0;  // caption, text or list contents changed
  virtual void RefreshControl(Control& control) = 0;
  virtual std::wstring ReadText(Control& control) = 0;
  virtual void SetSelection(Control& control, int start, int length) = 0;
  virtual void SetFocus(Control& control) = 0;

  virtual int Dpi() = 0;
  virtual double ScreenWidthTwips() = 0;
  virtual double ScreenHeightTwips() = 0;
  struct Rect {
    double left, top, width, height;
  };
  virtual Rect FormRect(Form& form) = 0;
  virtual void MoveForm(Form& form, double left, double top) = 0;

  virtual void PictureClear(Control& box) = 0;
  virtual double PictureScaleWidth(Control& box) = 0;
  virtual double PictureScaleHeight(Control& box) = 0;
  virtual void PictureFillBox(Control& box, double x1, double y1, double x2, double y2, Colour colour) = 0;
  virtual double PictureTextWidth(Control& box, const std::wstring& text) = 0;
  virtual double PictureTextHeight(Control& box, const std::wstring& text) = 0;
  virtual void PicturePrint(Control& box, double x, double y, const std::wstring& text) = 0;

  virtual int ShowMessage(Form* owner, const std::wstring& text, const std::wstring& title, int style) = 0;
  // Tells the system why a session end is refused now, for the form's window; and that it is not.
  virtual void RefuseSessionEnd(Form& form, const std::wstring& reason) = 0;
  virtual void AllowSessionEnd(Form& form) = 0;
  [[noreturn]] virtual void EndProgram(int exitCode) = 0;
};

}  // namespace rt
