// The wizard as a user walks it: start-up, welcome page, destination page and folder chooser,
// up to the hand-over to the copy window.
#include <gtest/gtest.h>

#include "fakes.h"

namespace {

using Log = std::vector<std::string>;

size_t IndexOf(const Log& log, const std::string& entry) {
  auto it = std::find(log.begin(), log.end(), entry);
  return it == log.end() ? log.size() : static_cast<size_t>(it - log.begin());
}

TEST(StartUp, MakesTheInstallerFolderCurrentThenShowsBackdropThenWelcomeModal) {
  Installer in(L"D:\\DISK1");
  in.fs.ChangeDirectory(L"C:\\windows");  // started from elsewhere
  in.fs.calls.clear();
  in.ui.WhenClick(L"Welcome", L"Command3");
  EXPECT_EQ(in.Run(), 2);
  EXPECT_EQ(in.fs.calls.front(), "chdir D:\\DISK1");
  EXPECT_EQ(in.fs.CurrentDirectory(), L"D:\\DISK1");
  const Log& log = in.ui.log;
  EXPECT_LT(IndexOf(log, "show SetupMain"), IndexOf(log, "load Welcome"));
  EXPECT_LT(IndexOf(log, "load Welcome"), IndexOf(log, "modal Welcome"));
  EXPECT_TRUE(in.program.SetupMain.Def().startMaximized);
}

TEST(StartUp, AFolderThatCannotBeMadeCurrentNeverOpensTheWizard) {
  Installer gone(L"Q:\\NOWHERE", /*createFolder=*/false);
  EXPECT_EQ(gone.Run(), 1);
  ASSERT_EQ(gone.ui.messages.size(), 1u);
  EXPECT_NE(gone.ui.messages[0].text.find(L"Run-time error '76'"), std::wstring::npos);
  EXPECT_FALSE(gone.ui.Contains("load Welcome"));
}

TEST(Welcome, CentredAndCancelEndsWithNothingWritten) {
  Installer in;
  in.ui.When(L"Welcome", [&](rt::Form& f) {
    const double w = f.Width(), h = f.Height();
    EXPECT_DOUBLE_EQ(f.Top(), in.ui.screenHeightTwips / 2 - h / 2);
    EXPECT_DOUBLE_EQ(f.Left(), in.ui.screenWidthTwips / 2 - w / 2);
    in.ui.Click(f, L"Command3");
  });
  EXPECT_EQ(in.Run(), 2);
  EXPECT_TRUE(in.ui.messages.empty());
  EXPECT_EQ(in.fs.Writes(), 0u);
}

// That a click on the disabled Back does nothing is Windows' part, seen end to end in
// tests/e2e/test_wizard.py; here only the definition that asks for it.
TEST(Welcome, BackIsDisabledAndEnterMeansNext) {
  Installer in;
  in.ui.When(L"Welcome", [&](rt::Form& f) {
    EXPECT_FALSE(f[L"Command1"].Enabled());
    EXPECT_TRUE(f[L"Command2"].Def().isDefault);
    in.ui.PressEnter(f);
  });
  in.ui.When(L"Where", [&](rt::Form& f) { in.ui.Click(f, L"Command3"); });
  EXPECT_EQ(in.Run(), 2);
  EXPECT_TRUE(in.ui.Contains("modal Where"));
}

TEST(Welcome, ClosingItsFrameLeavesTheBackdropUntilThatIsClosed) {
  Installer in;
  in.ui.When(L"Welcome", [&](rt::Form& f) { in.ui.CloseBox(f); });
  in.ui.When(L"SetupMain", [&](rt::Form& f) {
    EXPECT_TRUE(f.IsLoaded());
    EXPECT_EQ(in.app.LoadedForms().size(), 1u);
    in.ui.CloseBox(f);
  });
  EXPECT_EQ(in.Run(), -1);  // the main loop ran out of windows, not an end statement
  EXPECT_TRUE(in.stall.empty()) << headless::Narrow(in.stall);
  EXPECT_TRUE(in.app.LoadedForms().empty());
  EXPECT_TRUE(in.ui.Contains("modal-returned Welcome"));
}

TEST(Where, BackThenNextShowsTheInitialFolderAgain) {
  Installer in;
  in.ui.WhenClick(L"Welcome", L"Command2");
  in.ui.When(L"Where", [&](rt::Form& f) {
    f[L"Label5"].SetCaption(L"E:\\Elsewhere");
    in.ui.Click(f, L"Command1");
  });
  in.ui.WhenClick(L"Welcome", L"Command2");
  in.ui.When(L"Where", [&](rt::Form& f) {
    EXPECT_EQ(f[L"Label5"].Caption(), L"C:\\Program Files\\Quorvant '99");
    EXPECT_TRUE(f[L"Command1"].Enabled());
    in.ui.Click(f, L"Command3");
  });
  EXPECT_EQ(in.Run(), 2);
  EXPECT_EQ(std::count(in.ui.log.begin(), in.ui.log.end(), "load Where"), 2);
  EXPECT_EQ(in.fs.Writes(), 0u);
}

TEST(Where, NextFixesThePathsAndCreatesBothFolders) {
  Installer in(L"D:\\DISK1");
  in.AddPayload();
  EXPECT_EQ(in.InstallInto(L"C:\\Program Files\\Quorvant '99"), 0);
  EXPECT_EQ(in.constants.SourcePath, L"D:\\DISK1\\");
  EXPECT_EQ(in.constants.DestPath, L"C:\\Program Files\\Quorvant '99\\");
  EXPECT_TRUE(in.fs.HasFolder(L"C:\\Program Files\\Quorvant '99\\DATA"));
  const Log& log = in.ui.log;
  // Both pages go before the copy window comes.
  EXPECT_LT(IndexOf(log, "unload Where"), IndexOf(log, "load ShowCopying"));
  EXPECT_LT(IndexOf(log, "unload Welcome"), IndexOf(log, "load ShowCopying"));
}

TEST(Where, ADriveRootGetsNoSecondBackslash) {
  Installer in(L"D:\\");
  in.AddPayload();
  in.fs.AddFolder(L"E:\\");
  EXPECT_EQ(in.InstallInto(L"E:\\"), 0);
  EXPECT_EQ(in.constants.SourcePath, L"D:\\");
  EXPECT_EQ(in.constants.DestPath, L"E:\\");
  EXPECT_TRUE(in.fs.HasFolder(L"E:\\DATA"));
  EXPECT_TRUE(in.fs.HasFile(L"E:\\DATA\\LICENSE.TXT"));
}

TEST(Where, ExistingFoldersAreFineAndTheRunStarts) {
  Installer in;
  in.AddPayload();
  in.fs.AddFolder(L"C:\\Apps\\Q99\\DATA");
  EXPECT_EQ(in.InstallInto(L"C:\\Apps\\Q99"), 0);
  EXPECT_TRUE(in.ui.Contains("load ShowCopying"));
  EXPECT_EQ(in.ui.messages.back().text, L"Quorvant '99 Installation Complete!");
}

TEST(Where, AMissingParentIsSkippedSilentlyAndTheRunReportsTheFailure) {
  Installer in;
  in.AddPayload();
  EXPECT_EQ(in.InstallInto(L"C:\\New\\Sub"), 1);
  EXPECT_FALSE(in.fs.HasFolder(L"C:\\New"));
  EXPECT_TRUE(in.ui.Contains("load ShowCopying"));
  // The first copy cannot land: the run stops and the page reports it, never success.
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_EQ(in.ui.messages[0].text, L"Setup Failed Due To An Error!");
  EXPECT_EQ(in.ui.messages[0].title, L"Setup");
  EXPECT_EQ(in.ui.messages[0].style, rt::mb::Exclamation);
  EXPECT_TRUE(in.ui.visible[L"ShowCopying"]);
}

TEST(Where, ABadDestinationIsRefusedAndTheUserStaysOnThePage) {
  for (const std::wstring bad : {L"", L"   ", L"Program Files\\Q", L"C:", L"C:foo", L"\\foo", L"C:\\a<b",
                                 L"C:\\CON", L"C:\\nul.txt\\x", L"C:\\dir.", L"C:\\dir ", L"\\\\server"}) {
    Installer in;
    in.AddPayload();
    in.ui.WhenClick(L"Welcome", L"Command2");
    in.ui.When(L"Where", [&](rt::Form& f) {
      f[L"Label5"].SetCaption(bad);
      in.ui.Click(f, L"Command2");
      EXPECT_TRUE(f.IsLoaded()) << headless::Narrow(bad);
      in.ui.Click(f, L"Command3");
    });
    EXPECT_EQ(in.Run(), 2) << headless::Narrow(bad);
    ASSERT_EQ(in.ui.messages.size(), 1u) << headless::Narrow(bad);
    EXPECT_EQ(in.ui.messages[0].title, L"Setup");
    EXPECT_EQ(in.ui.messages[0].owner, L"Where");
    EXPECT_EQ(in.fs.Writes(), 0u) << headless::Narrow(bad);
    EXPECT_FALSE(in.ui.Contains("load ShowCopying"));
  }
}

// The folder chooser.

struct Chooser : ::testing::Test {
  Installer in{L"D:\\DISK1"};
  void SetUp() override {
    in.fs.AddFolder(L"D:\\DISK1\\EXTRA");
    in.fs.AddFolder(L"E:\\Apps");
    in.ui.WhenClick(L"Welcome", L"Command2");
    in.ui.WhenClick(L"Where", L"Command4");
  }
  void ThenCancelAll() {
    in.ui.WhenClick(L"Where", L"Command3");
  }
};

TEST_F(Chooser, StartsWithThePagesFolderAndTheInstallersDriveAndDirectory) {
  in.ui.When(L"Path", [&](rt::Form& f) {
    EXPECT_EQ(f[L"Text1"].Text(), L"C:\\Program Files\\Quorvant '99");
    EXPECT_EQ(f[L"Dir1"].Path(), L"D:\\DISK1");
    EXPECT_EQ(f[L"Drive1"].Drive(), L"d:");
    const auto& items = f[L"Dir1"].DirItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].name, L"D:\\");
    EXPECT_EQ(items[1].name, L"DISK1");
    EXPECT_EQ(items[2].path, L"D:\\DISK1\\EXTRA");
    EXPECT_EQ(f[L"Dir1"].ListIndex(), 1);
    in.ui.Click(f, L"Command1");  // OK untouched
  });
  in.ui.When(L"Where", [&](rt::Form& f) {
    EXPECT_EQ(f[L"Label5"].Caption(), L"C:\\Program Files\\Quorvant '99");
    in.ui.Click(f, L"Command3");
  });
  EXPECT_EQ(in.Run(), 2);
}

TEST_F(Chooser, TypedTextGoesBackUnchangedOnOk) {
  in.ui.When(L"Path", [&](rt::Form& f) {
    in.ui.Focus(f, L"Text1");
    EXPECT_EQ(in.ui.selection[L"Text1"], std::make_pair(0, 29));  // the whole text
    in.ui.Type(f, L"Text1", L"E:\\Apps\\Q99");
    in.ui.PressEnter(f);
  });
  in.ui.When(L"Where", [&](rt::Form& f) {
    EXPECT_EQ(f[L"Label5"].Caption(), L"E:\\Apps\\Q99");
    in.ui.Click(f, L"Command3");
  });
  EXPECT_EQ(in.Run(), 2);
}

TEST_F(Chooser, ChoosingAFolderFillsTheTextButCancelKeepsTheLabelAndRestoresTheDirectory) {
  in.ui.When(L"Path", [&](rt::Form& f) {
    in.ui.PickDrive(f, L"Drive1", 2);  // c:, d:, e:
    EXPECT_EQ(f[L"Dir1"].Path(), L"E:\\");
    EXPECT_EQ(f[L"Text1"].Text(), L"E:\\");
    in.ui.OpenFolder(f, L"Dir1", 1);  // Apps
    EXPECT_EQ(f[L"Text1"].Text(), L"E:\\Apps");
    in.fs.ChangeDirectory(L"E:\\Apps");  // wherever the current directory went meanwhile
    in.ui.Click(f, L"Command2");
  });
  in.ui.When(L"Where", [&](rt::Form& f) {
    EXPECT_EQ(f[L"Label5"].Caption(), L"C:\\Program Files\\Quorvant '99");
    EXPECT_EQ(in.fs.CurrentDirectory(), L"D:\\DISK1");
    in.ui.Click(f, L"Command3");
  });
  EXPECT_EQ(in.Run(), 2);
}

TEST_F(Chooser, TheCloseBoxAlsoRestoresTheDirectory) {
  in.ui.When(L"Path", [&](rt::Form& f) {
    in.ui.PickDrive(f, L"Drive1", 0);
    in.fs.ChangeDirectory(L"C:\\");
    in.ui.CloseBox(f);
  });
  in.ui.When(L"Where", [&](rt::Form& f) {
    EXPECT_EQ(in.fs.CurrentDirectory(), L"D:\\DISK1");
    EXPECT_FALSE(in.program.Path.IsLoaded());
    in.ui.Click(f, L"Command3");
  });
  EXPECT_EQ(in.Run(), 2);
}

TEST_F(Chooser, ADriveThatIsNotReadyIsReportedAndTheListStays) {
  in.fs.SetDrive(L'A', L"", false);
  in.ui.When(L"Path", [&](rt::Form& f) {
    ASSERT_EQ(f[L"Drive1"].DriveItems().front(), L"a:");
    in.ui.PickDrive(f, L"Drive1", 0);
    EXPECT_TRUE(f.IsLoaded());
    EXPECT_EQ(f[L"Dir1"].Path(), L"D:\\DISK1");
    EXPECT_EQ(f[L"Drive1"].Drive(), L"d:");
    in.ui.Click(f, L"Command2");
  });
  in.ui.WhenClick(L"Where", L"Command3");
  EXPECT_EQ(in.Run(), 2);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_NE(in.ui.messages[0].text.find(L"Drive A: is not ready"), std::wstring::npos);
}

// Started from a network folder, the lists begin on no drive; a drive that is not ready brings
// them back there with the same report, instead of failing on a path without a drive letter.
TEST(NetworkFolder, ADriveThatIsNotReadyIsReportedAndTheListsStayOnTheShare) {
  Installer in{L"\\\\SERVER\\SHARE\\SETUP"};
  in.fs.SetDrive(L'A', L"", false);
  in.ui.WhenClick(L"Welcome", L"Command2");
  in.ui.WhenClick(L"Where", L"Command4");
  in.ui.When(L"Path", [&](rt::Form& f) {
    EXPECT_EQ(f[L"Drive1"].Drive(), L"");
    in.ui.PickDrive(f, L"Drive1", 0);
    EXPECT_TRUE(f.IsLoaded());
    EXPECT_EQ(f[L"Dir1"].Path(), L"\\\\SERVER\\SHARE\\SETUP");
    EXPECT_EQ(f[L"Drive1"].Drive(), L"");
    EXPECT_EQ(f[L"Drive1"].ListIndex(), -1);
    in.ui.Click(f, L"Command2");
  });
  in.ui.WhenClick(L"Where", L"Command3");
  EXPECT_EQ(in.Run(), 2);
  ASSERT_EQ(in.ui.messages.size(), 1u);
  EXPECT_NE(in.ui.messages[0].text.find(L"Drive A: is not ready"), std::wstring::npos);
  EXPECT_EQ(in.fs.CurrentDirectory(), L"\\\\SERVER\\SHARE\\SETUP");
}

}  // namespace
