// The runtime's own rules: twips at real DPIs, centring, loading, modal nesting, unloading, the
// end statement and the uncaught-failure path.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fakes.h"
#include "platform/rt/units.h"

namespace {

TEST(Twips, ConvertAtTheScreensRealDpi) {
  EXPECT_EQ(rt::TwipsToPixels(1215, 96), 81);
  EXPECT_EQ(rt::TwipsToPixels(1215, 120), 101);  // 101.25
  EXPECT_EQ(rt::TwipsToPixels(1215, 144), 122);  // 121.5 rounds away from zero
  EXPECT_EQ(rt::TwipsToPixels(7695, 96), 513);
  EXPECT_EQ(rt::TwipsToPixels(-45, 96), -3);
  EXPECT_DOUBLE_EQ(rt::PixelsToTwips(1024, 96), 15360);
  EXPECT_DOUBLE_EQ(rt::PixelsToTwips(1024, 144), 10240);
  EXPECT_EQ(rt::TwipsToPixels(std::numeric_limits<double>::quiet_NaN(), 96), 0);
}

TEST(Centring, PlacesTopThenLeftInTheMiddle) {
  rt::Position p{1, 2};
  ASSERT_TRUE(rt::CentreOnScreen(15360, 11520, 7785, 5205, p));
  EXPECT_DOUBLE_EQ(p.top, 11520 / 2.0 - 5205 / 2.0);
  EXPECT_DOUBLE_EQ(p.left, 15360 / 2.0 - 7785 / 2.0);
  // A window larger than the screen goes above and left of it, as the formula says.
  ASSERT_TRUE(rt::CentreOnScreen(1000, 1000, 3000, 3000, p));
  EXPECT_DOUBLE_EQ(p.left, -1000);
}

TEST(Centring, FloatingPointFaultsLeaveThePositionAlone) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  rt::Position p{11, 22};
  EXPECT_FALSE(rt::CentreOnScreen(1000, nan, 10, 10, p));
  EXPECT_FALSE(rt::CentreOnScreen(inf, 1000, 10, 10, p));
  EXPECT_FALSE(rt::CentreOnScreen(1000, 1000, inf, 10, p));
  EXPECT_DOUBLE_EQ(p.left, 11);
  EXPECT_DOUBLE_EQ(p.top, 22);
}

// A form whose handlers record what happened.
class Probe : public rt::Form {
 public:
  Probe(rt::Application& app, const wchar_t* name, std::vector<std::string>& trace)
      : rt::Form(app, Def(name)), trace_(trace) {
    On(L"Go", rt::Event::Click, [this] {
      trace_.push_back(std::string("click ") + headless::Narrow(Name()));
      if (onGo) onGo();
    });
  }
  std::function<void()> onLoad, onGo;
  bool cancelUnload = false;

 protected:
  void Form_Load() override {
    trace_.push_back("load " + headless::Narrow(Name()));
    if (onLoad) onLoad();
  }
  void Form_Unload(int& cancel) override {
    trace_.push_back("unload " + headless::Narrow(Name()));
    if (cancelUnload) cancel = 1;
  }

 private:
  static rt::FormDef Def(const wchar_t* name) {
    rt::FormDef d;
    d.name = name;
    d.caption = name;
    d.width = 3000;
    d.height = 2000;
    d.controls = {rt::Button(L"Go", L"Go", 0, 0, 100, 100).Default().Tab(0),
                  rt::Label(L"Note", L"initial", 0, 200, 100, 100)};
    return d;
  }
  std::vector<std::string>& trace_;
};

struct RuntimeTest : ::testing::Test {
  headless::Backend ui;
  FakeFileSystem fs;
  rt::Application app{ui, fs, L"D:\\", L"Setup"};
  std::vector<std::string> trace;
  Probe a{app, L"A", trace};
  Probe b{app, L"B", trace};
  Probe c{app, L"C", trace};
};

TEST_F(RuntimeTest, ProgramFolderHasNoTrailingBackslash) {
  EXPECT_EQ(app.Path(), L"D:");
  rt::Application other(ui, fs, L"C:\\Setup\\Disk1\\", L"Setup");
  EXPECT_EQ(other.Path(), L"C:\\Setup\\Disk1");
}

TEST_F(RuntimeTest, LoadRunsTheLoadHandlerOnceAndShowLoadsFirst) {
  a.Load();
  a.Load();
  EXPECT_EQ(trace, (std::vector<std::string>{"load A"}));
  b.Show();
  EXPECT_TRUE(b.IsLoaded());
  EXPECT_EQ(trace.back(), "load B");
  EXPECT_TRUE(ui.visible[L"B"]);
}

TEST_F(RuntimeTest, ModalShowsNestAndReturnOnlyWhenTheirFormIsUnloaded) {
  // A modal; its button shows B modal; B's button unloads B; then A's unloads A.
  a.onGo = [&] {
    b.ShowModal();
    trace.push_back("B returned");
  };
  b.onGo = [&] { b.Unload(); };
  ui.WhenClick(L"A", L"Go");
  ui.WhenClick(L"B", L"Go");
  ui.When(L"A", [&](rt::Form&) { a.Unload(); });
  a.ShowModal();
  trace.push_back("A returned");
  EXPECT_EQ(trace, (std::vector<std::string>{"load A", "click A", "load B", "click B", "unload B", "B returned",
                                             "unload A", "A returned"}));
  EXPECT_TRUE(ui.ScriptDone());
}

TEST_F(RuntimeTest, InputGoesOnlyToTheModalForm) {
  a.Show();
  b.onGo = [] {};
  ui.When(L"B", [&](rt::Form&) { ui.Click(a, L"Go"); });
  try {
    b.ShowModal();
    FAIL() << "a click on a form behind a modal one was delivered";
  } catch (const headless::Stall& s) {
    EXPECT_NE(s.what.find(L"while B is modal"), std::wstring::npos);
  }
}

TEST_F(RuntimeTest, UnloadDiscardsChangesAndCanBeCancelled) {
  a.Load();
  a[L"Note"].SetCaption(L"changed");
  a.Unload();
  EXPECT_FALSE(a.IsLoaded());
  a.Load();
  EXPECT_EQ(a[L"Note"].Caption(), L"initial");
  a.cancelUnload = true;
  a.Unload();
  EXPECT_TRUE(a.IsLoaded());
}

TEST_F(RuntimeTest, TheCloseBoxUnloadsThroughTheUnloadHandler) {
  a.Show();
  ui.CloseBox(a);
  EXPECT_FALSE(a.IsLoaded());
  EXPECT_EQ(trace.back(), "unload A");
}

TEST_F(RuntimeTest, EndStopsAtOnceWithoutFurtherHandlers) {
  a.onGo = [&] {
    app.End(3);
    trace.push_back("after end");  // never runs
  };
  a.Show();
  try {
    ui.Click(a, L"Go");
    FAIL() << "the end statement returned";
  } catch (const rt::ProgramEnded& e) {
    EXPECT_EQ(e.exitCode, 3);
  }
  EXPECT_EQ(trace.back(), "click A");
  EXPECT_EQ(std::count(trace.begin(), trace.end(), "unload A"), 0);
}

TEST_F(RuntimeTest, AFailureNoHandlerCatchesIsReportedAndEndsTheProgram) {
  a.onGo = [] { throw rt::RuntimeError(rt::ErrFileNotFound, L"File not found: X.DAT"); };
  a.Show();
  try {
    ui.Click(a, L"Go");
    FAIL();
  } catch (const rt::ProgramEnded& e) {
    EXPECT_EQ(e.exitCode, 1);
  }
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].title, L"Setup");
  EXPECT_EQ(ui.messages[0].text, L"Run-time error '53':\n\nFile not found: X.DAT");
  EXPECT_EQ(ui.messages[0].style, rt::mb::Critical);
}

TEST_F(RuntimeTest, ALoadHandlersFailureReachesTheStatementThatLoaded) {
  b.onLoad = [] { throw rt::RuntimeError(rt::ErrDiskFull, L"Disk full"); };
  a.onGo = [&] {
    try {
      b.Load();
    } catch (const rt::RuntimeError& e) {
      trace.push_back("caught " + std::to_string(e.Number()));
    }
  };
  a.Show();
  ui.Click(a, L"Go");
  EXPECT_EQ(trace.back(), "caught 61");
  EXPECT_TRUE(b.IsLoaded());  // the window exists: it can still be shown
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(RuntimeTest, TheMainLoopServesUntilNoFormIsLoaded) {
  a.onLoad = [&] { a.Show(); };
  ui.When(L"A", [&](rt::Form& f) { ui.CloseBox(f); });
  app.Run(a);
  EXPECT_TRUE(app.LoadedForms().empty());
}

// Close requests reach only the form that has the input, and only while the program waits for
// the user: never a form behind a modal one, never any form while a handler or a message box
// is busy.
TEST_F(RuntimeTest, CloseRequestsReachOnlyTheFormThatHasTheInput) {
  a.Show();
  a.onGo = [&] { b.ShowModal(); };
  b.onGo = [&] {
    ui.CloseRequest(b);  // delivered on the way, inside B's own handler
    trace.push_back(b.IsLoaded() ? "B stayed" : "B went");
  };
  ui.WhenClick(L"A", L"Go");
  ui.When(L"B", [&](rt::Form& f) {
    ui.CloseRequest(a);
    ui.Click(f, L"Go");
    ui.CloseBox(f);
  });
  ui.When(L"A", [&](rt::Form&) {
    ui.whileMessageUp = [&] { ui.CloseRequest(a); };
    app.MsgBox(L"up", rt::mb::OkOnly, L"T");
    ui.CloseRequest(a);
  });
  app.Run(a);
  EXPECT_EQ(trace, (std::vector<std::string>{"load A", "click A", "load B", "click B", "B stayed", "unload B",
                                             "unload A"}));
  EXPECT_TRUE(ui.ScriptDone());
}

TEST_F(RuntimeTest, AHandlerForANameNoControlHasIsRefusedWhenTheFormIsDefined) {
  struct Misspelt : rt::Form {
    explicit Misspelt(rt::Application& app) : rt::Form(app, Def()) { On(L"Comand1", rt::Event::Click, [] {}); }
    static rt::FormDef Def() {
      rt::FormDef d;
      d.name = L"Misspelt";
      d.caption = L"Misspelt";
      d.controls = {rt::Button(L"Command1", L"OK", 0, 0, 100, 100)};
      return d;
    }
  };
  try {
    Misspelt m(app);
    FAIL() << "a handler for Comand1 was accepted";
  } catch (const rt::RuntimeError& e) {
    EXPECT_NE(e.Description().find(L"Comand1"), std::wstring::npos);
  }
}

// A backend record that still speaks to the controls when it goes, as a real window does.
struct RecordTouchingControls : rt::NativeForm {
  rt::Form& form;
  explicit RecordTouchingControls(rt::Form& f) : form(f) {}
  ~RecordTouchingControls() override {
    for (auto& c : form.Controls()) c->native = nullptr;
  }
};

TEST_F(RuntimeTest, AFormDestroyedWhileLoadedDropsItsRecordBeforeItsControls) {
  {
    Probe d(app, L"D", trace);
    d.Load();
    d.native = std::make_unique<RecordTouchingControls>(d);
  }  // under the address sanitizer, a record outliving the controls is a use after free
  EXPECT_EQ(trace.back(), "load D");
  EXPECT_EQ(app.LoadedForms().size(), 0u);
}

}  // namespace
