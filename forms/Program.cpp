#include "forms.h"

namespace forms {

const wchar_t* const MakerNotice = L"Quorvant Software Ltd.";

Program::Program(rt::Application& app, install::Constants& constants)
    : App(app),
      Constants(constants),
      SetupMain(*this),
      Welcome(*this),
      Where(*this),
      Path(*this),
      ShowCopying(*this) {
  // Before the copy run a session end is the user's leaving: nothing was written.
  App.SetSessionEndCode(install::ExitCancelled);
}

}  // namespace forms
