// Windows path rules that need no Windows: reserved device names and drive prefixes.
//
// Compiled into SETUP.EXE (the destination rules, the runtime's drive list, the file services)
// and into STKIT432.DLL (shortcut names and working folders), so both programs refuse and accept
// the same names. The DLL is built without exceptions: nothing here allocates or throws.
#pragma once

#include <string_view>

namespace platform {

// True when `component` (one file or folder name, no separators) names a device: CON, PRN, AUX,
// NUL, CONIN$, CONOUT$, COM1-COM9 and LPT1-LPT9 (also with the superscript digits 1, 2 and 3),
// in any case, with any extension and with spaces before the extension ("lpt9 .log").
bool IsReservedDeviceName(std::wstring_view component);

// The drive `path` begins with, upper-case: 'C' for "c:", "C:\x" or "c: [label]"; 0 when it
// does not begin with an ASCII letter and a colon.
wchar_t DriveLetterOf(std::wstring_view path);

// True when `path` begins with a drive's root directory, "X:\".
bool StartsWithDriveRoot(std::wstring_view path);

}  // namespace platform
