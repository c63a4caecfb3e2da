// Quorvant '99: lists the files of the DATA folder beside the program and
// shows the rows of a selected CSV file.
#include <windows.h>

#include <string>
#include <vector>

namespace {

constexpr int kIconId = 1;
constexpr int kFileList = 100;
constexpr int kRowList = 101;
constexpr int kFilesCaption = 102;
constexpr int kRowsCaption = 103;
constexpr int kStatus = 104;
constexpr DWORD kMaxCsvBytes = 8u * 1024u * 1024u;

const wchar_t kClassName[] = L"QuorvantMain";
const wchar_t kTitle[] = L"Quorvant '99";

struct DataFile {
    std::wstring name;
    ULONGLONG size;
};

struct App {
    HWND window = nullptr;
    HWND files = nullptr;
    HWND rows = nullptr;
    HWND filesCaption = nullptr;
    HWND rowsCaption = nullptr;
    HWND status = nullptr;
    HFONT font = nullptr;
    std::wstring dataDir;  // ends with a backslash
    std::vector<DataFile> entries;
};

App g_app;

std::wstring ProgramFolder() {
    std::vector<wchar_t> buf(MAX_PATH);
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) return L".\\";
        if (n < buf.size()) {
            std::wstring path(buf.data(), n);
            size_t slash = path.find_last_of(L"\\/");
            return slash == std::wstring::npos ? std::wstring(L".\\") : path.substr(0, slash + 1);
        }
        buf.resize(buf.size() * 2);
    }
}

std::wstring FormatSize(ULONGLONG size) {
    // Digits grouped by thousands: 1,234,567 bytes.
    std::wstring digits = std::to_wstring(size);
    std::wstring out;
    int count = 0;
    for (size_t i = digits.size(); i > 0; --i) {
        if (count == 3) {
            out.insert(out.begin(), L',');
            count = 0;
        }
        out.insert(out.begin(), digits[i - 1]);
        ++count;
    }
    return out + L" bytes";
}

bool HasExtension(const std::wstring& name, const wchar_t* ext) {
    size_t dot = name.find_last_of(L'.');
    return dot != std::wstring::npos && lstrcmpiW(name.c_str() + dot, ext) == 0;
}

void SetStatus(const std::wstring& text) { SetWindowTextW(g_app.status, text.c_str()); }

void LoadFileList() {
    SendMessageW(g_app.files, LB_RESETCONTENT, 0, 0);
    g_app.entries.clear();

    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((g_app.dataDir + L"*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) {
        SetStatus(L"The DATA folder was not found beside the program: " + g_app.dataDir);
        return;
    }
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        ULONGLONG size = (static_cast<ULONGLONG>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
        g_app.entries.push_back({fd.cFileName, size});
    } while (FindNextFileW(find, &fd));
    FindClose(find);

    // Sorted by name, case-insensitively (insertion sort: the folder is small).
    for (size_t i = 1; i < g_app.entries.size(); ++i) {
        for (size_t j = i; j > 0 && lstrcmpiW(g_app.entries[j - 1].name.c_str(),
                                              g_app.entries[j].name.c_str()) > 0; --j) {
            std::swap(g_app.entries[j - 1], g_app.entries[j]);
        }
    }
    for (const DataFile& f : g_app.entries) {
        std::wstring line = f.name + L"\t" + FormatSize(f.size);
        SendMessageW(g_app.files, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
    }
    SetStatus(std::to_wstring(g_app.entries.size()) + L" files in " + g_app.dataDir +
              L"  -  select a CSV file to see its rows.");
}

// Splits one CSV line into fields; a field in double quotes may hold commas,
// and a doubled quote inside it stands for one quote.
std::vector<std::wstring> SplitCsv(const std::wstring& line) {
    std::vector<std::wstring> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (quoted) {
            if (c == L'"') {
                if (i + 1 < line.size() && line[i + 1] == L'"') {
                    fields.back() += L'"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                fields.back() += c;
            }
        } else if (c == L'"') {
            quoted = true;
        } else if (c == L',') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

bool ReadWholeFile(const std::wstring& path, std::string& out, std::wstring& error) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = L"Cannot open " + path + L" (error " + std::to_wstring(GetLastError()) + L").";
        return false;
    }
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) != 0;
    if (ok && size.QuadPart > kMaxCsvBytes) {
        error = path + L" is too large to show.";
        ok = false;
    } else if (ok) {
        out.resize(static_cast<size_t>(size.QuadPart));
        DWORD read = 0;
        ok = out.empty() || (ReadFile(h, &out[0], static_cast<DWORD>(out.size()), &read, nullptr) &&
                             read == out.size());
        if (!ok) error = L"Cannot read " + path + L".";
    } else {
        error = L"Cannot read " + path + L".";
    }
    CloseHandle(h);
    return ok;
}

// Places the row list's tab stops so that each column is as wide as its
// widest field, and lets the list scroll sideways over the whole width.
void SetColumns(const std::vector<std::vector<std::wstring>>& table) {
    HDC dc = GetDC(g_app.rows);
    HGDIOBJ old = SelectObject(dc, g_app.font);
    SIZE alphabet;
    const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32W(dc, letters, 52, &alphabet);
    int average = (alphabet.cx / 26 + 1) / 2;  // the list box measures tab stops in quarters of this
    if (average < 1) average = 1;
    std::vector<int> widths;
    for (const std::vector<std::wstring>& fields : table) {
        if (fields.size() > widths.size()) widths.resize(fields.size(), 0);
        for (size_t i = 0; i < fields.size(); ++i) {
            SIZE ext = {0, 0};
            GetTextExtentPoint32W(dc, fields[i].c_str(), static_cast<int>(fields[i].size()), &ext);
            if (ext.cx > widths[i]) widths[i] = ext.cx;
        }
    }
    SelectObject(dc, old);
    ReleaseDC(g_app.rows, dc);

    const int gap = 16;
    std::vector<int> stops;
    int x = 0;
    for (size_t i = 0; i < widths.size(); ++i) {
        x += widths[i] + gap;
        if (i + 1 < widths.size()) stops.push_back((x * 4 + average - 1) / average);
    }
    if (stops.empty()) {
        SendMessageW(g_app.rows, LB_SETTABSTOPS, 0, 0);
    } else {
        SendMessageW(g_app.rows, LB_SETTABSTOPS, stops.size(), reinterpret_cast<LPARAM>(stops.data()));
    }
    SendMessageW(g_app.rows, LB_SETHORIZONTALEXTENT, x, 0);
}

void ShowRows(int index) {
    SendMessageW(g_app.rows, LB_RESETCONTENT, 0, 0);
    if (index < 0 || static_cast<size_t>(index) >= g_app.entries.size()) return;
    const std::wstring& name = g_app.entries[index].name;
    SendMessageW(g_app.rows, LB_SETHORIZONTALEXTENT, 0, 0);
    if (!HasExtension(name, L".csv")) {
        SetWindowTextW(g_app.rowsCaption, L"Rows");
        SetStatus(name + L" is not a CSV file.");
        return;
    }
    SetWindowTextW(g_app.rowsCaption, (L"Rows of " + name).c_str());
    std::string bytes;
    std::wstring error;
    if (!ReadWholeFile(g_app.dataDir + name, bytes, error)) {
        SetStatus(error);
        return;
    }
    std::wstring text;
    if (!bytes.empty()) {
        int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
        text.resize(n);
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    }
    std::vector<std::vector<std::wstring>> table;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        start = end + 1;
        if (!line.empty()) table.push_back(SplitCsv(line));
    }
    SetColumns(table);
    SendMessageW(g_app.rows, WM_SETREDRAW, FALSE, 0);
    for (const std::vector<std::wstring>& fields : table) {
        std::wstring shown;
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0) shown += L'\t';
            shown += fields[i];
        }
        SendMessageW(g_app.rows, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    }
    SendMessageW(g_app.rows, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(g_app.rows, nullptr, TRUE);
    size_t count = table.size();
    SetStatus(std::to_wstring(count) + L" rows in " + name + L".");
}

void Layout(int width, int height) {
    const int margin = 8, caption = 18, statusHeight = 20;
    int left = width / 3;
    if (left < 180) left = 180;
    if (left > width - 2 * margin - 100) left = width - 2 * margin - 100;
    if (left < 60) left = 60;
    int listTop = margin + caption;
    int listHeight = height - listTop - statusHeight - 2 * margin;
    if (listHeight < 40) listHeight = 40;
    int rightX = margin + left + margin;
    int rightWidth = width - rightX - margin;
    if (rightWidth < 60) rightWidth = 60;
    MoveWindow(g_app.filesCaption, margin, margin, left, caption - 2, TRUE);
    MoveWindow(g_app.files, margin, listTop, left, listHeight, TRUE);
    MoveWindow(g_app.rowsCaption, rightX, margin, rightWidth, caption - 2, TRUE);
    MoveWindow(g_app.rows, rightX, listTop, rightWidth, listHeight, TRUE);
    MoveWindow(g_app.status, margin, listTop + listHeight + margin, width - 2 * margin, statusHeight, TRUE);
}

HWND MakeChild(HWND parent, const wchar_t* cls, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
    HWND h = CreateWindowExW(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)), nullptr);
    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(g_app.font), FALSE);
    return h;
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_CREATE: {
        g_app.window = hwnd;
        g_app.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        g_app.filesCaption = MakeChild(hwnd, L"STATIC", L"Data files", SS_LEFT, 0, kFilesCaption);
        g_app.files = MakeChild(hwnd, L"LISTBOX", L"",
                                WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT,
                                WS_EX_CLIENTEDGE, kFileList);
        g_app.rowsCaption = MakeChild(hwnd, L"STATIC", L"Rows", SS_LEFT, 0, kRowsCaption);
        g_app.rows = MakeChild(hwnd, L"LISTBOX", L"",
                               WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | LBS_USETABSTOPS | LBS_NOINTEGRALHEIGHT |
                                   LBS_NOSEL,
                               WS_EX_CLIENTEDGE, kRowList);
        g_app.status = MakeChild(hwnd, L"STATIC", L"", SS_LEFT | SS_ENDELLIPSIS, 0, kStatus);
        int fileStops[] = {64};
        SendMessageW(g_app.files, LB_SETTABSTOPS, 1, reinterpret_cast<LPARAM>(fileStops));
        g_app.dataDir = ProgramFolder() + L"DATA\\";
        LoadFileList();
        return 0;
    }
    case WM_SIZE:
        Layout(LOWORD(lp), HIWORD(lp));
        return 0;
    case WM_GETMINMAXINFO: {
        MINMAXINFO* mmi = reinterpret_cast<MINMAXINFO*>(lp);
        mmi->ptMinTrackSize.x = 420;
        mmi->ptMinTrackSize.y = 260;
        return 0;
    }
    case WM_SETFOCUS:
        SetFocus(g_app.files);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wp) == kFileList && HIWORD(wp) == LBN_SELCHANGE) {
            ShowRows(static_cast<int>(SendMessageW(g_app.files, LB_GETCURSEL, 0, 0)));
            return 0;
        }
        break;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 32, 32, 0));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 16, 16, 0));
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    if (!RegisterClassExW(&wc)) return 1;

    HWND hwnd = CreateWindowExW(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, 720, 460, nullptr, nullptr, instance, nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, show);
    UpdateWindow(hwnd);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageW(hwnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
