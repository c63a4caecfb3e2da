// lnkinfo: reads a shell link through the shell's link object and prints its contents as one JSON
// object on stdout. Non-ASCII characters are written as \uXXXX escapes, so the output is plain ASCII.
//
//   lnkinfo <file.lnk>   {"path":..,"target":..,"arguments":..,"workingDirectory":..,
//                         "description":..,"iconLocation":..,"iconIndex":n}
//   lnkinfo --programs   every user's Start menu Programs folder, then the current user's: two lines
//
// Exit status: 0 success, 1 the link or folder could not be read, 2 wrong usage.

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdio>
#include <string>

#include "../src/com_owners.h"

namespace {

using stkit::ComApartment;
using stkit::ComRef;

void put(const std::string& s) {
    std::fwrite(s.data(), 1, s.size(), stdout);
}

std::string jsonString(const std::wstring& s) {
    std::string out = "\"";
    for (wchar_t c : s) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
            out += buf;
        }
    }
    return out + "\"";
}

std::string utf8(const std::wstring& s) {
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

int fail(const char* what, HRESULT hr) {
    std::fprintf(stderr, "lnkinfo: %s (0x%08lx)\n", what, static_cast<unsigned long>(hr));
    return 1;
}

int printPrograms() {
    std::string out;
    for (int folder : {CSIDL_COMMON_PROGRAMS, CSIDL_PROGRAMS}) {
        wchar_t buf[MAX_PATH];
        HRESULT hr = SHGetFolderPathW(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buf);
        if (hr != S_OK) return fail("cannot find a Programs folder", hr);
        out += utf8(buf) + "\n";
    }
    put(out);
    return 0;
}

int printLink(const wchar_t* path) {
    ComApartment apartment;
    if (!apartment.ok()) return fail("cannot initialise COM", E_FAIL);
    ComRef<IShellLinkW> link;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(link.put()));
    if (FAILED(hr)) return fail("cannot create the shell link object", hr);
    ComRef<IPersistFile> file;
    hr = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put()));
    if (FAILED(hr)) return fail("the shell link object has no IPersistFile", hr);
    hr = file->Load(path, STGM_READ);
    if (FAILED(hr)) return fail("cannot load the link", hr);

    wchar_t target[MAX_PATH * 4] = L"";
    wchar_t arguments[INFOTIPSIZE * 4] = L"";
    wchar_t workdir[MAX_PATH * 4] = L"";
    wchar_t description[INFOTIPSIZE * 4] = L"";
    wchar_t icon[MAX_PATH * 4] = L"";
    int iconIndex = 0;
    // A getter that fails leaves its string empty: the field is reported as absent rather than guessed.
    if (link->GetPath(target, ARRAYSIZE(target), nullptr, SLGP_RAWPATH) != S_OK) target[0] = 0;
    if (FAILED(link->GetArguments(arguments, ARRAYSIZE(arguments)))) arguments[0] = 0;
    if (FAILED(link->GetWorkingDirectory(workdir, ARRAYSIZE(workdir)))) workdir[0] = 0;
    if (FAILED(link->GetDescription(description, ARRAYSIZE(description)))) description[0] = 0;
    if (FAILED(link->GetIconLocation(icon, ARRAYSIZE(icon), &iconIndex))) icon[0] = 0;

    std::string out = "{";
    out += "\"path\":" + jsonString(path);
    out += ",\"target\":" + jsonString(target);
    out += ",\"arguments\":" + jsonString(arguments);
    out += ",\"workingDirectory\":" + jsonString(workdir);
    out += ",\"description\":" + jsonString(description);
    out += ",\"iconLocation\":" + jsonString(icon);
    out += ",\"iconIndex\":" + std::to_string(iconIndex);
    out += "}\n";
    put(out);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"--programs") return printPrograms();
    if (argc == 2 && argv[1][0] != L'-') return printLink(argv[1]);
    std::fprintf(stderr, "usage: lnkinfo <file.lnk> | lnkinfo --programs\n");
    return 2;
}
