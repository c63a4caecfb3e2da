// Portable part of the shortcut maker: which folders to create, where the link file goes and what it
// holds. No Windows headers here, so the rules can be tested natively; the shell and file system are
// reached only through LinkWriter.
#pragma once

#include <string>
#include <vector>

namespace stkit {

// What the caller asked for, already converted to wide strings.
struct LinkRequest {
    std::wstring folder;     // program group below the Programs folder; empty = the Programs folder itself
    std::wstring name;       // shortcut name, without ".lnk"
    std::wstring target;     // path of the program the shortcut starts
    std::wstring arguments;  // command-line arguments stored in the shortcut
};

// Everything that goes into one link file.
struct LinkDetails {
    std::wstring linkPath;          // full path of the .lnk file
    std::wstring target;
    std::wstring arguments;
    std::wstring workingDirectory;  // empty when the target has no folder part
    std::wstring description;
    std::wstring iconPath;
    int iconIndex = 0;
};

enum class DirResult { Created, Existed, Failed };

// Whose Start menu: every user's (where a program installed for all users belongs), or the
// current user's.
enum class Scope { AllUsers, CurrentUser };

// The side effects, implemented with the shell's link object on Windows and with fakes in tests.
struct LinkWriter {
    virtual ~LinkWriter() = default;
    // The Start menu Programs folder of `scope`.
    virtual bool programsFolder(Scope scope, std::wstring& path) = 0;
    // Makes one directory whose parent exists.
    virtual DirResult makeDir(const std::wstring& path) = 0;
    // Removes an empty directory this run created (used to undo after a failed save).
    virtual void removeDir(const std::wstring& path) = 0;
    // Writes the link file; true only when the file was saved.
    virtual bool save(const LinkDetails& details) = 0;
};

// A single file-name component: non-empty, no characters Windows forbids in file names, not "." or
// "..", no trailing dot or space (Windows would silently strip them), not a reserved device name.
bool isValidComponent(const std::wstring& s);

// Shortcut name: a valid component once ".lnk" is appended.
bool isValidLinkName(const std::wstring& name);

// Splits a program-group argument into its levels. Accepts '\' and '/' as separators and one trailing
// separator; rejects absolute paths, empty levels, "." and "..", and forbidden characters.
// An empty argument gives an empty list (the Programs folder itself).
bool splitGroup(const std::wstring& folder, std::vector<std::wstring>& levels);

// The folder part of a target path: everything before its last backslash ("C:\A\B\X.EXE" -> "C:\A\B").
// A target directly in a drive root keeps the backslash ("C:\X.EXE" -> "C:\"), because "C:" alone
// would mean the drive's current directory. A target without a backslash has no folder: "".
std::wstring workingDirectoryOf(const std::wstring& target);

// Joins a directory and a component with exactly one backslash between them.
std::wstring joinPath(const std::wstring& dir, const std::wstring& component);

// True when the request can make a link: a target, a valid name and a valid group (split into levels).
bool checkRequest(const LinkRequest& request, std::vector<std::wstring>& levels);

// Validates the request and fills in the link: on success details holds the link to write and dirs the
// group directories to make, outermost first.
bool planLink(const LinkRequest& request, const std::wstring& programs, std::vector<std::wstring>& dirs,
              LinkDetails& details);

// The whole operation: look up the Programs folder, create the group, save the link. Returns true
// only when the link file was saved. The link goes into every user's Programs folder where the
// process can write there (the installer runs elevated and installs for all users, and the person
// who installs may have been elevated with another account's credentials), else into the current
// user's. Directories it created in a folder where the save failed are removed again.
bool createLink(const LinkRequest& request, LinkWriter& writer);

}  // namespace stkit
