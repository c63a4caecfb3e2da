#include "headless_backend.h"

#include <algorithm>

namespace headless {

std::string Narrow(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out.push_back(c < 128 ? static_cast<char>(c) : '?');
  return out;
}

namespace {
std::string Entry(const char* what, const wchar_t* name) { return std::string(what) + " " + Narrow(name); }
}  // namespace

void Backend::When(const std::wstring& form, Action action) { script_.push_back(Step{form, std::move(action)}); }

void Backend::WhenClick(const std::wstring& form, const wchar_t* control) {
  std::wstring c = control;
  When(form, [this, c](rt::Form& f) { Click(f, c.c_str()); });
}

bool Backend::Contains(const std::string& entry) const {
  return std::find(log.begin(), log.end(), entry) != log.end();
}

void Backend::Deliver(rt::Form& form, const std::function<void()>& action) {
  if (!form.IsLoaded()) throw Stall{std::wstring(L"input to a form that is not loaded: ") + form.Name()};
  rt::Form* modal = form.App().ActiveModal();
  if (modal && modal != &form) {
    throw Stall{std::wstring(L"input to ") + form.Name() + L" while " + modal->Name() + L" is modal"};
  }
  form.App().Guard(action);
}

void Backend::Click(rt::Form& form, const wchar_t* control) {
  rt::Control& c = form[control];
  if (!c.Enabled()) {
    log.push_back(Entry("ignored-click", control));
    return;
  }
  Deliver(form, [&] { form.Fire(c, rt::Event::Click); });
}

void Backend::PressEnter(rt::Form& form) {
  for (auto& c : form.Controls()) {
    if (c->Def().isDefault && c->Enabled()) return Click(form, c->Name());
  }
  log.push_back(Entry("ignored-enter", form.Name()));
}

void Backend::CloseBox(rt::Form& form) {
  Deliver(form, [&] { form.CloseFromFrame(); });
}

void Backend::CloseRequest(rt::Form& form) {
  form.App().Guard([&] { form.CloseFromFrame(); });
}

void Backend::Type(rt::Form& form, const wchar_t* control, const std::wstring& text) {
  rt::Control& c = form[control];
  Deliver(form, [&] { typed_[&c] = text; });
}

void Backend::Focus(rt::Form& form, const wchar_t* control) {
  rt::Control& c = form[control];
  Deliver(form, [&] { form.Fire(c, rt::Event::GotFocus); });
}

void Backend::PickDrive(rt::Form& form, const wchar_t* control, int index) {
  rt::Control& c = form[control];
  Deliver(form, [&] { c.SetDrive(c.DriveItems().at(index)); });
}

void Backend::OpenFolder(rt::Form& form, const wchar_t* control, int index) {
  rt::Control& c = form[control];
  Deliver(form, [&] { c.SetPath(c.DirItems().at(index).path); });
}

void Backend::Play(rt::Form* waiting, rt::Application& app) {
  if (script_.empty()) {
    throw Stall{std::wstring(L"the program waits for the user on ") + (waiting ? waiting->Name() : L"(main loop)") +
                L" and the script is done"};
  }
  Step step = std::move(script_.front());
  script_.pop_front();
  rt::Form* target = nullptr;
  for (rt::Form* f : app.LoadedForms()) {
    if (f->Name() == step.form) target = f;
  }
  if (!target || (waiting && target != waiting)) {
    throw Stall{L"script expects " + step.form + L" but " + (waiting ? waiting->Name() : L"no form") + L" waits"};
  }
  step.action(*target);
}

void Backend::CreateForm(rt::Form& form) {
  log.push_back(Entry("load", form.Name()));
  const auto& d = form.Def();
  rects_[&form] = Rect{double(d.left), double(d.top), d.width + nonClientWidthTwips, d.height + nonClientHeightTwips};
  // A record per control, so that the runtime sees them created as with a real backend.
  auto record = std::make_unique<Record>();
  record->controls.resize(form.Controls().size());
  for (size_t i = 0; i < form.Controls().size(); ++i) form.Controls()[i]->native = &record->controls[i];
  form.native = std::move(record);
  visible[form.Name()] = false;
}

void Backend::DestroyForm(rt::Form& form) {
  log.push_back(Entry("unload", form.Name()));
  visible[form.Name()] = false;
  for (auto& c : form.Controls()) typed_.erase(c.get());
}

void Backend::ShowForm(rt::Form& form) {
  log.push_back(Entry("show", form.Name()));
  visible[form.Name()] = true;
}

void Backend::RunModal(rt::Form& form) {
  log.push_back(Entry("modal", form.Name()));
  while (form.IsLoaded()) Play(&form, form.App());
  log.push_back(Entry("modal-returned", form.Name()));
}

void Backend::RunMainLoop(rt::Application& app) {
  while (!app.LoadedForms().empty() && !script_.empty()) Play(nullptr, app);
}

void Backend::RefreshForm(rt::Form& form) { log.push_back(Entry("refresh", form.Name())); }

void Backend::ControlChanged(rt::Control& control) {
  if (control.GetKind() == rt::Kind::TextBox) typed_.erase(&control);
}

void Backend::RefreshControl(rt::Control& control) { log.push_back(Entry("refresh", control.Name())); }

std::wstring Backend::ReadText(rt::Control& control) {
  auto it = typed_.find(&control);
  return it != typed_.end() ? it->second : control.Caption();
}

void Backend::SetSelection(rt::Control& control, int start, int length) {
  selection[control.Name()] = {start, length};
}

void Backend::SetFocus(rt::Control& control) { log.push_back(Entry("focus", control.Name())); }

rt::Backend::Rect Backend::FormRect(rt::Form& form) { return rects_[&form]; }

void Backend::MoveForm(rt::Form& form, double left, double top) {
  rects_[&form].left = left;
  rects_[&form].top = top;
}

void Backend::PictureClear(rt::Control& box) { drawing[box.Name()].push_back(DrawOp{DrawOp::Clear, 0, 0, 0, 0, {}, {}}); }

double Backend::PictureScaleWidth(rt::Control& box) {
  return box.Def().width - (box.Def().border ? 2 * pictureBorderTwips : 0);
}

double Backend::PictureScaleHeight(rt::Control& box) {
  return box.Def().height - (box.Def().border ? 2 * pictureBorderTwips : 0);
}

void Backend::PictureFillBox(rt::Control& box, double x1, double y1, double x2, double y2, rt::Colour colour) {
  DrawOp op{DrawOp::Fill, 0, 0, 0, 0, {}, {}};
  op.x1 = x1; op.y1 = y1; op.x2 = x2; op.y2 = y2; op.colour = colour;
  drawing[box.Name()].push_back(op);
}

double Backend::PictureTextWidth(rt::Control&, const std::wstring& text) { return charWidthTwips * text.size(); }

double Backend::PictureTextHeight(rt::Control&, const std::wstring&) { return textHeightTwips; }

void Backend::PicturePrint(rt::Control& box, double x, double y, const std::wstring& text) {
  DrawOp op{DrawOp::Print, 0, 0, 0, 0, {}, {}};
  op.x1 = x; op.y1 = y; op.text = text;
  drawing[box.Name()].push_back(op);
}

int Backend::ShowMessage(rt::Form* owner, const std::wstring& text, const std::wstring& title, int style) {
  messages.push_back(MessageRecord{owner ? owner->Name() : L"", text, title, style});
  log.push_back("msgbox " + Narrow(text));
  if (auto during = std::move(whileMessageUp)) {
    whileMessageUp = nullptr;
    during();
  }
  return 1;
}

void Backend::RefuseSessionEnd(rt::Form& form, const std::wstring& reason) {
  log.push_back("refuse session end " + Narrow(form.Name()) + ": " + Narrow(reason));
}

void Backend::AllowSessionEnd(rt::Form& form) { log.push_back("allow session end " + Narrow(form.Name())); }

void Backend::EndProgram(int exitCode) {
  log.push_back("end " + std::to_string(exitCode));
  throw rt::ProgramEnded{exitCode};
}

}  // namespace headless
