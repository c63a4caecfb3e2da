// Names that Windows keeps for devices, and names that only look like them: one table for every
// check that refuses device names (the destination rules, the setup library's shortcut names).
#pragma once

namespace device_names {

// Any case, any extension, spaces before the extension, and the superscript port digits.
inline const wchar_t* const kReserved[] = {
    L"CON",        L"prn",     L"Aux.txt", L"nul.tar.gz", L"CONIN$",   L"conout$", L"CONIN$.txt",
    L"COM1",       L"com9",    L"LPT1",    L"lpt9 .log",  L"prn  .x",  L"COM\u00b9", L"lpt\u00b2",
    L"Com\u00b3.ini",
};

// Longer, shorter or other digits: ordinary names.
inline const wchar_t* const kOrdinary[] = {
    L"COM10",   L"CONsole", L"COM0",       L"LPT0",  L"CONIN", L"CONOUT$x", L"NULL", L"xCON",
    L"AUX_1",   L"COM 1",   L"COM\u2074",  L"LPT\u00b9\u00b9",
};

}  // namespace device_names
