#include "../platform/files.h"
#include "../resources/resource_ids.h"
#include "forms.h"

namespace forms {

namespace {

rt::FormDef Definition() {
  rt::FormDef d;
  d.name = L"SetupMain";
  d.caption = L"Setup Wizard";
  d.border = rt::Border::Sizable;
  d.minButton = true;
  d.maxButton = true;
  d.showInTaskbar = true;
  d.startMaximized = true;
  d.left = 1920; d.top = 1560; d.width = 6690; d.height = 5940;
  d.back = rt::Colour::Rgb(0, 128, 128);
  d.icon = IDI_PROGRAM;
  d.controls = {
      // The product name, white over a dark copy 45 twips right and 30 twips down: a drop shadow,
      // which screen readers do not read a second time.
      rt::Label(L"Label2", L"Quorvant '99", 165, 150, 5130, 510)
          .WithFont(L"Times New Roman", 21.75, true).Fore(rt::kWhite).Tab(1),
      rt::Label(L"Label1", L"Quorvant '99", 210, 180, 5205, 510)
          .WithFont(L"Times New Roman", 21.75, true).Fore(rt::kButtonText).Tab(0).Decorative(),
  };
  return d;
}

}  // namespace

SetupMain::SetupMain(Program& program) : rt::Form(program.App, Definition()), p_(program) {}

void SetupMain::Form_Load() {
  // The installer's folder becomes the current drive and directory: the copy run names its
  // source files relative to it.
  p_.App.Files().ChangeDirectory(p_.App.Path());
  Show();
  p_.Welcome.Load();
  p_.Welcome.ShowModal();
}

}  // namespace forms
