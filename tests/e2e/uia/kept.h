// What the system keeps of a window itself: reading it sends the window no message, so a busy
// program (the copy run repaints but reads no input) cannot hold uia up.
#pragma once

#include <windows.h>

#include <string>

// The window's text as the system keeps it: a top-level window's caption, a button's or a
// label's text (an edit control keeps its own text, which must be asked for).
inline std::wstring captionOf(HWND h) {
    wchar_t buf[1024] = {0};
    GetWindowTextW(h, buf, 1023);
    return buf;
}

inline std::wstring classOf(HWND h) {
    wchar_t buf[256] = {0};
    GetClassNameW(h, buf, 255);
    return buf;
}
