// A form for the checks with real windows: any table of controls, and handlers bound from outside.
#pragma once

#include <utility>
#include <vector>

#include "platform/rt/runtime.h"

class TestForm : public rt::Form {
 public:
  TestForm(rt::Application& app, rt::FormDef def) : rt::Form(app, std::move(def)) {}
  using rt::Form::On;
};

inline rt::FormDef Def(const wchar_t* caption, std::vector<rt::ControlDef> controls) {
  rt::FormDef d;
  d.name = caption;
  d.caption = caption;
  d.width = 4000;
  d.height = 3000;
  d.controls = std::move(controls);
  return d;
}
