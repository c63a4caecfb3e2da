// The installer's five windows and the program object that holds them.
#pragma once

#include "../install/Constants.h"
#include "../platform/rt/runtime.h"

namespace forms {

class Program;

// The full-screen backdrop and start-up object.
class SetupMain : public rt::Form {
 public:
  explicit SetupMain(Program& program);

 protected:
  void Form_Load() override;

 private:
  Program& p_;
};

// The first wizard page.
class Welcome : public rt::Form {
 public:
  explicit Welcome(Program& program);

 protected:
  void Form_Load() override;

 private:
  void Command2_Click();
  void Command3_Click();
  Program& p_;
};

// The destination page.
class Where : public rt::Form {
 public:
  explicit Where(Program& program);

 protected:
  void Form_Load() override;

 private:
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  Program& p_;
};

// The folder chooser.
class Path : public rt::Form {
 public:
  explicit Path(Program& program);

 protected:
  void Form_Load() override;
  void Form_Unload(int& cancel) override;

 private:
  void Command1_Click();
  void Command2_Click();
  void Dir1_Change();
  void Drive1_Change();
  void text1_GotFocus();
  void text1_LostFocus();
  Program& p_;
};

// The copy progress window; its load handler is the installation run.
class ShowCopying : public rt::Form {
 public:
  explicit ShowCopying(Program& program);

 protected:
  void Form_Load() override;

 private:
  void Finish(int32_t made);
  Program& p_;
};

// The windows of the program, each loaded on first use, and the module they share.
class Program {
 public:
  Program(rt::Application& app, install::Constants& constants);

  rt::Application& App;
  install::Constants& Constants;

  forms::SetupMain SetupMain;
  forms::Welcome Welcome;
  forms::Where Where;
  forms::Path Path;
  forms::ShowCopying ShowCopying;
};

// The text of the maker's notice at the bottom left of the wizard pages.
extern const wchar_t* const MakerNotice;

}  // namespace forms
