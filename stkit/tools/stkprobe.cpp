// stkprobe: loads a STKIT432.DLL by path and calls its fCreateShellLink once, the way the installer
// does: by name through GetProcAddress, with ANSI strings, stdcall.
//
//   stkprobe <dll path> <folder> <name> <target> <arguments>
//
// Prints "fCreateShellLink returned <n>". Exit status: 0 the call was made, 2 wrong usage,
// 3 the DLL did not load, 4 it has no fCreateShellLink, 5 an argument has no ANSI form.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

typedef long(__stdcall* CreateShellLinkFn)(const char*, const char*, const char*, const char*);

bool toAnsi(const wchar_t* s, std::string& out) {
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, s, -1, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy) return false;
    out.assign(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, s, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: stkprobe <dll path> <folder> <name> <target> <arguments>\n");
        return 2;
    }
    std::string args[4];
    for (int i = 0; i < 4; ++i) {
        if (!toAnsi(argv[i + 2], args[i])) {
            std::fprintf(stderr, "stkprobe: argument %d has no ANSI form\n", i + 1);
            return 5;
        }
    }
    HMODULE dll = LoadLibraryW(argv[1]);
    if (dll == nullptr) {
        std::fprintf(stderr, "stkprobe: LoadLibrary failed (%lu)\n", GetLastError());
        return 3;
    }
    auto fn = reinterpret_cast<CreateShellLinkFn>(reinterpret_cast<void*>(GetProcAddress(dll, "fCreateShellLink")));
    if (fn == nullptr) {
        std::fprintf(stderr, "stkprobe: no fCreateShellLink (%lu)\n", GetLastError());
        FreeLibrary(dll);
        return 4;
    }
    long result = fn(args[0].c_str(), args[1].c_str(), args[2].c_str(), args[3].c_str());
    std::printf("fCreateShellLink returned %ld\n", result);
    FreeLibrary(dll);
    return 0;
}
