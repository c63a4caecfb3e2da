#include "../platform/files.h"
#include "../resources/resource_ids.h"
#include "forms.h"

namespace forms {

namespace {

rt::FormDef Definition() {
  rt::FormDef d;
  d.name = L"ShowCopying";
  d.caption = L"Copying Files ...";
  d.border = rt::Border::Sizable;
  d.left = 2715; d.top = 3300; d.width = 6855; d.height = 1965;
  d.icon = IDI_PROGRAM;
  d.controls = {
      rt::Frame(L"Frame1", L"Setup is installing Quorvant '99 program files.", 120, 90, 6615, 1770).Tab(1),
      rt::PictureBox(L"Picture2", 840, 1185, 5595, 255)
          .In(L"Frame1").WithFont(L"MS Sans Serif", 8.25, true, true).AnsiCharset()
          .Back(rt::kWindowBackground).Fore(rt::kBlack).Persistent().Gauge().Tab(3),
      rt::PictureBox(L"Picture1", 255, 1170, 465, 300)
          .In(L"Frame1").Picture(IDB_DRIVE).SizedToPicture().NoBorder().Back(rt::kWhite).Tab(2),
      rt::Label(L"SourceLabel", L"", 1350, 315, 5295, 240).In(L"Frame1").WithFont(L"Times New Roman", 8.25).Tab(7),
      rt::Label(L"DestLabel", L"", 1170, 675, 5415, 240).In(L"Frame1").WithFont(L"Times New Roman", 8.25).Tab(6),
      rt::Label(L"Label2", L"Installing From:", 120, 300, 1215, 240).In(L"Frame1").WithFont(L"Times New Roman", 9).Tab(5),
      rt::Label(L"Label3", L"Installing To:", 120, 660, 975, 240).In(L"Frame1").WithFont(L"Times New Roman", 9).Tab(4),
  };
  return d;
}

}  // namespace

ShowCopying::ShowCopying(Program& program) : rt::Form(program.App, Definition()), p_(program) {}

// The installation run: every file of the manifest in order, then the shortcut and the end.
// A failing copy or measurement stops the run here and goes back to the statement that loaded
// this window. Up to the final message the session may not end (a log-off or shutdown would
// leave some files new and some old); should it end all the same, the program ends as failed.
void ShowCopying::Form_Load() {
  auto& c = p_.Constants;
  p_.App.SetSessionEndCode(install::ExitFailed);
  int32_t made = 0;
  {
    rt::Application::SessionEndRefusal installing(*this, L"Quorvant '99 is being installed.");
    CentreOnScreen();
    Show();
    Refresh();
    for (const install::ManifestRow& row : install::InstallManifest) {
      c.ShowCopyStatus((*this)[L"SourceLabel"], (*this)[L"DestLabel"], row.source, row.dest);
      c.Files().Copy(row.source, c.CopyTarget(row));
      const int64_t length = c.SourceFileLength(row.source);
      c.UpdateGauge((*this)[L"Picture2"], length);
    }
    made = c.fCreateShellLink(L"", install::ProductName, c.DestPath + install::ProgramFile, L"");
  }
  Finish(made);
}

// The final message for the shortcut's result `made`, and the end of the program.
void ShowCopying::Finish(int32_t made) {
  if (made == 0) {
    p_.App.MsgBox(L"There was an error creating shortcuts.", rt::mb::Critical, L"Shortcut Error");
    p_.App.MsgBox(L"Quorvant '99 was unsuccessfully installed.", rt::mb::Critical, L"Setup Error");
    p_.App.End(install::ExitFailed);
  }
  p_.App.SetSessionEndCode(install::ExitInstalled);
  p_.App.MsgBox(L"Quorvant '99 Installation Complete!", rt::mb::Exclamation, L"Setup");
  p_.App.End(install::ExitInstalled);
}

}  // namespace forms
