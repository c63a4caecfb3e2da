// uia: a small UI-automation helper for the end-to-end tests.
//
// Runs as a console program inside the same Wine prefix and display as the
// program under test, looks at its windows through plain Win32 calls and
// prints one JSON object per call (to stdout, or to the file named by
// "--out FILE", written in one piece so a reader never sees half a result).
//
//   uia windows                      top-level windows with their styles
//   uia controls <window>            child controls of a window, recursively
//   uia focus                        foreground window and focused control
//   uia msgbox <window>              text, icon and buttons of a message box
//   uia snapshot                     windows + controls of visible ones + focus
//   uia click <window> <button>      posts BM_CLICK to the visible, enabled button with that
//                                    text (after writing the result, as close does); a
//                                    disabled or hidden button is refused (exit 74), as a
//                                    user's click on it would do nothing
//   uia close <window>               posts WM_SYSCOMMAND SC_CLOSE (the frame's close)
//   uia postclose <window>           posts WM_CLOSE (what a task manager or another program's
//                                    "close this window" sends), also to a disabled window
//   uia closebox <window>            where the window's close box is on the screen (the centre
//                                    of the title bar's last button, from the system) and which
//                                    top-level window is uppermost there
//   uia settext <window> <id> <txt>  sets the text of the Edit with that control id
//   uia waitwindow <title> <ms>      waits up to ms for a visible window with that title
//   uia waitgone <title> <ms>        waits up to ms until no visible window has that title
//   uia waitfocus <title> <class> <text> <ms>
//                                    waits up to ms until the foreground window has that
//                                    title (or handle) and its focused control that class and text
//                                    ("-" or empty: any); reports "met" and the focus facts
//   uia waitdialog <ms> <skip> <title>...
//                                    waits up to ms for a visible dialog (a message box)
//                                    with one of the titles and not among the handles
//                                    in <skip> ("#h1,#h2" or "-")
//                                    (each reports "met" and the window it found)
//   uia serve                        answers calls read from standard input, one per line
//                                    (arguments as hex of their UTF-8, blank-separated;
//                                    "-" for an empty one), one JSON line each, until EOF
//   uia respond <window> <ms>        whether the window answers a message sent to it within ms
//                                    ("answered", "ms" it took) and whether the system takes it
//                                    for hung ("hung")
//   uia cover <window> <ms>          covers the window with a magenta window of our own for ms,
//                                    then takes it away
//   uia inject <window> <dll>        loads the DLL (a full path) into the program of the window
//   uia settingchange                tells every window that high contrast was turned on or off
//                                    (WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST), as Windows does
//   uia dpi                          LOGPIXELSX/Y of the screen and its size
//   uia accessible <window>, uia events <ms> <ready> <stop>
//                                    what a screen reader gets: see accessible.h
//   uia textheight <face> <points> <bold 0|1> <italic 0|1> <width px> <text>
//                                    height in pixels that the text needs when it
//                                    is word-wrapped to that width in that font at
//                                    the screen DPI (DrawTextW DT_CALCRECT), and the
//                                    font's line height
//
// <window> is an exact title or "#<hex handle>". Button texts are compared
// without "&" accelerator marks. Exit codes are uia's own, none of which Wine uses for its
// failures: 0 done, 71 not found, 72 bad usage, 73 the result could not be written. Any other
// code with no result written means that Wine did not run uia at all. 74: a click refused.

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "accessible.h"
#include "json.h"
#include "kept.h"

namespace {

constexpr int kNotFound = 71, kUsage = 72, kNoOutput = 73, kRefused = 74;

// ---------------------------------------------------------------- window facts

std::wstring textOf(HWND h) {
    // WM_GETTEXT through a bounded send, so a hung target cannot hang the tests.
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 1000, &len)) return L"";
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()),
                             SMTO_ABORTIFHUNG, 1000, &got))
        return L"";
    return std::wstring(buf.data(), got < buf.size() ? got : buf.size() - 1);
}

// A control's text. Edit controls keep their text themselves and must be asked;
// the others keep it with the window, which can be read without a message.
std::wstring controlText(HWND h) {
    std::wstring cls = classOf(h);
    if (_wcsicmp(cls.c_str(), L"Edit") == 0 || _wcsicmp(cls.c_str(), L"ComboBox") == 0) return textOf(h);
    return captionOf(h);
}

std::wstring withoutAmpersands(const std::wstring& s) {
    std::wstring r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'&') {
            if (i + 1 < s.size() && s[i + 1] == L'&') { r += L'&'; ++i; }
            continue;
        }
        r += s[i];
    }
    return r;
}

RECT clientOnScreen(HWND h) {
    RECT r{};
    GetClientRect(h, &r);
    POINT tl{r.left, r.top}, br{r.right, r.bottom};
    ClientToScreen(h, &tl);
    ClientToScreen(h, &br);
    return RECT{tl.x, tl.y, br.x, br.y};
}

void windowFacts(Json& j, HWND h) {
    LONG style = GetWindowLongW(h, GWL_STYLE);
    LONG ex = GetWindowLongW(h, GWL_EXSTYLE);
    RECT wr{};
    GetWindowRect(h, &wr);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    j.key("hwnd"); j.hwnd(h);
    j.key("title"); j.wstr(captionOf(h));
    j.key("class"); j.wstr(classOf(h));
    j.key("pid"); j.num(pid);
    j.key("owner"); j.hwnd(GetWindow(h, GW_OWNER));
    j.key("rect"); j.rect(wr);
    j.key("client"); j.rect(clientOnScreen(h));
    j.key("style"); j.num(static_cast<unsigned long>(style));
    j.key("exstyle"); j.num(static_cast<unsigned long>(ex));
    j.key("visible"); j.boolean(IsWindowVisible(h));
    j.key("enabled"); j.boolean(IsWindowEnabled(h));
    j.key("maximized"); j.boolean(IsZoomed(h));
    j.key("minimized"); j.boolean(IsIconic(h));
    j.key("caption"); j.boolean((style & WS_CAPTION) == WS_CAPTION);
    j.key("sysmenu"); j.boolean(style & WS_SYSMENU);
    j.key("thickframe"); j.boolean(style & WS_THICKFRAME);
    j.key("minbox"); j.boolean(style & WS_MINIMIZEBOX);
    j.key("maxbox"); j.boolean(style & WS_MAXIMIZEBOX);
    j.key("appwindow"); j.boolean(ex & WS_EX_APPWINDOW);
    j.key("toolwindow"); j.boolean(ex & WS_EX_TOOLWINDOW);
    j.key("dlgmodalframe"); j.boolean(ex & WS_EX_DLGMODALFRAME);
}

std::vector<HWND> g_found;

BOOL CALLBACK collect(HWND h, LPARAM) {
    g_found.push_back(h);
    return TRUE;
}

std::vector<HWND> topLevel() {
    g_found.clear();
    EnumWindows(collect, 0);
    return g_found;
}

// Direct children in Z order; recursion is done by the caller so that each
// control's parent is known and the order is stable.
std::vector<HWND> directChildren(HWND parent) {
    std::vector<HWND> r;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) r.push_back(c);
    return r;
}

void controlFacts(Json& j, HWND h, HWND parent, int depth) {
    LONG style = GetWindowLongW(h, GWL_STYLE);
    std::wstring cls = classOf(h);
    RECT wr{};
    GetWindowRect(h, &wr);
    j.key("hwnd"); j.hwnd(h);
    j.key("parent"); j.hwnd(parent);
    j.key("depth"); j.num(depth);
    j.key("class"); j.wstr(cls);
    j.key("id"); j.num(GetDlgCtrlID(h));
    j.key("text"); j.wstr(controlText(h));
    j.key("rect"); j.rect(wr);
    j.key("style"); j.num(static_cast<unsigned long>(style));
    j.key("visible"); j.boolean(IsWindowVisible(h));
    j.key("enabled"); j.boolean(IsWindowEnabled(h));
    j.key("tabstop"); j.boolean(style & WS_TABSTOP);
    bool isButton = _wcsicmp(cls.c_str(), L"Button") == 0;
    j.key("defpushbutton"); j.boolean(isButton && (style & 0x0F) == BS_DEFPUSHBUTTON);
    bool isStatic = _wcsicmp(cls.c_str(), L"Static") == 0;
    j.key("ssicon"); j.boolean(isStatic && (style & SS_TYPEMASK) == SS_ICON);
}

void controlsOf(Json& j, HWND parent, int depth) {
    for (HWND c : directChildren(parent)) {
        j.begin('{');
        controlFacts(j, c, parent, depth);
        j.end('}');
        controlsOf(j, c, depth + 1);
    }
}

HWND findWindow(const wchar_t* which) {
    if (which[0] == L'#') return reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(which + 1, nullptr, 16)));
    // Prefer a visible window of that title; fall back to any.
    HWND any = nullptr;
    for (HWND h : topLevel()) {
        if (captionOf(h) == which) {
            if (IsWindowVisible(h)) return h;
            if (!any) any = h;
        }
    }
    return any;
}

HWND visibleWindow(const wchar_t* title) {
    HWND h = findWindow(title);
    return h && IsWindowVisible(h) ? h : nullptr;
}

// Waits inside this one process, so that a test's wait costs one program start, not one per
// look. Looks every 20 ms until `present` is what is wanted or `ms` have passed.
HWND waitVisible(const wchar_t* title, bool present, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND h = visibleWindow(title);
        if ((h != nullptr) == present || GetTickCount() - start >= ms) return h;
        Sleep(20);
    }
}

// A visible dialog-class top-level window with one of `titles`, not among `skip`.
HWND waitDialog(DWORD ms, const std::wstring& skip, const std::vector<std::wstring>& titles) {
    const DWORD start = GetTickCount();
    for (;;) {
        for (HWND h : topLevel()) {
            if (!IsWindowVisible(h) || classOf(h) != L"#32770") continue;
            char tag[32];  // as the handle is written in results
            std::snprintf(tag, sizeof tag, "#%llx,", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(h)));
            if ((skip + L",").find(std::wstring(tag, tag + std::strlen(tag))) != std::wstring::npos) continue;
            for (const auto& t : titles) {
                if (captionOf(h) == t) return h;
            }
        }
        if (GetTickCount() - start >= ms) return nullptr;
        Sleep(20);
    }
}

HWND findChild(HWND parent, const wchar_t* cls, const std::wstring& text) {
    for (HWND c : directChildren(parent)) {
        if (_wcsicmp(classOf(c).c_str(), cls) == 0 && withoutAmpersands(controlText(c)) == text) return c;
        if (HWND d = findChild(c, cls, text)) return d;
    }
    return nullptr;
}

HWND findChildById(HWND parent, int id) {
    for (HWND c : directChildren(parent)) {
        if (GetDlgCtrlID(c) == id) return c;
        if (HWND d = findChildById(c, id)) return d;
    }
    return nullptr;
}

void focusFacts(Json& j) {
    HWND fg = GetForegroundWindow();
    j.key("foreground"); j.hwnd(fg);
    j.key("foreground_title"); j.wstr(fg ? captionOf(fg) : L"");
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    DWORD tid = fg ? GetWindowThreadProcessId(fg, nullptr) : 0;
    bool ok = GetGUIThreadInfo(tid, &gti);
    j.key("active"); j.hwnd(ok ? gti.hwndActive : nullptr);
    j.key("focus"); j.hwnd(ok ? gti.hwndFocus : nullptr);
    if (ok && gti.hwndFocus) {
        j.key("focus_class"); j.wstr(classOf(gti.hwndFocus));
        j.key("focus_text"); j.wstr(controlText(gti.hwndFocus));
        j.key("focus_id"); j.num(GetDlgCtrlID(gti.hwndFocus));
    } else {
        j.key("focus_class"); j.null();
        j.key("focus_text"); j.null();
        j.key("focus_id"); j.null();
    }
}

// The foreground window's title and its focused control's class and text, as focusFacts reports them.
bool focusIs(const wchar_t* title, const wchar_t* cls, const wchar_t* text) {
    HWND fg = GetForegroundWindow();
    if (!fg) return false;
    if (title[0] == L'#' ? fg != findWindow(title) : captionOf(fg) != title) return false;
    GUITHREADINFO gti{};
    gti.cbSize = sizeof gti;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(fg, nullptr), &gti) || !gti.hwndFocus) return !*cls && !*text;
    if (*cls && _wcsicmp(classOf(gti.hwndFocus).c_str(), cls) != 0) return false;
    return !*text || controlText(gti.hwndFocus) == text;
}

bool waitFocus(const wchar_t* title, const wchar_t* cls, const wchar_t* text, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (focusIs(title, cls, text)) return true;
        if (GetTickCount() - start >= ms) return false;
        Sleep(20);
    }
}

// Which standard icon a message box shows, when the Static's icon handle equals
// one of the shared system icons as this process sees them.
const char* iconName(HICON icon) {
    struct Known { LPCWSTR id; const char* name; };
    static const Known known[] = {
        {IDI_HAND, "hand"}, {IDI_EXCLAMATION, "exclamation"},
        {IDI_ASTERISK, "asterisk"}, {IDI_QUESTION, "question"},
    };
    for (const Known& k : known)
        if (icon && LoadIconW(nullptr, k.id) == icon) return k.name;
    return icon ? "other" : "none";
}

// The pixels of a screen box, or of a standard icon drawn on the colour `back` at that size, as
// 32-bit BGRX values.
std::vector<DWORD> pixels(int w, int h, HICON draw, COLORREF back, const RECT* fromScreen) {
    std::vector<DWORD> out;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(mem, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bmp && bits) {
        HGDIOBJ old = SelectObject(mem, bmp);
        if (fromScreen) {
            BitBlt(mem, 0, 0, w, h, screen, fromScreen->left, fromScreen->top, SRCCOPY);
        } else {
            HBRUSH brush = CreateSolidBrush(back);
            RECT all{0, 0, w, h};
            FillRect(mem, &all, brush);
            DeleteObject(brush);
            DrawIconEx(mem, 0, 0, draw, w, h, 0, nullptr, DI_NORMAL);
        }
        GdiFlush();
        const DWORD* p = static_cast<const DWORD*>(bits);
        out.assign(p, p + static_cast<size_t>(w) * h);
        SelectObject(mem, old);
        DeleteObject(bmp);
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return out;
}

// The standard icon that the screen shows in `r`: each is drawn on the colour of the box's top
// left pixel (an icon's corner is transparent) and compared with what is there. "unknown" when
// none comes close, as before the box has painted.
const char* iconOnScreen(const RECT& r) {
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return "unknown";
    const std::vector<DWORD> shown = pixels(w, h, nullptr, 0, &r);
    if (shown.empty()) return "unknown";
    const DWORD corner = shown[0];
    const COLORREF back = RGB((corner >> 16) & 0xFF, (corner >> 8) & 0xFF, corner & 0xFF);
    struct Known { LPCWSTR id; const char* name; };
    static const Known known[] = {
        {IDI_HAND, "hand"}, {IDI_EXCLAMATION, "exclamation"},
        {IDI_ASTERISK, "asterisk"}, {IDI_QUESTION, "question"},
    };
    const char* best = "unknown";
    double bestDiff = 1e18;
    for (const Known& k : known) {
        const std::vector<DWORD> drawn = pixels(w, h, LoadIconW(nullptr, k.id), back, nullptr);
        if (drawn.size() != shown.size()) continue;
        double diff = 0;
        for (size_t i = 0; i < shown.size(); ++i) {
            for (int s = 0; s < 24; s += 8) diff += std::abs(int((shown[i] >> s) & 0xFF) - int((drawn[i] >> s) & 0xFF));
        }
        diff /= 3.0 * shown.size();
        if (diff < bestDiff) { bestDiff = diff; best = k.name; }
    }
    // Drawn alike, the icons differ by a few levels at most; a blank box differs by far more.
    return bestDiff <= 8.0 ? best : "unknown";
}

void msgboxFacts(Json& j, HWND box) {
    j.key("window"); j.begin('{'); windowFacts(j, box); j.end('}');
    HWND text = GetDlgItem(box, 0xFFFF);
    j.key("text"); if (text) j.wstr(controlText(text)); else j.null();
    HWND iconCtl = nullptr;
    for (HWND c : directChildren(box)) {
        if (_wcsicmp(classOf(c).c_str(), L"Static") == 0 &&
            (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) { iconCtl = c; break; }
    }
    j.key("has_icon"); j.boolean(iconCtl != nullptr);
    HICON icon = nullptr;
    if (iconCtl) {
        DWORD_PTR r = 0;
        if (SendMessageTimeoutW(iconCtl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &r))
            icon = reinterpret_cast<HICON>(r);
    }
    RECT ir{};
    if (iconCtl) GetWindowRect(iconCtl, &ir);
    const char* name = iconName(icon);
    // Across processes Wine hands out per-process icon handles, so the handle seldom tells;
    // then the icon on the screen does.
    if (std::strcmp(name, "other") == 0) name = iconOnScreen(ir);
    j.key("icon"); j.str(name);
    j.key("icon_rect"); j.rect(ir);
    j.key("buttons"); j.begin('[');
    for (HWND c : directChildren(box)) {
        if (_wcsicmp(classOf(c).c_str(), L"Button") == 0 && IsWindowVisible(c))
            j.wstr(withoutAmpersands(controlText(c)));
    }
    j.end(']');
}

void dpiFacts(Json& j) {
    HDC dc = GetDC(nullptr);
    j.key("dpi_x"); j.num(GetDeviceCaps(dc, LOGPIXELSX));
    j.key("dpi_y"); j.num(GetDeviceCaps(dc, LOGPIXELSY));
    ReleaseDC(nullptr, dc);
    j.key("screen"); j.begin('[');
    j.num(GetSystemMetrics(SM_CXSCREEN)); j.num(GetSystemMetrics(SM_CYSCREEN));
    j.end(']');
}

// How tall a label's text wraps: the font is made as the program makes its own
// (points at the screen's DPI, rounded to whole pixels), the text measured as a
// word-wrapping label draws it.
bool textHeight(Json& j, const wchar_t* face, double points, bool bold, bool italic, int width,
                const wchar_t* text) {
    HDC dc = GetDC(nullptr);
    if (!dc) return false;
    int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    LOGFONTW lf{};
    lf.lfHeight = -static_cast<LONG>(points * dpi / 72.0 + 0.5);
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = italic ? TRUE : FALSE;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = DEFAULT_QUALITY;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r{0, 0, width, 0};
    int h = DrawTextW(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_LEFT);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    wchar_t used[LF_FACESIZE] = {0};
    GetTextFaceW(dc, LF_FACESIZE, used);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    j.key("dpi"); j.num(dpi);
    j.key("font_height"); j.num(lf.lfHeight);
    j.key("face_used"); j.wstr(used);
    j.key("height"); j.num(h);
    j.key("width"); j.num(r.right - r.left);
    j.key("line_height"); j.num(tm.tmHeight);
    return true;
}

// Whether the process `pid` has a module of that file name loaded.
bool hasModule(DWORD pid, const wchar_t* file) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return false;
    MODULEENTRY32W m{};
    m.dwSize = sizeof m;
    bool found = false;
    for (BOOL more = Module32FirstW(snap, &m); more && !found; more = Module32NextW(snap, &m))
        found = _wcsicmp(m.szModule, file) == 0;
    CloseHandle(snap);
    return found;
}

// Loads the DLL `dll` (a full path) into the program that owns window `w`, from a thread of its
// own in that program that calls LoadLibraryW; true once the DLL is loaded there.
bool inject(Json& j, HWND w, const wchar_t* dll) {
    DWORD pid = 0;
    if (!GetWindowThreadProcessId(w, &pid)) return false;
    HANDLE proc = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                              PROCESS_VM_WRITE | PROCESS_VM_READ, FALSE, pid);
    if (!proc) return false;
    const SIZE_T size = (wcslen(dll) + 1) * sizeof(wchar_t);
    void* path = VirtualAllocEx(proc, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    auto* load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    HANDLE thread = path && WriteProcessMemory(proc, path, dll, size, nullptr)
                        ? CreateRemoteThread(proc, nullptr, 0, load, path, 0, nullptr) : nullptr;
    const bool ended = thread && WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    if (thread) CloseHandle(thread);
    if (path && (ended || !thread)) VirtualFreeEx(proc, path, 0, MEM_RELEASE);
    CloseHandle(proc);
    const wchar_t* slash = wcsrchr(dll, L'\\');
    const bool loaded = ended && hasModule(pid, slash ? slash + 1 : dll);
    j.key("pid"); j.num(pid);
    j.key("loaded"); j.boolean(loaded);
    return loaded;
}

int emit(const std::string& text, const wchar_t* outPath) {
    if (!outPath) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return 0;
    }
    // Write beside the target and rename, so the reader sees all or nothing.
    std::wstring tmp = std::wstring(outPath) + L".part";
    HANDLE f = CreateFileW(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return kNoOutput;
    DWORD done = 0;
    BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
    CloseHandle(f);
    if (!ok || !MoveFileExW(tmp.c_str(), outPath, MOVEFILE_REPLACE_EXISTING)) return kNoOutput;
    return 0;
}

void result(Json& j, bool ok, const char* error) {
    j.key("ok"); j.boolean(ok);
    if (error) { j.key("error"); j.str(error); }
}

// One call's result: the JSON text, uia's exit code, and the message to post once the result
// is written (a click or a close), if any.
struct Outcome {
    std::string json;
    int rc = 0;
    HWND postTo = nullptr;
    UINT postMessage = 0;
    WPARAM postWParam = 0;
};

// Whether window `w` answers a message sent to it within `ms` milliseconds, as a screen reader
// or the system asks; how long the answer took, and whether the system takes it for hung.
void responseFacts(Json& j, HWND w, UINT ms) {
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    DWORD_PTR r = 0;
    const bool answered = SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, ms, &r) != 0;
    QueryPerformanceCounter(&t1);
    j.key("answered"); j.boolean(answered);
    j.key("ms"); j.num(static_cast<long long>(1000 * (t1.QuadPart - t0.QuadPart) / freq.QuadPart));
    j.key("hung"); j.boolean(IsHungAppWindow(w) != FALSE);
}

LRESULT CALLBACK coverProc(HWND h, UINT msg, WPARAM wp, LPARAM lp) { return DefWindowProcW(h, msg, wp, lp); }

// Covers window `w` with a magenta window of our own for `ms` milliseconds, then takes it away,
// as another program's window passing over it does.
bool coverFor(Json& j, HWND w, DWORD ms) {
    RECT r{};
    if (!GetWindowRect(w, &r)) return false;
    static ATOM cls = 0;
    if (!cls) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = coverProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = CreateSolidBrush(RGB(255, 0, 255));
        wc.lpszClassName = L"UiaCover";
        cls = RegisterClassW(&wc);
    }
    HWND cover = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, L"UiaCover", L"", WS_POPUP,
                                 r.left, r.top, r.right - r.left, r.bottom - r.top, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (!cover) return false;
    ShowWindow(cover, SW_SHOWNOACTIVATE);
    UpdateWindow(cover);
    const DWORD start = GetTickCount();
    MSG m;
    while (GetTickCount() - start < ms) {
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    DestroyWindow(cover);
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    j.key("rect"); j.rect(r);
    return true;
}

Outcome run(const std::vector<const wchar_t*>& args) {
    Outcome out;
    Json j;
    j.begin('{');
    int& rc = out.rc;
    HWND& postTo = out.postTo;
    UINT& postMessage = out.postMessage;
    WPARAM& postWParam = out.postWParam;
    auto need = [&](size_t n) { return args.size() >= n; };
    std::wstring cmd = args.empty() ? L"" : args[0];
    j.key("command"); j.wstr(cmd);

    if (cmd == L"windows" || cmd == L"snapshot") {
        j.key("windows"); j.begin('[');
        for (HWND h : topLevel()) {
            j.begin('{');
            windowFacts(j, h);
            if (cmd == L"snapshot" && IsWindowVisible(h)) {
                j.key("controls"); j.begin('['); controlsOf(j, h, 0); j.end(']');
            }
            j.end('}');
        }
        j.end(']');
        if (cmd == L"snapshot") { focusFacts(j); dpiFacts(j); }
        result(j, true, nullptr);
    } else if (cmd == L"controls" && need(2)) {
        HWND w = findWindow(args[1]);
        if (w && IsWindow(w)) {
            j.key("window"); j.begin('{'); windowFacts(j, w); j.end('}');
            j.key("controls"); j.begin('['); controlsOf(j, w, 0); j.end(']');
            result(j, true, nullptr);
        } else { result(j, false, "window not found"); rc = kNotFound; }
    } else if (cmd == L"focus") {
        focusFacts(j);
        result(j, true, nullptr);
    } else if (cmd == L"msgbox" && need(2)) {
        HWND w = findWindow(args[1]);
        if (w && IsWindow(w)) { msgboxFacts(j, w); result(j, true, nullptr); }
        else { result(j, false, "window not found"); rc = kNotFound; }
    } else if (cmd == L"click" && need(3)) {
        HWND w = findWindow(args[1]);
        HWND b = w ? findChild(w, L"Button", withoutAmpersands(args[2])) : nullptr;
        if (b && !(IsWindowEnabled(b) && IsWindowVisible(b))) {
            // BM_CLICK would press even a disabled button, which no user can: refused.
            j.key("button"); j.hwnd(b);
            result(j, false, IsWindowVisible(b) ? "button is disabled" : "button is hidden");
            rc = kRefused;
        } else if (b) {
            // Posted, never sent: the click handler may run a modal loop of its own.
            postTo = b;
            postMessage = BM_CLICK;
            j.key("button"); j.hwnd(b);
            result(j, true, nullptr);
        } else { result(j, false, w ? "button not found" : "window not found"); rc = kNotFound; }
    } else if (cmd == L"close" && need(2)) {
        HWND w = findWindow(args[1]);
        if (w && IsWindow(w)) {
            postTo = w;
            postMessage = WM_SYSCOMMAND;
            postWParam = SC_CLOSE;
            j.key("window"); j.hwnd(w);
            result(j, true, nullptr);
        } else { result(j, false, "window not found"); rc = kNotFound; }
    } else if (cmd == L"postclose" && need(2)) {
        HWND w = findWindow(args[1]);
        if (w && IsWindow(w)) {
            postTo = w;
            postMessage = WM_CLOSE;
            j.key("window"); j.hwnd(w);
            result(j, true, nullptr);
        } else { result(j, false, "window not found"); rc = kNotFound; }
    } else if (cmd == L"closebox" && need(2)) {
        HWND w = findWindow(args[1]);
        TITLEBARINFO tb{};
        tb.cbSize = sizeof tb;
        // Asks the system, not the window: a window busy copying answers no message.
        if (w && GetTitleBarInfo(w, &tb) && !(tb.rgstate[5] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN))) {
            // The title bar ends with the close box, one caption button wide.
            const RECT& r = tb.rcTitleBar;
            const POINT centre{r.right - GetSystemMetrics(SM_CXSIZE) / 2, (r.top + r.bottom) / 2};
            j.key("titlebar"); j.rect(r);
            j.key("point"); j.begin('['); j.num(centre.x); j.num(centre.y); j.end(']');
            // The uppermost window there; disabled windows count, a click lands on them too.
            j.key("top"); j.hwnd(ChildWindowFromPointEx(GetDesktopWindow(), centre, CWP_SKIPINVISIBLE));
            result(j, true, nullptr);
        } else { result(j, false, w ? "no close box" : "window not found"); rc = kNotFound; }
    } else if (cmd == L"settext" && need(4)) {
        HWND w = findWindow(args[1]);
        HWND e = w ? findChildById(w, static_cast<int>(wcstol(args[2], nullptr, 0))) : nullptr;
        DWORD_PTR r = 0;
        if (e && SendMessageTimeoutW(e, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[3]),
                                     SMTO_ABORTIFHUNG, 2000, &r)) {
            j.key("control"); j.hwnd(e);
            j.key("text"); j.wstr(textOf(e));
            result(j, true, nullptr);
        } else { result(j, false, e ? "WM_SETTEXT failed" : "control not found"); rc = kNotFound; }
    } else if ((cmd == L"waitwindow" || cmd == L"waitgone") && need(3)) {
        const bool present = cmd == L"waitwindow";
        HWND h = waitVisible(args[1], present, static_cast<DWORD>(wcstoul(args[2], nullptr, 10)));
        j.key("met"); j.boolean((h != nullptr) == present);
        j.key("window"); j.hwnd(h);
        result(j, true, nullptr);
    } else if (cmd == L"waitfocus" && need(5)) {
        j.key("met"); j.boolean(waitFocus(args[1], args[2], args[3], static_cast<DWORD>(wcstoul(args[4], nullptr, 10))));
        focusFacts(j);
        result(j, true, nullptr);
    } else if (cmd == L"waitdialog" && need(4)) {
        std::vector<std::wstring> titles(args.begin() + 3, args.end());
        HWND h = waitDialog(static_cast<DWORD>(wcstoul(args[1], nullptr, 10)), args[2], titles);
        j.key("met"); j.boolean(h != nullptr);
        j.key("window"); j.hwnd(h);
        result(j, true, nullptr);
    } else if (cmd == L"accessible" && need(2)) {
        HWND w = findWindow(args[1]);
        if (!w || !IsWindow(w)) { result(j, false, "window not found"); rc = kNotFound; }
        else if (accessibleFacts(j, w)) result(j, true, nullptr);
        else { result(j, false, "no accessible object"); rc = kNotFound; }
    } else if (cmd == L"events" && need(4)) {
        if (recordEvents(j, static_cast<DWORD>(wcstoul(args[1], nullptr, 10)), args[2], args[3])) result(j, true, nullptr);
        else { result(j, false, "cannot hook the events or write the ready file"); rc = kNotFound; }
    } else if (cmd == L"respond" && need(3)) {
        HWND w = findWindow(args[1]);
        if (w && IsWindow(w)) { responseFacts(j, w, static_cast<UINT>(wcstoul(args[2], nullptr, 10))); result(j, true, nullptr); }
        else { result(j, false, "window not found"); rc = kNotFound; }
    } else if (cmd == L"cover" && need(3)) {
        HWND w = findWindow(args[1]);
        if (w && coverFor(j, w, static_cast<DWORD>(wcstoul(args[2], nullptr, 10)))) result(j, true, nullptr);
        else { result(j, false, "window not found"); rc = kNotFound; }
    } else if (cmd == L"inject" && need(3)) {
        HWND w = findWindow(args[1]);
        if (w && inject(j, w, args[2])) result(j, true, nullptr);
        else { result(j, false, w ? "the DLL was not loaded" : "window not found"); rc = kNotFound; }
    } else if (cmd == L"settingchange") {
        // As Windows tells every window when high contrast is turned on or off.
        DWORD_PTR r = 0;
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0, SMTO_ABORTIFHUNG, 5000, &r);
        result(j, true, nullptr);
    } else if (cmd == L"dpi") {
        dpiFacts(j);
        result(j, true, nullptr);
    } else if (cmd == L"textheight" && need(7)) {
        bool ok = textHeight(j, args[1], wcstod(args[2], nullptr), wcstol(args[3], nullptr, 10) != 0,
                             wcstol(args[4], nullptr, 10) != 0, static_cast<int>(wcstol(args[5], nullptr, 10)),
                             args[6]);
        result(j, ok, ok ? nullptr : "no screen DC");
        if (!ok) rc = kNotFound;
    } else {
        result(j, false, "usage: uia windows|snapshot|focus|dpi|controls W|msgbox W|click W TEXT|close W|postclose W|closebox W|settext W ID TEXT|waitwindow W MS|waitgone W MS|waitfocus W CLASS TEXT MS|waitdialog MS SKIP TITLE...|respond W MS|cover W MS|accessible W|events MS READY STOP|inject W DLL|settingchange");
        rc = kUsage;
    }
    j.end('}');
    out.json = j.text() + "\n";
    return out;
}

// A click or a close is posted only after its result is written: a call that left no result
// did nothing, so the caller may safely make it again.
void post(const Outcome& o) {
    if (o.postTo) PostMessageW(o.postTo, o.postMessage, o.postWParam, 0);
}

// An argument of the serve mode: its UTF-8 bytes as hex digits (no blank, tab or line break can
// then end it early).
std::wstring fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    }
    if (bytes.empty()) return L"";
    const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), w.data(), n);
    return w;
}

// uia serve: one call per line read from standard input (its arguments hex-encoded and separated
// by blanks), each answered by one line of JSON on standard output, until input ends. A test
// then pays for starting a Wine process once per prefix, not once per look.
int serve() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), outHandle = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string pending;
    char buf[4096];
    for (;;) {
        size_t eol;
        while ((eol = pending.find('\n')) == std::string::npos) {
            DWORD got = 0;
            if (!ReadFile(in, buf, sizeof buf, &got, nullptr) || got == 0) return 0;
            pending.append(buf, got);
        }
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        std::vector<std::wstring> words;
        size_t pos = 0;
        while (pos < line.size()) {
            size_t end = line.find(' ', pos);
            if (end == std::string::npos) end = line.size();
            std::string word = line.substr(pos, end - pos);
            if (!word.empty() && word != "\r") words.push_back(fromHex(word == "-" ? "" : word));
            pos = end + 1;
        }
        std::vector<const wchar_t*> args;
        for (const auto& w : words) args.push_back(w.c_str());
        const Outcome o = run(args);
        DWORD done = 0;
        if (!WriteFile(outHandle, o.json.data(), static_cast<DWORD>(o.json.size()), &done, nullptr)) return kNoOutput;
        post(o);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    startAccessibility();
    const wchar_t* outPath = nullptr;
    std::vector<const wchar_t*> args;
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--out") == 0 && i + 1 < argc) outPath = argv[++i];
        else args.push_back(argv[i]);
    }
    if (args.size() == 1 && wcscmp(args[0], L"serve") == 0) return serve();
    const Outcome o = run(args);
    int wrc = emit(o.json, outPath);
    if (wrc) return wrc;
    post(o);
    return o.rc;
}
