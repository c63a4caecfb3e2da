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
      ShowCopying(*this) {}

}  // namespace forms
