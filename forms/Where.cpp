#include "../install/destination.h"
#include "../platform/files.h"
#include "../resources/resource_ids.h"
#include "forms.h"

namespace forms {

namespace {

rt::FormDef Definition() {
  rt::FormDef d;
  d.name = L"Where";
  d.caption = L"Choose Destination Location";
  d.border = rt::Border::FixedDialog;
  d.left = 1425; d.top = 2460; d.width = 7710; d.height = 4845;
  d.icon = IDI_PROGRAM;
  d.controls = {
      rt::Frame(L"Frame1", L"Destination Directory", 2760, 3060, 4575, 735).Tab(7),
      rt::Button(L"Command4", L"Browse", 3360, 225, 1095, 375).In(L"Frame1").Tab(8),
      rt::Label(L"Label5", L"C:\\Program Files\\Quorvant '99", 120, 315, 3255, 285).In(L"Frame1").Tab(9),
      rt::Button(L"Command3", L"Cancel", 6120, 4275, 1215, 375).Tab(1),
      rt::Button(L"Command2", L"Next >", 4680, 4275, 1215, 375).Default().Tab(0),
      rt::Button(L"Command1", L"< Back", 3360, 4275, 1215, 375).Tab(2),
      rt::Label(L"Label6", MakerNotice, 240, 4200, 2535, 255).Tab(10),
      rt::Line(L"Line1", 240, 4095, 7440, 4095),
      rt::Image(L"Image1", IDB_WELCOME, 240, 180, 2310, 3720).Stretch(),
      rt::Label(L"Label4", L"Click Cancel now to exit the setup program.", 2760, 2610, 4575, 285).Opaque().Tab(6),
      rt::Label(L"Label3", L"To install into a different directory click Browse then choose another directory.",
                2760, 1170, 4575, 465).Tab(5),
      rt::Label(L"Label2", L"To install into this directory click Next.", 2760, 810, 4575, 240).Tab(4),
      rt::Label(L"Label1", L"Setup will install Quorvant '99 to this directory.", 2760, 225, 4575, 240).Tab(3),
  };
  return d;
}

// Runs one step whose failure is skipped without a word.
template <typename Step>
void Skipping(Step&& step) {
  try {
    step();
  } catch (const rt::RuntimeError&) {
  }
}

}  // namespace

Where::Where(Program& program) : rt::Form(program.App, Definition()), p_(program) {
  On(L"Command1", rt::Event::Click, [this] { Command1_Click(); });
  On(L"Command2", rt::Event::Click, [this] { Command2_Click(); });
  On(L"Command3", rt::Event::Click, [this] { Command3_Click(); });
  On(L"Command4", rt::Event::Click, [this] { Command4_Click(); });
}

void Where::Form_Load() { CentreOnScreen(); }

// "< Back": back to the welcome page.
void Where::Command1_Click() { Unload(); }

// "Next >": fixes the paths, creates the folders and starts the installation run.
void Where::Command2_Click() {
  auto& c = p_.Constants;
  const std::wstring chosen = (*this)[L"Label5"].Caption();
  // Only a full path is ever used as the destination: anything else stays on this page.
  const std::wstring problem = install::DestinationProblem(chosen);
  if (!problem.empty()) {
    p_.App.MsgBox(problem, rt::mb::Exclamation, L"Setup");
    return;
  }
  c.SourcePath = p_.App.Path() + L"\\";
  c.DestPath = install::WithTrailingBackslash(chosen);

  // From here on a failing step is skipped and the next one runs.
  Skipping([&] { p_.App.Files().MakeDirectory(c.DestPath); });
  Skipping([&] { p_.App.Files().MakeDirectory(c.DestPath + install::DataFolder); });
  Skipping([&] { Unload(); });
  Skipping([&] { p_.Welcome.Unload(); });
  // The installation run ends the program itself; it comes back here only when it failed.
  Skipping([&] { p_.ShowCopying.Load(); });
  Skipping([&] { p_.ShowCopying.Show(); });
  Skipping([&] { p_.App.MsgBox(L"Setup Failed Due To An Error!", rt::mb::Exclamation, L"Setup"); });
  p_.App.End(install::ExitFailed);
}

// "Cancel": ends the program at once.
void Where::Command3_Click() { p_.App.End(install::ExitCancelled); }

// "Browse": the folder chooser, starting from the folder shown here.
void Where::Command4_Click() {
  p_.Path.Load();
  p_.Path[L"Text1"].SetText((*this)[L"Label5"].Caption());
  p_.Path.ShowModal();
}

}  // namespace forms
