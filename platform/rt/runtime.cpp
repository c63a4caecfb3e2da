#include "runtime.h"

#include <algorithm>
#include <cstdlib>
#include <cwctype>
#include <new>

#include "../files.h"
#include "../path_rules.h"
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

// "C:\" for "C:", "C:\", "c:\x" ... ; empty when the text names no drive.
std::wstring DriveRootOf(const std::wstring& s) {
  const wchar_t letter = platform::DriveLetterOf(s);
  if (!letter) return {};
  return std::wstring{letter, L':', L'\\'};
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
  path_.clear();
  drive_.clear();
  dirItems_.clear();
  driveItems_.clear();
  listIndex_ = -1;
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

void Control::FillDriveList() {
  driveItems_.clear();
  for (const auto& d : form_.App().Files().Drives()) {
    std::wstring item{static_cast<wchar_t>(std::towlower(d.letter)), L':'};
    if (!d.label.empty()) item += L" [" + d.label + L"]";
    driveItems_.push_back(item);
  }
}

void Control::SetDrive(const std::wstring& drive) {
  if (driveItems_.empty()) FillDriveList();
  const std::wstring root = DriveRootOf(drive);
  if (root.empty() && drive.rfind(L"\\\\", 0) == 0) {
    // A network folder (\\server\share\...) is on no drive: the list shows none, as when it was
    // loaded in such a folder.
    listIndex_ = -1;
    drive_.clear();
    if (form_.IsLoaded() && native) backend().ControlChanged(*this);
    return;
  }
  if (root.empty()) throw RuntimeError(ErrDeviceUnavailable, L"Device unavailable: " + drive);
  int found = -1;
  for (size_t i = 0; i < driveItems_.size(); ++i) {
    if (std::towupper(driveItems_[i][0]) == static_cast<wint_t>(root[0])) found = static_cast<int>(i);
  }
  if (found < 0) throw RuntimeError(ErrDeviceUnavailable, L"Device unavailable: " + root.substr(0, 2));
  const bool changed = found != listIndex_;
  listIndex_ = found;
  drive_ = driveItems_[found];
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
  if (changed) form_.Fire(*this, Event::Change);
}

void Control::FillDirList() {
  // The chain of open folders from the root down to the current one, then its sub-folders.
  std::vector<DirItem> items;
  const std::wstring& p = path_;
  std::wstring prefix;
  size_t pos = 0;
  int depth = 0;
  if (p.size() >= 3 && p[1] == L':') {
    prefix = p.substr(0, 3);
    pos = 3;
  } else if (p.rfind(L"\\\\", 0) == 0) {
    // \\server\share\ is the root of a network path.
    size_t a = p.find(L'\\', 2);
    size_t b = a == std::wstring::npos ? std::wstring::npos : p.find(L'\\', a + 1);
    prefix = b == std::wstring::npos ? p + L"\\" : p.substr(0, b + 1);
    pos = prefix.size();
  }
  items.push_back(DirItem{prefix, prefix, depth++, true});
  std::wstring cur = prefix;
  while (pos < p.size()) {
    size_t next = p.find(L'\\', pos);
    std::wstring part = p.substr(pos, next == std::wstring::npos ? std::wstring::npos : next - pos);
    pos = next == std::wstring::npos ? p.size() : next + 1;
    if (part.empty()) continue;
    cur += (cur.back() == L'\\' ? L"" : L"\\") + part;
    items.push_back(DirItem{part, cur, depth++, true});
  }
  listIndex_ = static_cast<int>(items.size()) - 1;
  for (const auto& sub : form_.App().Files().SubFolders(path_)) {
    items.push_back(DirItem{sub, cur + (cur.back() == L'\\' ? L"" : L"\\") + sub, depth, false});
  }
  dirItems_ = std::move(items);
}

void Control::InitList() {
  const std::wstring cur = form_.App().Files().CurrentDirectory();
  if (def_.kind == Kind::DriveList) {
    FillDriveList();
    const std::wstring root = DriveRootOf(cur);
    for (size_t i = 0; i < driveItems_.size(); ++i) {
      if (!root.empty() && std::towupper(driveItems_[i][0]) == static_cast<wint_t>(root[0])) {
        listIndex_ = static_cast<int>(i);
        drive_ = driveItems_[i];
      }
    }
  } else if (def_.kind == Kind::DirList) {
    path_ = cur;
    if (path_.size() > 3 && path_.back() == L'\\') path_.pop_back();
    FillDirList();
  } else {
    return;
  }
  if (native) backend().ControlChanged(*this);
}

void Control::SetPath(const std::wstring& folder) {
  std::wstring p = folder;
  // A drive given as "c:" or as the drive list reports it ("c: [label]") means the folder the list
  // is on when it is on that drive already, and that drive's root otherwise.
  if (p.size() >= 2 && p[1] == L':' && (p.size() == 2 || p[2] != L'\\')) {
    const std::wstring root = DriveRootOf(p);
    p = !path_.empty() && DriveRootOf(path_) == root ? path_ : root;
  }
  if (p.size() > 3 && p.back() == L'\\') p.pop_back();
  if (p.size() >= 2 && p[1] == L':') p[0] = static_cast<wchar_t>(std::towupper(p[0]));
  const std::wstring old = path_;
  const auto oldItems = dirItems_;
  const int oldIndex = listIndex_;
  path_ = p;
  try {
    FillDirList();
  } catch (...) {
    path_ = old;
    dirItems_ = oldItems;
    listIndex_ = oldIndex;
    throw;
  }
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
  if (path_ != old) form_.Fire(*this, Event::Change);
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

Form::~Form() = default;

void Form::On(const wchar_t* control, Event event, Handler handler) {
  bindings_.push_back(Binding{control, event, std::move(handler)});
}

bool Form::HasHandler(const wchar_t* control, Event event) const {
  return std::any_of(bindings_.begin(), bindings_.end(),
                     [&](const Binding& b) { return b.event == event && SameName(b.control, control); });
}

void Form::Fire(const Control& control, Event event) {
  for (auto& b : bindings_) {
    if (b.event == event && SameName(b.control, control.Name())) {
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
  struct ModalScope {
    Form& f;
    explicit ModalScope(Form& form) : f(form) {
      f.modal_ = true;
      f.app_.PushModal(f);
    }
    ~ModalScope() {
      f.app_.PopModal();
      f.modal_ = false;
    }
  } scope(*this);
  app_.GetBackend().ShowForm(*this);
  app_.GetBackend().RunModal(*this);
}

void Form::Unload() {
  if (!loaded_) return;
  int cancel = 0;
  Form_Unload(cancel);
  if (cancel) return;
  if (!loaded_) return;  // the unload handler unloaded it already
  loaded_ = false;
  app_.GetBackend().DestroyForm(*this);
  for (auto& c : controls_) c->native = nullptr;
  native = nullptr;
  app_.FormUnloaded(*this);
}

void Form::Refresh() {
  if (loaded_) app_.GetBackend().RefreshForm(*this);
}

void Form::CloseFromFrame() { Unload(); }

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

int Application::MsgBox(const std::wstring& text, int style, const std::wstring& title) {
  return backend_.ShowMessage(MessageOwner(), text, title, style);
}

void Application::End() {
  backend_.EndProgram(0);
  std::abort();  // a backend's end never returns
}

int Application::Run(Form& startup) {
  startup_ = &startup;
  Guard([&] { startup.Load(); });
  backend_.RunMainLoop(*this);
  return 0;
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

void Application::ReportUncaught(const std::wstring& text) {
  backend_.ShowMessage(MessageOwner(), text, title_, mb::Critical);
  backend_.EndProgram(1);
  std::abort();
}

void Application::FormLoaded(Form& f) { loaded_.push_back(&f); }

void Application::FormUnloaded(Form& f) { loaded_.erase(std::remove(loaded_.begin(), loaded_.end(), &f), loaded_.end()); }

}  // namespace rt
