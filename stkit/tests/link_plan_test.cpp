#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "link_plan.h"
#include "tests/unit/device_names.h"

namespace {

using stkit::DirResult;
using stkit::LinkRequest;
using stkit::LinkDetails;

const std::wstring kPrograms = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs";  // every user's
const std::wstring kUserPrograms = L"C:\\Users\\ann\\Start Menu\\Programs";
const std::wstring kTarget = L"C:\\Program Files\\Quorvant '99\\QV99.EXE";

// Records what the shortcut maker does to the file system and shell.
class FakeWriter : public stkit::LinkWriter {
public:
    // The Programs folders found: every user's and the current user's (a missing one is not found).
    std::map<stkit::Scope, std::wstring> folders{{stkit::Scope::AllUsers, kPrograms},
                                                 {stkit::Scope::CurrentUser, kUserPrograms}};
    bool saveOk = true;
    std::set<std::wstring> unwritable;  // folders in which nothing can be made (not elevated)
    std::set<std::wstring> existing;   // directories that are already there
    std::set<std::wstring> unmakable;  // directories whose creation fails

    int programsCalls = 0;
    std::vector<std::wstring> made;     // every makeDir call, in order
    std::vector<std::wstring> removed;  // every removeDir call, in order
    std::vector<LinkDetails> saved;        // every save call

    bool programsFolder(stkit::Scope scope, std::wstring& path) override {
        ++programsCalls;
        auto found = folders.find(scope);
        if (found == folders.end()) return false;
        path = found->second;
        return true;
    }
    bool writable(const std::wstring& path) const {
        for (const std::wstring& folder : unwritable) {
            if (path.rfind(folder + L"\\", 0) == 0) return false;
        }
        return true;
    }
    DirResult makeDir(const std::wstring& path) override {
        made.push_back(path);
        if (unmakable.count(path) || !writable(path)) return DirResult::Failed;
        return existing.count(path) ? DirResult::Existed : DirResult::Created;
    }
    void removeDir(const std::wstring& path) override { removed.push_back(path); }
    bool save(const LinkDetails& details) override {
        saved.push_back(details);
        return saveOk && writable(details.linkPath);
    }
};

LinkRequest request(const std::wstring& folder, const std::wstring& name = L"Quorvant '99",
                    const std::wstring& target = kTarget, const std::wstring& arguments = L"") {
    return LinkRequest{folder, name, target, arguments};
}

// --- Where the link goes -------------------------------------------------------------------------

TEST(LinkPlacement, EmptyFolderPutsTheLinkInProgramsItself) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L""), w));
    EXPECT_TRUE(w.made.empty());
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].linkPath, kPrograms + L"\\Quorvant '99.lnk");
}

TEST(LinkPlacement, GroupIsCreatedBelowPrograms) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L"Quorvant"), w));
    EXPECT_EQ(w.made, std::vector<std::wstring>{kPrograms + L"\\Quorvant"});
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].linkPath, kPrograms + L"\\Quorvant\\Quorvant '99.lnk");
    EXPECT_TRUE(w.removed.empty());
}

TEST(LinkPlacement, NestedGroupCreatesEachLevelOutermostFirst) {
    for (const std::wstring folder : {L"Office\\Quorvant '99", L"Office/Quorvant '99", L"Office\\Quorvant '99\\"}) {
        SCOPED_TRACE(std::string(folder.begin(), folder.end()));
        FakeWriter w;
        w.existing.insert(kPrograms + L"\\Office");
        ASSERT_TRUE(stkit::createLink(request(folder), w));
        EXPECT_EQ(w.made, (std::vector<std::wstring>{kPrograms + L"\\Office", kPrograms + L"\\Office\\Quorvant '99"}));
        ASSERT_EQ(w.saved.size(), 1u);
        EXPECT_EQ(w.saved[0].linkPath, kPrograms + L"\\Office\\Quorvant '99\\Quorvant '99.lnk");
    }
}

TEST(LinkPlacement, ProgramsFolderWithTrailingBackslashIsNotDoubled) {
    EXPECT_EQ(stkit::joinPath(L"C:\\P\\", L"x.lnk"), L"C:\\P\\x.lnk");
    EXPECT_EQ(stkit::joinPath(L"C:\\P", L"x.lnk"), L"C:\\P\\x.lnk");
}

// --- What the link holds -------------------------------------------------------------------------

TEST(LinkContents, TargetArgumentsDescriptionAndIconComeFromTheRequest) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L"", L"Quorvant '99", kTarget, L"/data \"D:\\Quorvant Data\""), w));
    ASSERT_EQ(w.saved.size(), 1u);
    const LinkDetails& s = w.saved[0];
    EXPECT_EQ(s.target, kTarget);
    EXPECT_EQ(s.arguments, L"/data \"D:\\Quorvant Data\"");
    EXPECT_EQ(s.workingDirectory, L"C:\\Program Files\\Quorvant '99");
    EXPECT_EQ(s.description, L"Quorvant '99");
    EXPECT_EQ(s.iconPath, kTarget);
    EXPECT_EQ(s.iconIndex, 0);
}

TEST(LinkContents, EmptyArgumentsStayEmpty) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L""), w));
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].arguments, L"");
}

TEST(LinkContents, NonAsciiNameIsKept) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L"", L"Caf\u00e9 \u00c4"), w));
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].linkPath, kPrograms + L"\\Caf\u00e9 \u00c4.lnk");
    EXPECT_EQ(w.saved[0].description, L"Caf\u00e9 \u00c4");
}

TEST(LinkContents, WorkingDirectoryIsTheTargetsFolder) {
    struct Case {
        const wchar_t* target;
        const wchar_t* dir;
    };
    const Case cases[] = {
        {L"C:\\A\\B\\QV99.EXE", L"C:\\A\\B"},
        {L"C:\\QV99.EXE", L"C:\\"},  // "C:" alone would mean the drive's current directory
        {L"\\\\server\\share\\QV99.EXE", L"\\\\server\\share"},
        {L"QV99.EXE", L""},
        {L"C:QV99.EXE", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(stkit::workingDirectoryOf(c.target), c.dir);
    }
}

TEST(LinkContents, TargetWithoutBackslashGivesLinkWithoutWorkingDirectory) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L"", L"Quorvant '99", L"QV99.EXE"), w));
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].target, L"QV99.EXE");
    EXPECT_EQ(w.saved[0].workingDirectory, L"");
}

// --- Whose Start menu ---------------------------------------------------------------------------

TEST(LinkScope, ElevatedTheLinkGoesToEveryUsersProgramsOnly) {
    FakeWriter w;
    ASSERT_TRUE(stkit::createLink(request(L""), w));
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].linkPath, kPrograms + L"\\Quorvant '99.lnk");
}

TEST(LinkScope, WithoutTheRightToWriteThereItGoesToTheUsersOwn) {
    FakeWriter w;
    w.unwritable.insert(kPrograms);
    ASSERT_TRUE(stkit::createLink(request(L"Office\\Quorvant"), w));
    EXPECT_EQ(w.made, (std::vector<std::wstring>{kPrograms + L"\\Office", kUserPrograms + L"\\Office",
                                                 kUserPrograms + L"\\Office\\Quorvant"}));
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].linkPath, kUserPrograms + L"\\Office\\Quorvant\\Quorvant '99.lnk");
}

TEST(LinkScope, AFailedSaveInEveryUsersProgramsIsUndoneBeforeTheUsersOwnIsTried) {
    FakeWriter w;
    w.saveOk = false;
    EXPECT_FALSE(stkit::createLink(request(L"Quorvant"), w));
    EXPECT_EQ(w.saved.size(), 2u);
    EXPECT_EQ(w.removed, (std::vector<std::wstring>{kPrograms + L"\\Quorvant", kUserPrograms + L"\\Quorvant"}));
}

TEST(LinkScope, EveryUsersProgramsNotFoundGivesTheUsersOwn) {
    FakeWriter w;
    w.folders.erase(stkit::Scope::AllUsers);
    ASSERT_TRUE(stkit::createLink(request(L""), w));
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved[0].linkPath, kUserPrograms + L"\\Quorvant '99.lnk");
}

// --- Failures: no shortcut, and nothing left behind ----------------------------------------------

TEST(LinkFailure, FailingProgramsLookupMakesNothing) {
    FakeWriter w;
    w.folders.clear();
    EXPECT_FALSE(stkit::createLink(request(L"Quorvant"), w));
    EXPECT_TRUE(w.made.empty());
    EXPECT_TRUE(w.saved.empty());
}

TEST(LinkFailure, FailingSaveRemovesOnlyTheGroupLevelsItCreated) {
    FakeWriter w;
    w.folders.erase(stkit::Scope::CurrentUser);
    w.saveOk = false;
    w.existing.insert(kPrograms + L"\\Office");
    EXPECT_FALSE(stkit::createLink(request(L"Office\\Quorvant\\Tools"), w));
    EXPECT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.removed, (std::vector<std::wstring>{kPrograms + L"\\Office\\Quorvant\\Tools",
                                                     kPrograms + L"\\Office\\Quorvant"}));
}

TEST(LinkFailure, FailingSaveInProgramsItselfRemovesNothing) {
    FakeWriter w;
    w.folders.erase(stkit::Scope::CurrentUser);
    w.saveOk = false;
    EXPECT_FALSE(stkit::createLink(request(L""), w));
    EXPECT_TRUE(w.removed.empty());
}

TEST(LinkFailure, FailingGroupCreationSavesNothingAndUndoesEarlierLevels) {
    FakeWriter w;
    w.folders.erase(stkit::Scope::CurrentUser);
    w.unmakable.insert(kPrograms + L"\\Office\\Quorvant");
    EXPECT_FALSE(stkit::createLink(request(L"Office\\Quorvant\\Tools"), w));
    EXPECT_EQ(w.made, (std::vector<std::wstring>{kPrograms + L"\\Office", kPrograms + L"\\Office\\Quorvant"}));
    EXPECT_TRUE(w.saved.empty());
    EXPECT_EQ(w.removed, std::vector<std::wstring>{kPrograms + L"\\Office"});
}

TEST(LinkFailure, EmptyTargetIsRejected) {
    FakeWriter w;
    EXPECT_FALSE(stkit::createLink(request(L"", L"Quorvant '99", L""), w));
    EXPECT_TRUE(w.saved.empty());
}

// Bad arguments are refused before anything is looked up, created or saved.
void expectRejected(const LinkRequest& r) {
    FakeWriter w;
    EXPECT_FALSE(stkit::createLink(r, w));
    EXPECT_EQ(w.programsCalls, 0);
    EXPECT_TRUE(w.made.empty());
    EXPECT_TRUE(w.saved.empty());
}

TEST(LinkFailure, BadNamesAreRejected) {
    const std::wstring names[] = {
        L"",        L"a\\b",  L"a/b",  L"a:b",  L"a*b",   L"a?b",         L"a\"b", L"a<b",
        L"a>b",     L"a|b",   L"tab\t", std::wstring(L"nul\0x", 5), L"CON", L"nul", L"Com1", L"lpt9",
    };
    for (const std::wstring& name : names) {
        SCOPED_TRACE(testing::Message() << "name #" << (&name - names));
        expectRejected(request(L"", name));
    }
}

// The same device names as the destination rules refuse, as a shortcut name and as a group level.
TEST(LinkFailure, ReservedDeviceNamesAreRejectedAndLookAlikesAccepted) {
    std::vector<std::wstring> levels;
    for (const wchar_t* name : device_names::kReserved) {
        SCOPED_TRACE(testing::Message() << "reserved: " << testing::PrintToString(std::wstring(name)));
        EXPECT_FALSE(stkit::isValidLinkName(name));
        EXPECT_FALSE(stkit::splitGroup(L"Quorvant\\" + std::wstring(name), levels));
    }
    for (const wchar_t* name : device_names::kOrdinary) {
        SCOPED_TRACE(testing::Message() << "ordinary: " << testing::PrintToString(std::wstring(name)));
        EXPECT_TRUE(stkit::isValidLinkName(name));
        EXPECT_TRUE(stkit::splitGroup(L"Quorvant\\" + std::wstring(name), levels));
    }
}

TEST(LinkFailure, BadFoldersAreRejected) {
    const std::wstring folders[] = {
        L"\\Quorvant", L"/Quorvant", L"C:\\Quorvant", L"C:Quorvant", L"\\\\server\\share",
        L"..",         L"A\\..\\B",  L".",            L"A\\.\\B",    L"A\\\\B",
        L"A*",         L"A?",        L"A|B",          L"Group.",     L"Group ",
        L"CON",        L"A\\aux",    L"\\",
    };
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(testing::Message() << "folder #" << (&folder - folders));
        expectRejected(request(folder));
    }
}

TEST(LinkFailure, OrdinaryNamesAndFoldersAreAccepted) {
    for (const std::wstring name : {L"Quorvant '99", L"Readme (1)", L"v1.0 notes", L"CONsole", L"COM10", L"x."}) {
        EXPECT_TRUE(stkit::isValidLinkName(name));
    }
    std::vector<std::wstring> levels;
    ASSERT_TRUE(stkit::splitGroup(L"Quorvant '99\\Tools & Utilities", levels));
    EXPECT_EQ(levels, (std::vector<std::wstring>{L"Quorvant '99", L"Tools & Utilities"}));
}

}  // namespace
