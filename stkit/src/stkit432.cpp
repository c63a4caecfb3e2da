// STKIT432.DLL: makes a Start menu shortcut with the shell's own link object, in every user's
// Programs folder where the process can write there (it runs elevated), else in the current user's.
//
//   long __stdcall fCreateShellLink(const char* folder, const char* name, const char* target,
//                                   const char* arguments);
//
// The strings are ANSI (the system code page, which may be UTF-8). The result is 0 when no shortcut was made and nonzero
// only after the link file has been saved. Nothing else is written.
//
// Build switches for end-to-end tests of the caller:
//   STKIT_ALWAYS_FAIL       makes nothing and always returns 0
//   STKIT_SUCCESS_RESULT=n  the value returned after a saved link (default 1)
//   STKIT_USES_HELPER       imports StkHelper from STKHELP.DLL and calls it first, so that a test
//                           can see where the library's own imports are looked for
// (src/noentry.def builds a third misfit: the function exported only under its decorated name.)

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>

#include "com_owners.h"
#include "from_ansi.h"
#include "link_plan.h"

#ifdef STKIT_USES_HELPER
extern "C" __declspec(dllimport) int StkHelper(void);
#endif

#ifndef STKIT_SUCCESS_RESULT
#define STKIT_SUCCESS_RESULT 1
#endif

namespace {

#ifndef STKIT_ALWAYS_FAIL
using stkit::ComApartment;
using stkit::ComRef;

class ShellLinkWriter final : public stkit::LinkWriter {
public:
    bool programsFolder(stkit::Scope scope, std::wstring& path) override {
        wchar_t buf[MAX_PATH];
        const int folder = scope == stkit::Scope::AllUsers ? CSIDL_COMMON_PROGRAMS : CSIDL_PROGRAMS;
        if (SHGetFolderPathW(nullptr, folder | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK) {
            return false;
        }
        path = buf;
        return true;
    }

    stkit::DirResult makeDir(const std::wstring& path) override {
        if (CreateDirectoryW(path.c_str(), nullptr)) return stkit::DirResult::Created;
        if (GetLastError() == ERROR_ALREADY_EXISTS) {
            DWORD attrs = GetFileAttributesW(path.c_str());
            if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
                return stkit::DirResult::Existed;
            }
        }
        return stkit::DirResult::Failed;
    }

    void removeDir(const std::wstring& path) override { RemoveDirectoryW(path.c_str()); }

    bool save(const stkit::LinkDetails& details) override {
        ComApartment apartment;
        ComRef<IShellLinkW> link;
        if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                    reinterpret_cast<void**>(link.put())))) {
            return false;
        }
        if (FAILED(link->SetPath(details.target.c_str())) || FAILED(link->SetArguments(details.arguments.c_str())) ||
            FAILED(link->SetDescription(details.description.c_str())) ||
            FAILED(link->SetIconLocation(details.iconPath.c_str(), details.iconIndex))) {
            return false;
        }
        if (!details.workingDirectory.empty() && FAILED(link->SetWorkingDirectory(details.workingDirectory.c_str()))) {
            return false;
        }
        ComRef<IPersistFile> file;
        if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) return false;
        return file->Save(details.linkPath.c_str(), TRUE) == S_OK;
    }
};

long createShellLink(const char* folder, const char* name, const char* target, const char* arguments) {
    stkit::LinkRequest request;
    // The caller converts with the system's code page (GetACP()), which CP_ACP names here.
    if (!stkit::FromAnsi(folder, CP_ACP, request.folder) || !stkit::FromAnsi(name, CP_ACP, request.name) ||
        !stkit::FromAnsi(target, CP_ACP, request.target) || !stkit::FromAnsi(arguments, CP_ACP, request.arguments)) {
        return 0;
    }
    ShellLinkWriter writer;
    return stkit::createLink(request, writer) ? STKIT_SUCCESS_RESULT : 0;
}
#endif

}  // namespace

extern "C" long __stdcall fCreateShellLink(const char* folder, const char* name,
                                            const char* target, const char* arguments) {
#ifdef STKIT_USES_HELPER
    StkHelper();
#endif
#ifdef STKIT_ALWAYS_FAIL
    (void)folder;
    (void)name;
    (void)target;
    (void)arguments;
    return 0;
#else
    return createShellLink(folder, name, target, arguments);
#endif
}
