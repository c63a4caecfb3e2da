// uia's accessibility client: what a screen reader gets from a program through the system's
// accessibility interfaces (oleacc), not from the windows themselves.
//
//   uia accessible <window>          the window and each control below it, in windows' order:
//                                    accessible name, value, role (a number) and the states
//                                    focused, focusable, unavailable and invisible, and the
//                                    name as a late-bound client (IDispatch) reads it
//   uia events <ms> <ready> <stop>   records the accessibility events of other programs (an
//                                    out-of-context hook) from the moment the file <ready> is
//                                    written until the file <stop> exists or <ms> have passed;
//                                    each event with the text the system keeps for its window
//                                    when uia gets it (a button's, a label's or a window's
//                                    accessible name), asking the program nothing
#pragma once

#include <windows.h>

#include "json.h"

// Starts COM for the accessibility calls of this thread (for as long as the program runs).
void startAccessibility();

// False when the window has no accessible object.
bool accessibleFacts(Json& j, HWND window);

// False when the hook cannot be installed or <ready> cannot be written.
bool recordEvents(Json& j, DWORD ms, const wchar_t* readyFile, const wchar_t* stopFile);
