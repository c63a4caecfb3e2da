#include "../resources/resource_ids.h"
#include "forms.h"

namespace forms {

namespace {

rt::FormDef Definition() {
  rt::FormDef d;
  d.name = L"Welcome";
  d.caption = L"Welcome";
  d.border = rt::Border::FixedDialog;
  d.left = 1440; d.top = 2520; d.width = 7695; d.height = 4845;
  d.icon = IDI_PROGRAM;
  d.controls = {
      rt::Button(L"Command3", L"Cancel", 6120, 4275, 1215, 375).Tab(1),
      rt::Button(L"Command2", L"Next >", 4680, 4275, 1215, 375).Default().Tab(0),
      rt::Button(L"Command1", L"< Back", 3360, 4275, 1215, 375).Disabled().Tab(2),
      rt::Label(L"Label6", MakerNotice, 240, 4200, 2535, 255).Tab(8),
      rt::Line(L"Line1", 240, 4095, 7440, 4095),
      rt::Image(L"Image1", IDB_WELCOME, 240, 180, 2310, 3720).Stretch(),
      rt::Label(L"Label5",
                L"Unauthorised copying, distribution or resale of this program, or of any part of it, may "
                L"result in severe civil and criminal penalties and will be prosecuted.",
                2760, 3015, 4575, 870).Tab(7),
      rt::Label(L"Label4",
                L"Warning: this program is protected by copyright law and international treaties.",
                2760, 2475, 4575, 465).Tab(6),
      rt::Label(L"Label3",
                L"Click Cancel now to close any running Windows programs. Otherwise, click Next to continue "
                L"with the setup process.",
                2760, 1485, 4575, 510).Tab(5),
      rt::Label(L"Label2",
                L"It is strongly recommended that you close all running Windows programs before continuing "
                L"with the installation.",
                2760, 810, 4575, 510).Tab(4),
      rt::Label(L"Label1",
                L"Welcome to the Quorvant '99 setup program. Setup Wizard will guide you through the "
                L"installation process.",
                2760, 225, 4575, 465).Tab(3),
  };
  return d;
}

}  // namespace

Welcome::Welcome(Program& program) : rt::Form(program.App, Definition()), p_(program) {
  On(L"Command2", rt::Event::Click, [this] { Command2_Click(); });
  On(L"Command3", rt::Event::Click, [this] { Command3_Click(); });
}

void Welcome::Form_Load() { CentreOnScreen(); }

// "Next >": the destination page, modal over this one.
void Welcome::Command2_Click() {
  p_.Where.Load();
  p_.Where.ShowModal();
}

// "Cancel": ends the program at once.
void Welcome::Command3_Click() { p_.App.End(install::ExitCancelled); }

}  // namespace forms
