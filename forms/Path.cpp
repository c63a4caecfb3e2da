#include "../platform/files.h"
#include "../platform/text.h"
#include "../resources/resource_ids.h"
#include "forms.h"

namespace forms {

namespace {

rt::FormDef Definition() {
  rt::FormDef d;
  d.name = L"Path";
  d.caption = L"Choose Directory";
  d.border = rt::Border::FixedDialog;
  d.left = 3015; d.top = 2820; d.width = 4215; d.height = 4095;
  d.icon = IDI_PROGRAM;
  d.controls = {
      rt::Button(L"Command2", L"Cancel", 2760, 1710, 1215, 375).Tab(4),
      rt::Button(L"Command1", L"OK", 2760, 1260, 1215, 375).Default().Tab(3),
      rt::TextBox(L"Text1", L"", 240, 675, 3735, 285).Tab(0).LabelledBy(L"Label2"),
      rt::DirList(L"Dir1", 240, 1260, 2295, 2055).Tab(1).LabelledBy(L"Label3"),
      rt::DriveList(L"Drive1", 240, 3600, 2295, 315).Tab(2).LabelledBy(L"Label4"),
      rt::Label(L"Label4", L"Drive", 240, 3375, 1815, 240).Tab(8),
      rt::Label(L"Label3", L"Directory", 240, 1035, 1215, 240).Tab(7),
      rt::Label(L"Label2", L"Path", 240, 450, 1575, 240).Tab(6),
      rt::Label(L"Label1", L"Please choose a directory for the installation.", 240, 135, 3855, 285).Tab(5),
  };
  return d;
}

}  // namespace

Path::Path(Program& program) : rt::Form(program.App, Definition()), p_(program) {
  On(L"Command1", rt::Event::Click, [this] { Command1_Click(); });
  On(L"Command2", rt::Event::Click, [this] { Command2_Click(); });
  On(L"Dir1", rt::Event::Change, [this] { Dir1_Change(); });
  On(L"Drive1", rt::Event::Change, [this] { Drive1_Change(); });
  On(L"Text1", rt::Event::GotFocus, [this] { text1_GotFocus(); });
  On(L"Text1", rt::Event::LostFocus, [this] { text1_LostFocus(); });
}

void Path::Form_Load() { CentreOnScreen(); }

// However the chooser closes, the installer's folder is the current drive and directory again.
void Path::Form_Unload(int& /*cancel*/) { p_.App.Files().ChangeDirectory(p_.App.Path()); }

// "OK": the typed or chosen folder goes back to the destination page.
void Path::Command1_Click() {
  p_.Where[L"Label5"].SetCaption((*this)[L"Text1"].Text());
  Unload();
}

// "Cancel": the destination page keeps its folder.
void Path::Command2_Click() { Unload(); }

void Path::Dir1_Change() { (*this)[L"Text1"].SetText((*this)[L"Dir1"].Path()); }

// A drive moves the directory list to it. A drive that cannot be read (no disk, a mapping
// whose target is gone) is reported, and the list stays on the drive it was on.
void Path::Drive1_Change() {
  rt::Control& drive = (*this)[L"Drive1"];
  rt::Control& dir = (*this)[L"Dir1"];
  try {
    dir.SetPath(drive.Drive());
  } catch (const rt::RuntimeError&) {
    const std::wstring letter = platform::UpperCase(drive.Drive().substr(0, 2));
    drive.SetDrive(dir.Path());
    p_.App.MsgBox(L"Drive " + letter +
                      L" is not ready or cannot be read.\n\nInsert a disk or choose another drive.",
                  rt::mb::Exclamation, L"Setup");
  }
}

void Path::text1_GotFocus() {
  rt::Control& text = (*this)[L"Text1"];
  text.SetSelection(0, static_cast<int>(text.Text().size()));
}

void Path::text1_LostFocus() {}

}  // namespace forms
