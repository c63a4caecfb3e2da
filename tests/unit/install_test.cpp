// The installation run: the manifest, the gauge and status display, the copy sequence with its
// stop on the first failure, and the shortcut and final messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "fakes.h"
#include "platform/text.h"

namespace {

using install::InstallManifest;

TEST(Manifest, TwentyRowsInOrderWithTheNamingRule) {
  ASSERT_EQ(InstallManifest.size(), 20u);
  EXPECT_STREQ(InstallManifest[0].source, L"LICENSE.TX_");
  EXPECT_STREQ(InstallManifest[7].dest, L"QV99.EXE");
  EXPECT_STREQ(InstallManifest[8].source, L"QV99.HL_");
  EXPECT_STREQ(InstallManifest[19].dest, L"TABCTL32.OCX");
  int data = 0;
  std::set<std::wstring> targets;
  for (const auto& row : InstallManifest) {
    const std::wstring src = row.source, dst = row.dest;
    if (dst == L"README.TXT" || dst == L"MSVBVM50.DLL") {
      EXPECT_EQ(src, dst);
    } else {
      EXPECT_EQ(src, dst.substr(0, dst.size() - 1) + L"_") << headless::Narrow(dst);
    }
    data += row.folder == install::Folder::Data;
    targets.insert((row.folder == install::Folder::Data ? L"DATA\\" : L"") + dst);
  }
  EXPECT_EQ(data, 11);
  EXPECT_EQ(targets.size(), 20u);
}

TEST(Manifest, DataRowsLandInTheDataFolder) {
  FakeFileSystem fs;
  FakeSetupKit kit;
  install::Constants c(fs, kit);
  c.DestPath = L"C:\\Q\\";
  EXPECT_EQ(c.CopyTarget(InstallManifest[0]), L"C:\\Q\\DATA\\LICENSE.TXT");
  EXPECT_EQ(c.CopyTarget(InstallManifest[1]), L"C:\\Q\\README.TXT");
}

// The gauge, drawn into the headless picture box.
struct Gauge : ::testing::Test {
  Installer in;
  rt::Control* box = nullptr;
  void SetUp() override {
    in.program.ShowCopying.Controls();  // the window exists without running its load handler
    box = &in.program.ShowCopying[L"Picture2"];
  }
  const std::vector<headless::DrawOp>& Ops() { return in.ui.drawing[L"Picture2"]; }
  // The last bar and text drawn, after the clear that starts each update.
  const headless::DrawOp& Bar() { return Ops()[Ops().size() - 2]; }
  const headless::DrawOp& Text() { return Ops().back(); }
  void Advance(int64_t bytes) { in.constants.UpdateGauge(*box, bytes); }
};

TEST_F(Gauge, OneHundredthOfTheTotalIsOnePercent) {
  Advance(48000);
  EXPECT_EQ(in.constants.GaugePercent(), 1.0f);
  ASSERT_EQ(Ops().size(), 3u);
  EXPECT_EQ(Ops()[0].op, headless::DrawOp::Clear);
  EXPECT_EQ(Bar().op, headless::DrawOp::Fill);
  EXPECT_EQ(Bar().colour.value, 0x000080u);  // dark red
  const double w = 5595 - 60, h = 255 - 60;
  EXPECT_EQ(Bar().x2, static_cast<double>(static_cast<float>(w / 100)));
  EXPECT_DOUBLE_EQ(Bar().y2, h);
  EXPECT_EQ(Text().text, L"1%");
}

TEST_F(Gauge, TextIsCentredWithHalvesToEvenAndTruncatedHalving) {
  Advance(48000);
  // ScaleWidth 5535, text "1%" 180 wide: (5535 - 180) = 5355, / 2 = 2677 (truncated).
  EXPECT_DOUBLE_EQ(Text().x1, 2677);
  // ScaleHeight 195, text 195 high: 0.
  EXPECT_DOUBLE_EQ(Text().y1, 0);
}

TEST_F(Gauge, PercentTextRoundsHalvesToEven) {
  EXPECT_EQ(install::GaugeText(2.5f), L"2%");
  EXPECT_EQ(install::GaugeText(3.5f), L"4%");
  EXPECT_EQ(install::GaugeText(99.6f), L"100%");
  EXPECT_EQ(install::GaugeText(0.0f), L"0%");
  Advance(120000);  // 2.5 %
  EXPECT_EQ(Text().text, L"2%");
  Advance(48000);   // 3.5 %
  EXPECT_EQ(Text().text, L"4%");
}

TEST_F(Gauge, NinetyNinePointSixShowsOneHundredButLeavesASliver) {
  Advance(4780800);  // 99.6 %
  EXPECT_EQ(Text().text, L"100%");
  EXPECT_LT(Bar().x2, box->ScaleWidth());
}

TEST_F(Gauge, ClampsAtOneHundredAndZeroBytesRedrawTheSame) {
  Advance(4800000);
  EXPECT_EQ(in.constants.GaugePercent(), 100.0f);
  Advance(1000000);
  EXPECT_EQ(in.constants.GaugePercent(), 100.0f);
  EXPECT_EQ(Bar().x2, static_cast<double>(100.0f * static_cast<float>(box->ScaleWidth() / 100)));
  const auto before = Bar().x2;
  Advance(0);
  EXPECT_EQ(Ops()[Ops().size() - 3].op, headless::DrawOp::Clear);
  EXPECT_DOUBLE_EQ(Bar().x2, before);
  EXPECT_EQ(Text().text, L"100%");
}

TEST_F(Gauge, HugeFilesNeverTurnTheGaugeBackwards) {
  Advance(48000);
  Advance(int64_t{3} << 31);  // 6 GiB
  EXPECT_EQ(in.constants.GaugePercent(), 100.0f);
  in.fs.AddFile(L"D:\\DISK\\BIG.BIN", uint64_t{5} << 31);
  in.fs.ChangeDirectory(L"D:\\DISK");
  EXPECT_EQ(in.constants.SourceFileLength(L"BIG.BIN"), int64_t{5} << 31);
}

// Each step rounds to its own precision: the bar's edge is the single-precision product, not the
// product of two singles carried in a wider register.
TEST_F(Gauge, EachStepIsRoundedToItsOwnPrecision) {
  Advance(120000);  // 2.5 %: 2.5 x 55.35f is 138.3749962 exactly, 138.375 in single precision
  EXPECT_EQ(in.constants.GaugePercent(), 2.5f);
  EXPECT_EQ(Bar().x2, 138.375);
  EXPECT_EQ(install::GaugeBarRight(37.0f, 5535), 2047.949951171875f);
  EXPECT_EQ(install::GaugeAdvance(0, 1234567), 25.720146f);  // 25.7201458333 rounded to single
  EXPECT_EQ(install::GaugeAdvance(99.5f, 48000), 100.0f);   // held at 100
}

TEST_F(Gauge, TextWiderThanTheGaugeStartsLeftOfIt) {
  in.ui.charWidthTwips = 3000;  // "0%" is 6000 wide, the gauge 5535
  Advance(0);
  EXPECT_LT(Text().x1, 0);
  EXPECT_DOUBLE_EQ(Text().x1, -232);  // (5535 - 6000) = -465, / 2 toward zero
}

TEST(Status, NamesAreSourceAndDestinationPathsInUpperCase) {
  Installer in;
  in.constants.SourcePath = L"A:\\";
  in.constants.DestPath = L"c:\\apps\\q99\\";
  auto& w = in.program.ShowCopying;
  in.constants.ShowCopyStatus(w[L"SourceLabel"], w[L"DestLabel"], L"readme.txt", L"license.txt");
  EXPECT_EQ(w[L"SourceLabel"].Caption(), L"A:\\README.TXT");
  EXPECT_EQ(w[L"DestLabel"].Caption(), L"C:\\APPS\\Q99\\LICENSE.TXT");
}

TEST(CopyRun, CopiesEveryRowInOrderThenMakesTheShortcut) {
  Installer in;
  in.AddPayload(240000);  // twenty files of 5 %
  EXPECT_EQ(in.InstallInto(), 0);
  std::vector<std::string> copies, order;
  for (const auto& c : in.fs.calls) {
    if (c.rfind("copy", 0) == 0) copies.push_back(c);
    if (c.rfind("copy", 0) == 0 || c.rfind("len", 0) == 0) order.push_back(c.substr(0, c.find(' ')));
  }
  ASSERT_EQ(copies.size(), 20u);
  EXPECT_EQ(copies[0], "copy LICENSE.TX_ -> C:\\Program Files\\Quorvant '99\\DATA\\LICENSE.TXT");
  EXPECT_EQ(copies[7], "copy QV99.EX_ -> C:\\Program Files\\Quorvant '99\\QV99.EXE");
  for (size_t i = 0; i < order.size(); i += 2) {  // copy, then measure, for every row
    EXPECT_EQ(order[i], "copy");
    EXPECT_EQ(order[i + 1], "len");
  }
  for (const auto& row : InstallManifest) {
    EXPECT_TRUE(in.fs.HasFile(in.constants.CopyTarget(row))) << headless::Narrow(row.dest);
  }
  EXPECT_EQ(in.constants.GaugePercent(), 100.0f);
  // Each row's names are painted at once, although the run never returns to the message loop.
  EXPECT_EQ(std::count(in.ui.log.begin(), in.ui.log.end(), "refresh SourceLabel"), 20);
  EXPECT_EQ(std::count(in.ui.log.begin(), in.ui.log.end(), "refresh DestLabel"), 20);
  EXPECT_EQ(in.program.ShowCopying[L"DestLabel"].Caption(), L"C:\\PROGRAM FILES\\QUORVANT '99\\TABCTL32.OCX");
  ASSERT_EQ(in.kit.calls.size(), 1u);
  EXPECT_EQ(in.kit.calls[0].folder, L"");
  EXPECT_EQ(in.kit.calls[0].name, L"Quorvant '99");
  EXPECT_EQ(in.kit.calls[0].target, L"C:\\Program Files\\Quorvant '99\\QV99.EXE");
  EXPECT_EQ(in.kit.calls[0].arguments, L"");
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, L"Quorvant '99 Installation Complete!");
  EXPECT_EQ(in.ui.messages[0].title, L"Setup");
  EXPECT_EQ(in.ui.messages[0].style, rt::mb::Exclamation);
  EXPECT_EQ(in.ui.messages[0].owner, L"ShowCopying");
}

TEST(CopyRun, TheShortcutFollowsAnotherDestination) {
  Installer in;
  in.AddPayload();
  in.fs.AddFolder(L"E:\\");
  EXPECT_EQ(in.InstallInto(L"E:\\Apps"), 0);
  EXPECT_EQ(in.kit.calls.at(0).target, L"E:\\Apps\\QV99.EXE");
}

TEST(CopyRun, ExistingFilesAreOverwritten) {
  Installer in;
  in.AddPayload(777);
  in.fs.AddFile(L"C:\\Program Files\\Quorvant '99\\QV99.EXE", 5);
  EXPECT_EQ(in.InstallInto(), 0);
  EXPECT_EQ(in.fs.SizeOf(L"C:\\Program Files\\Quorvant '99\\QV99.EXE"), 777u);
}

TEST(CopyRun, AMissingSourceStopsAtItsRowWithTheFailureMessage) {
  for (size_t k = 0; k < InstallManifest.size(); ++k) {
    Installer fresh;  // the payload without row k
    for (size_t i = 0; i < InstallManifest.size(); ++i) {
      if (i != k) fresh.fs.AddFile(std::wstring(L"D:\\DISK\\") + InstallManifest[i].source, 1000);
    }
    EXPECT_EQ(fresh.InstallInto(), 1);
    for (size_t i = 0; i < InstallManifest.size(); ++i) {
      EXPECT_EQ(fresh.fs.HasFile(fresh.constants.CopyTarget(InstallManifest[i])), i < k) << k << " " << i;
    }
    EXPECT_EQ(fresh.ui.drawing[L"Picture2"].size(), 3 * k);  // the gauge stopped at the row before
    // The row's status was shown; a DATA row's destination reads as the bare name.
    const std::wstring shown = fresh.program.ShowCopying[L"DestLabel"].Caption();
    EXPECT_EQ(shown, platform::UpperCase(L"C:\\Program Files\\Quorvant '99\\") + InstallManifest[k].dest) << k;
    EXPECT_TRUE(fresh.kit.calls.empty());
    ASSERT_EQ(fresh.ui.messages.size(), 1u);
    EXPECT_EQ(fresh.ui.messages[0].text, L"Setup Failed Due To An Error!");
    EXPECT_EQ(fresh.ui.log.back(), "end 1");
  }
}

TEST(CopyRun, ACopyThatFailsIsNeverReportedAsSuccess) {
  Installer in;
  in.AddPayload();
  in.fs.failCopyTo = L"\\DATA\\QV99.HLP";
  EXPECT_EQ(in.InstallInto(), 1);
  EXPECT_TRUE(in.fs.HasFile(L"C:\\Program Files\\Quorvant '99\\QV99.EXE"));  // row 8 stays
  EXPECT_FALSE(in.fs.HasFile(L"C:\\Program Files\\Quorvant '99\\DATA\\CUSTOMER.XLS"));
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, L"Setup Failed Due To An Error!");
  EXPECT_TRUE(in.kit.calls.empty());
}

TEST(CopyRun, AReadOnlyDestinationFileIsReportedNotOverwritten) {
  Installer in;
  in.AddPayload(500);
  in.fs.AddFile(L"C:\\Program Files\\Quorvant '99\\MSVBVM50.DLL", 9);
  in.fs.MakeReadOnly(L"C:\\Program Files\\Quorvant '99\\MSVBVM50.DLL");
  EXPECT_EQ(in.InstallInto(), 1);
  EXPECT_EQ(in.fs.SizeOf(L"C:\\Program Files\\Quorvant '99\\MSVBVM50.DLL"), 9u);  // left as it was
  EXPECT_TRUE(in.fs.HasFile(L"C:\\Program Files\\Quorvant '99\\DATA\\UHOH.WAV"));  // row 5 stays
  EXPECT_FALSE(in.fs.HasFile(L"C:\\Program Files\\Quorvant '99\\STDOLE2.TLB"));
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, L"Setup Failed Due To An Error!");
  EXPECT_TRUE(in.kit.calls.empty());
}

TEST(CopyRun, ASourceThatCannotBeOpenedStopsTheRun) {
  Installer in;
  in.AddPayload();
  in.fs.failOpen = L"STDOLE2.TL_";
  EXPECT_EQ(in.InstallInto(), 1);
  EXPECT_EQ(in.ui.messages.at(0).text, L"Setup Failed Due To An Error!");
  EXPECT_FALSE(in.fs.HasFile(L"C:\\Program Files\\Quorvant '99\\QV99.EXE"));
}

// --- A log-off or shutdown: refused while the run copies, the user's leaving before it.

constexpr const char* kRefused = "refuse session end ShowCopying: Quorvant '99 is being installed.";
constexpr const char* kAllowed = "allow session end ShowCopying";

ptrdiff_t At(const std::vector<std::string>& log, const std::string& entry) {
  return std::find(log.begin(), log.end(), entry) - log.begin();
}

TEST(SessionEnd, IsRefusedFromTheCopyWindowsLoadToTheFinalMessage) {
  Installer in;
  in.AddPayload();
  std::vector<bool> mayEnd;
  in.fs.duringCopy = [&] { mayEnd.push_back(in.app.SessionMayEnd()); };
  EXPECT_EQ(in.InstallInto(), 0);
  EXPECT_EQ(mayEnd, std::vector<bool>(20, false));
  const auto& log = in.ui.log;
  EXPECT_LT(At(log, "load ShowCopying"), At(log, kRefused));
  EXPECT_LT(At(log, kRefused), At(log, "show ShowCopying"));
  const auto lastRow = std::find(log.rbegin(), log.rend(), "refresh DestLabel").base() - log.begin() - 1;
  EXPECT_LT(lastRow, At(log, kAllowed));
  EXPECT_LT(At(log, kAllowed), At(log, "msgbox Quorvant '99 Installation Complete!"));
  EXPECT_TRUE(in.app.SessionMayEnd());
}

TEST(SessionEnd, AFailedRunAllowsItBeforeItsMessage) {
  Installer in;
  in.AddPayload();
  in.fs.failCopyTo = L"QV99.EXE";
  EXPECT_EQ(in.InstallInto(), 1);
  EXPECT_LT(At(in.ui.log, kRefused), At(in.ui.log, kAllowed));
  EXPECT_LT(At(in.ui.log, kAllowed), At(in.ui.log, "msgbox Setup Failed Due To An Error!"));
}

TEST(SessionEnd, OnTheWelcomePageEndsTheProgramAsTheUsersLeavingWithNothingWritten) {
  Installer in;
  in.AddPayload();
  in.ui.When(L"Welcome", [&](rt::Form&) {
    EXPECT_TRUE(in.app.SessionMayEnd());
    in.app.SessionEnds();
  });
  EXPECT_EQ(in.Run(), install::ExitCancelled);
  EXPECT_EQ(in.fs.Writes(), 0u);
}

TEST(SessionEnd, AtTheFinalMessageEndsTheProgramWithTheOutcomesCode) {
  for (int32_t made : {1, 0}) {
    Installer in;
    in.AddPayload();
    in.kit.result = made;
    in.ui.whileMessageUp = [&] {
      EXPECT_TRUE(in.app.SessionMayEnd());
      in.app.SessionEnds();
    };
    EXPECT_EQ(in.InstallInto(), made ? install::ExitInstalled : install::ExitFailed);
    EXPECT_EQ(in.ui.messages.size(), 1u);
  }
}

TEST(Completion, ResultZeroGivesTwoMessagesInOrder) {
  Installer in;
  in.AddPayload();
  in.kit.result = 0;
  EXPECT_EQ(in.InstallInto(), 1);
  ASSERT_EQ(in.ui.messages.size(), 2u);
  EXPECT_EQ(in.ui.messages[0].text, L"There was an error creating shortcuts.");
  EXPECT_EQ(in.ui.messages[0].title, L"Shortcut Error");
  EXPECT_EQ(in.ui.messages[0].style, rt::mb::Critical);
  EXPECT_EQ(in.ui.messages[1].text, L"Quorvant '99 was unsuccessfully installed.");
  EXPECT_EQ(in.ui.messages[1].title, L"Setup Error");
  EXPECT_EQ(in.ui.messages[1].style, rt::mb::Critical);
}

TEST(Completion, AnyNonzeroResultIsSuccess) {
  for (int32_t result : {1, 7, -1}) {
    Installer in;
    in.AddPayload();
    in.kit.result = result;
    EXPECT_EQ(in.InstallInto(), 0);
    ASSERT_EQ(in.ui.messages.size(), 1u);
    EXPECT_EQ(in.ui.messages[0].text, L"Quorvant '99 Installation Complete!");
  }
}

TEST(Completion, AMissingLibraryGoesBackToThePagesFailureMessage) {
  Installer in;
  in.AddPayload();
  in.kit.missing = true;
  EXPECT_EQ(in.InstallInto(), 1);
  for (const auto& row : InstallManifest) EXPECT_TRUE(in.fs.HasFile(in.constants.CopyTarget(row)));
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, L"Setup Failed Due To An Error!");
}

}  // namespace
