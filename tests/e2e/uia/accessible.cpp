#include "accessible.h"

#include <ole2.h>
#include <oleacc.h>

#include <string>
#include <vector>

#include "kept.h"

namespace {

// Declared here: the import library's IID_IAccessible does not link statically.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct Facts {
    bool known = false;  // the object answered
    bool hasName = false, hasValue = false, hasLateName = false;
    std::wstring name, value, lateName;
    long state = 0;
    long role = -1;  // none
};

// The name as a client that binds late asks for it: IDispatch::Invoke of the name property.
bool lateBoundName(IAccessible* acc, VARIANT child, std::wstring& name) {
    DISPPARAMS params{&child, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    const bool got = acc->Invoke(DISPID_ACC_NAME, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &result, nullptr,
                                 nullptr) == S_OK && result.vt == VT_BSTR && result.bstrVal;
    if (got) name = result.bstrVal;
    VariantClear(&result);
    return got;
}

Facts factsOf(IAccessible* acc, VARIANT child) {
    Facts f;
    f.known = true;
    BSTR s = nullptr;
    if (acc->get_accName(child, &s) == S_OK && s) { f.hasName = true; f.name = s; }
    SysFreeString(s);
    s = nullptr;
    if (acc->get_accValue(child, &s) == S_OK && s) { f.hasValue = true; f.value = s; }
    SysFreeString(s);
    VARIANT state;
    VariantInit(&state);
    if (acc->get_accState(child, &state) == S_OK && state.vt == VT_I4) f.state = state.lVal;
    VariantClear(&state);
    VARIANT role;
    VariantInit(&role);
    if (acc->get_accRole(child, &role) == S_OK && role.vt == VT_I4) f.role = role.lVal;
    VariantClear(&role);
    f.hasLateName = lateBoundName(acc, child, f.lateName);
    return f;
}

Facts clientFacts(HWND h) {
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(h, OBJID_CLIENT, kIidAccessible, reinterpret_cast<void**>(&acc))) || !acc)
        return Facts{};
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    Facts f = factsOf(acc, self);
    acc->Release();
    return f;
}

void optionalText(Json& j, const char* key, bool has, const std::wstring& text) {
    j.key(key);
    if (has) j.wstr(text); else j.null();
}

void writeFacts(Json& j, HWND h, const Facts& f) {
    j.key("hwnd"); j.hwnd(h);
    j.key("class"); j.wstr(classOf(h));
    j.key("text"); j.wstr(captionOf(h));
    j.key("accessible"); j.boolean(f.known);
    optionalText(j, "name", f.hasName, f.name);
    optionalText(j, "value", f.hasValue, f.value);
    optionalText(j, "late_bound_name", f.hasLateName, f.lateName);
    j.key("role"); j.num(f.role);
    j.key("focused"); j.boolean(f.state & STATE_SYSTEM_FOCUSED);
    j.key("focusable"); j.boolean(f.state & STATE_SYSTEM_FOCUSABLE);
    j.key("unavailable"); j.boolean(f.state & STATE_SYSTEM_UNAVAILABLE);
    j.key("invisible"); j.boolean(f.state & STATE_SYSTEM_INVISIBLE);
}

void controlsBelow(Json& j, HWND parent) {
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        j.begin('{');
        writeFacts(j, c, clientFacts(c));
        j.key("parent"); j.hwnd(parent);
        j.end('}');
        controlsBelow(j, c);
    }
}

// ---------------------------------------------------------------- events

struct Event {
    DWORD event;
    HWND hwnd;
    LONG object, child;
    std::wstring cls, text, rootTitle;
    HWND root;
};

std::vector<Event> g_events;

const char* eventName(DWORD e) {
    switch (e) {
    case EVENT_SYSTEM_ALERT: return "alert";
    case EVENT_SYSTEM_FOREGROUND: return "foreground";
    case EVENT_SYSTEM_DIALOGSTART: return "dialogstart";
    case EVENT_OBJECT_CREATE: return "create";
    case EVENT_OBJECT_DESTROY: return "destroy";
    case EVENT_OBJECT_SHOW: return "show";
    case EVENT_OBJECT_FOCUS: return "focus";
    case EVENT_OBJECT_STATECHANGE: return "statechange";
    case EVENT_OBJECT_NAMECHANGE: return "namechange";
    case EVENT_OBJECT_VALUECHANGE: return "valuechange";
    default: return nullptr;
    }
}

// Each event is kept with the text the system keeps for its window (the name a reader reads for a
// button, a label, a picture box or a window) and nothing is asked of the program that raised it:
// a program busy in a long step answers no message, and a hook that waits for it holds up the
// events that follow, which the system then drops.
void CALLBACK onEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (event == EVENT_OBJECT_LOCATIONCHANGE || !hwnd) return;
    HWND root = GetAncestor(hwnd, GA_ROOT);
    Event e{};
    e.event = event;
    e.hwnd = hwnd;
    e.object = object;
    e.child = child;
    e.cls = classOf(hwnd);
    e.text = captionOf(hwnd);
    e.root = root;
    e.rootTitle = root ? captionOf(root) : L"";
    g_events.push_back(e);
}

bool writeFile(const wchar_t* path) {
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    CloseHandle(f);
    return true;
}

}  // namespace

void startAccessibility() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

bool accessibleFacts(Json& j, HWND window) {
    const Facts own = clientFacts(window);
    if (!own.known) return false;
    j.key("window"); j.begin('{'); writeFacts(j, window, own); j.end('}');
    j.key("controls"); j.begin('['); controlsBelow(j, window); j.end(']');
    return true;
}

bool recordEvents(Json& j, DWORD ms, const wchar_t* readyFile, const wchar_t* stopFile) {
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, onEvent, 0, 0,
                                         WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS);
    if (!hook || !writeFile(readyFile)) {
        if (hook) UnhookWinEvent(hook);
        return false;
    }
    const DWORD start = GetTickCount();
    bool stopped = false;
    while (!stopped && GetTickCount() - start < ms) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        stopped = GetFileAttributesW(stopFile) != INVALID_FILE_ATTRIBUTES;
    }
    UnhookWinEvent(hook);
    j.key("stopped"); j.boolean(stopped);
    j.key("events"); j.begin('[');
    for (const Event& e : g_events) {
        j.begin('{');
        j.key("event");
        if (const char* name = eventName(e.event)) j.str(name); else j.num(e.event);
        j.key("hwnd"); j.hwnd(e.hwnd);
        j.key("object"); j.num(e.object);
        j.key("child"); j.num(e.child);
        j.key("class"); j.wstr(e.cls);
        j.key("text"); j.wstr(e.text);
        j.key("root"); j.hwnd(e.root);
        j.key("root_title"); j.wstr(e.rootTitle);
        j.end('}');
    }
    j.end(']');
    return true;
}
