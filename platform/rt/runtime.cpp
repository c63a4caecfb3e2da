#include "runtime.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <new>

#include "../files.h"
#include "decimal.h"
#include "units.h"

namespace rt {

namespace {

bool SameName(const wchar_t* a, const wchar_t* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::towlower(*a) != std::towlower(*b)) return false;
  }
  return *a == *b;
}

std::wstring Widen(const char* s) {
  std::wstring w;
  for (; *s; ++s) w.push_back(static_cast<unsigned char>(*s));
  return w;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Control

Control::Control(Form& form, const ControlDef& def, int index) : form_(form), def_(def), index_(index) {
  ResetToDefinition();
}

Backend& Control::backend() const { return form_.App().GetBackend(); }

void Control::ResetToDefinition() {
  caption_ = def_.caption ? def_.caption : L"";
  enabled_ = def_.enabled;
  if (def_.kind == Kind::DriveList || def_.kind == Kind::DirList) list_ = std::make_unique<ListState>();
  CurrentX = CurrentY = 0;
}

void Control::SetCaption(const std::wstring& text) {
  caption_ = text;
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
}

void Control::Refresh() {
  if (form_.IsLoaded() && native) backend().RefreshControl(*this);
}

std::wstring Control::Text() const {
  if (def_.kind == Kind::TextBox && form_.IsLoaded() && native) return backend().ReadText(const_cast<Control&>(*this));
  return caption_;
}

void Control::SetText(const std::wstring& text) { SetCaption(text); }

void Control::SetSelection(int start, int length) {
  if (form_.IsLoaded() && native) backend().SetSelection(*this, start, length);
}

void Control::SetFocus() {
  if (form_.IsLoaded() && native) backend().SetFocus(*this);
}

void Control::Cls() {
  backend().PictureClear(*this);
  CurrentX = CurrentY = 0;
}

double Control::ScaleWidth() const { return backend().PictureScaleWidth(const_cast<Control&>(*this)); }
double Control::ScaleHeight() const { return backend().PictureScaleHeight(const_cast<Control&>(*this)); }

void Control::FillBox(double x1, double y1, double x2, double y2, Colour colour) {
  backend().PictureFillBox(*this, x1, y1, x2, y2, colour);
}

double Control::TextWidth(const std::wstring& text) const {
  return backend().PictureTextWidth(const_cast<Control&>(*this), text);
}

double Control::TextHeight(const std::wstring& text) const {
  return backend().PictureTextHeight(const_cast<Control&>(*this), text);
}

void Control::Print(const std::wstring& text) {
  backend().PicturePrint(*this, CurrentX, CurrentY, text);
  CurrentY += TextHeight(text);
  CurrentX = 0;
}

// ---------------------------------------------------------------------------------------------
// Form

Form::Form(Application& app, FormDef def) : app_(app), def_(std::move(def)) {
  for (size_t i = 0; i < def_.controls.size(); ++i) {
    controls_.push_back(std::make_unique<Control>(*this, def_.controls[i], static_cast<int>(i)));
  }
  for (auto& c : controls_) {
    if (c->Def().container) c->SetContainer(&(*this)[c->Def().container]);
  }
}

Form::~Form() {
  if (loaded_) app_.FormUnloaded(*this);
}

void Form::On(const wchar_t* control, Event event, Handler handler) {
  (void)(*this)[control];  // throws for a name that no control has
  bindings_.push_back(Binding{control, event, std::move(handler)});
}

void Form::Fire(const Control& control, Event event) {
  for (auto& b : bindings_) {
    if (b.event == event && SameName(b.control, control.Name())) {
      Application::Busy busy(app_);
      b.handler();
      return;
    }
  }
}

Control& Form::operator[](const wchar_t* name) {
  for (auto& c : controls_) {
    if (SameName(c->Name(), name)) return *c;
  }
  throw RuntimeError(ErrInternal, std::wstring(L"No control named ") + name + L" on " + def_.name);
}

void Form::Load() {
  if (loaded_) return;
  for (auto& c : controls_) c->ResetToDefinition();
  app_.GetBackend().CreateForm(*this);
  loaded_ = true;
  app_.FormLoaded(*this);
  for (auto& c : controls_) c->InitList();
  Application::Busy busy(app_);
  Form_Load();
}

void Form::Show() {
  Load();
  if (loaded_) app_.GetBackend().ShowForm(*this);
}

void Form::ShowModal() {
  Load();
  if (!loaded_) return;
  // Modal from before it is shown, so that the backend can take the input from the other
  // forms before this one appears.
  // Its message loop waits for the user at the present depth of handlers.
  struct ModalScope {
    Form& f;
    int outerLoopBusy;
    explicit ModalScope(Form& form) : f(form), outerLoopBusy(form.app_.loopBusy_) {
      f.modal_ = true;
      f.app_.modalStack_.push_back(&f);
      f.app_.loopBusy_ = f.app_.busy_;
    }
    ~ModalScope() {
      f.app_.loopBusy_ = outerLoopBusy;
      f.app_.modalStack_.pop_back();
      f.modal_ = false;
    }
  } scope(*this);
  app_.GetBackend().ShowForm(*this);
  app_.GetBackend().RunModal(*this);
}

void Form::Unload() {
  if (!loaded_) return;
  int cancel = 0;
  {
    Application::Busy busy(app_);
    Form_Unload(cancel);
  }
  if (cancel) return;
  if (!loaded_) return;  // the unload handler unloaded it already
  loaded_ = false;
  app_.GetBackend().DestroyForm(*this);
  for (auto& c : controls_) c->native = nullptr;
  native.reset();
  app_.FormUnloaded(*this);
}

void Form::Refresh() {
  if (loaded_) app_.GetBackend().RefreshForm(*this);
}

void Form::CloseFromFrame() {
  if (app_.TakesCloseRequest(*this)) Unload();
}

double Form::Left() const { return app_.GetBackend().FormRect(const_cast<Form&>(*this)).left; }
double Form::Top() const { return app_.GetBackend().FormRect(const_cast<Form&>(*this)).top; }
double Form::Width() const { return app_.GetBackend().FormRect(const_cast<Form&>(*this)).width; }
double Form::Height() const { return app_.GetBackend().FormRect(const_cast<Form&>(*this)).height; }

void Form::Move(double left, double top) { app_.GetBackend().MoveForm(*this, left, top); }

void Form::CentreOnScreen() {
  Position pos{};
  if (rt::CentreOnScreen(app_.ScreenWidth(), app_.ScreenHeight(), Width(), Height(), pos)) {
    Move(pos.left, pos.top);
  }
}

// ---------------------------------------------------------------------------------------------
// Application

Application::Application(Backend& backend, platform::FileSystem& files, std::wstring programFolder,
                         std::wstring title)
    : backend_(backend), files_(files), path_(std::move(programFolder)), title_(std::move(title)) {
  while (path_.size() > 2 && path_.back() == L'\\') path_.pop_back();
}

double Application::ScreenWidth() const { return backend_.ScreenWidthTwips(); }
double Application::ScreenHeight() const { return backend_.ScreenHeightTwips(); }

Form* Application::MessageOwner() const {
  for (auto it = modalStack_.rbegin(); it != modalStack_.rend(); ++it) {
    if ((*it)->IsLoaded()) return *it;
  }
  return loaded_.empty() ? nullptr : loaded_.back();
}

Form* Application::FormUnder(const Form& modal) const {
  for (auto it = modalStack_.rbegin(); it != modalStack_.rend(); ++it) {
    if (*it != &modal && (*it)->IsLoaded()) return *it;
  }
  return startup_ && startup_ != &modal && startup_->IsLoaded() ? startup_ : nullptr;
}

bool Application::TakesCloseRequest(const Form& form) const {
  if (busy_ != loopBusy_) return false;
  const Form* modal = ActiveModal();
  return !modal || modal == &form;
}

int Application::MsgBox(const std::wstring& text, int style, const std::wstring& title) {
  Busy busy(*this);
  return backend_.ShowMessage(MessageOwner(), text, title, style);
}

void Application::End(int exitCode) {
  backend_.EndProgram(exitCode);
  std::abort();  // a backend's end never returns
}

void Application::Run(Form& startup) {
  startup_ = &startup;
  Guard([&] { startup.Load(); });
  backend_.RunMainLoop(*this);
}

void Application::Guard(const std::function<void()>& action) {
  try {
    action();
  } catch (const RuntimeError& e) {
    ReportUncaught(L"Run-time error '" + Decimal(e.Number()) + L"':\n\n" + e.Description());
  } catch (const std::bad_alloc&) {
    ReportUncaught(L"Run-time error '7':\n\nOut of memory");
  } catch (const std::exception& e) {
    ReportUncaught(L"Run-time error:\n\n" + Widen(e.what()));
  }
}

Application::SessionEndRefusal::SessionEndRefusal(Form& form, std::wstring reason) : form_(form) {
  ++form_.App().sessionEndRefusals_;
  form_.App().GetBackend().RefuseSessionEnd(form_, reason);
}

Application::SessionEndRefusal::~SessionEndRefusal() {
  form_.App().GetBackend().AllowSessionEnd(form_);
  --form_.App().sessionEndRefusals_;
}

void Application::ReportUncaught(const std::wstring& text) {
  Busy busy(*this);
  sessionEndCode_ = 1;  // what the box ends with, should the session end while it is up
  backend_.ShowMessage(MessageOwner(), text, title_, mb::Critical);
  backend_.EndProgram(1);
  std::abort();
}

void Application::FormLoaded(Form& f) { loaded_.push_back(&f); }

void Application::FormUnloaded(Form& f) { loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), &f), loaded_.end()); }

}  // namespace rt
