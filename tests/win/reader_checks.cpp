// Checks of what the Win32 backend tells screen readers, inside the program: the events it raises
// as captions and printed texts change (heard by an event hook of this process), the name that a
// control named by a label gives when a reader asks for its object (by annotation where the
// system annotates, here a stand-in for the system's service), the gauge's object, and where the
// focus goes in a window that has no control that takes input.
#include <windows.h>
#include <ole2.h>
#include <oleacc.h>

#include <string>
#include <utility>
#include <vector>

#include "checks.h"
#include "test_form.h"
#include "platform/rt/runtime.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/form_window.h"
#include "platform/win32/win32_backend.h"

namespace {

constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

struct Heard {
  DWORD event;
  HWND hwnd;
};
std::vector<Heard> heard;

void CALLBACK Hear(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG, DWORD, DWORD) {
  if (object == OBJID_CLIENT && (event == EVENT_OBJECT_NAMECHANGE || event == EVENT_OBJECT_VALUECHANGE)) {
    heard.push_back(Heard{event, hwnd});
  }
}

// How many of each event the control's window raised since the last look (the hook's calls come
// with this thread's messages).
std::pair<int, int> NameAndValueChanges(rt::Control& control) {
  MSG m;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  std::pair<int, int> n{0, 0};
  for (const Heard& h : std::exchange(heard, {})) {
    if (h.hwnd != win32::WindowOf(control).Handle()) continue;
    (h.event == EVENT_OBJECT_NAMECHANGE ? n.first : n.second) += 1;
  }
  return n;
}

IAccessible* ObjectOf(HWND h) {
  IAccessible* acc = nullptr;
  return SUCCEEDED(AccessibleObjectFromWindow(h, OBJID_CLIENT, kIidAccessible, reinterpret_cast<void**>(&acc))) ? acc
                                                                                                               : nullptr;
}

VARIANT Self() {
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  return self;
}

// The object's name or value (`get`).
std::wstring Read(IAccessible* acc, HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
  BSTR text = nullptr;
  std::wstring result = (acc->*get)(Self(), &text) == S_OK && text ? text : L"<none>";
  SysFreeString(text);
  return result;
}

std::wstring AccessibleName(HWND h) {
  IAccessible* acc = ObjectOf(h);
  if (!acc) return L"<no object>";
  std::wstring name = Read(acc, &IAccessible::get_accName);
  acc->Release();
  return name;
}

// A caption, a printed text: each change is told once, a text set again is not told again.
// A text box's text is its value, which the system's edit control tells itself.
void ChangesAreTold(rt::Application& app) {
  TestForm form(app, Def(L"Told", {rt::Label(L"Label1", L"", 120, 120, 3000, 240),
                                   rt::PictureBox(L"Picture1", 120, 480, 3000, 300).Persistent(),
                                   rt::TextBox(L"Text1", L"", 120, 900, 3000, 300).Tab(0)}));
  form.Load();
  rt::Control& label = form[L"Label1"];
  rt::Control& gauge = form[L"Picture1"];
  NameAndValueChanges(label);
  label.SetCaption(L"D:\\README.TXT");
  CHECK(NameAndValueChanges(label) == std::make_pair(1, 0));
  label.SetCaption(L"D:\\README.TXT");
  CHECK(NameAndValueChanges(label) == std::make_pair(0, 0));

  gauge.Print(L"1%");
  CHECK(NameAndValueChanges(gauge) == std::make_pair(1, 1));
  CHECK(AccessibleName(win32::WindowOf(gauge).Handle()) == L"1%");
  gauge.Cls();
  gauge.Print(L"1%");
  CHECK(NameAndValueChanges(gauge) == std::make_pair(0, 0));
  gauge.Print(L"2%");
  CHECK(NameAndValueChanges(gauge) == std::make_pair(1, 1));

  form[L"Text1"].SetText(L"C:\\Somewhere");
  CHECK(NameAndValueChanges(form[L"Text1"]) == std::make_pair(0, 0));
  form.Unload();
}

// A list named by a label reads the label's caption as it is when a reader asks; a decorative
// label's window is hidden from readers.
void LabelsNameTheirControls(rt::Application& app) {
  TestForm form(app, Def(L"Named", {rt::DirList(L"Dir1", 120, 480, 3000, 1500).Tab(0).LabelledBy(L"Label1"),
                                    rt::Label(L"Label1", L"Directory", 120, 120, 3000, 240),
                                    rt::Label(L"Label2", L"Directory", 150, 140, 3000, 240).Decorative()}));
  form.Load();
  HWND list = win32::WindowOf(form[L"Dir1"]).Handle();
  CHECK(AccessibleName(list) == L"Directory");
  form[L"Label1"].SetCaption(L"Folder");
  CHECK(AccessibleName(list) == L"Folder");
  auto shown = [&](const wchar_t* label) {
    return (GetWindowLongW(win32::WindowOf(form[label]).Handle(), GWL_STYLE) & WS_VISIBLE) != 0;
  };
  CHECK(shown(L"Label1") && !shown(L"Label2"));
  form.Unload();
}

// The gauge's own object (its value the percentage: the system's object has none) may be held
// after the window went: it says so, and touches nothing freed.
void GaugeObjectOutlivesItsWindow(rt::Application& app) {
  TestForm form(app, Def(L"Gauge", {rt::PictureBox(L"Picture1", 120, 480, 3000, 300).Persistent().Gauge()}));
  form.Load();
  form[L"Picture1"].Print(L"64%");
  IAccessible* acc = ObjectOf(win32::WindowOf(form[L"Picture1"]).Handle());
  CHECK(acc && Read(acc, &IAccessible::get_accValue) == L"64%");
  form.Unload();
  BSTR value = nullptr;
  const HRESULT gone = acc ? acc->get_accValue(Self(), &value) : E_FAIL;
  CHECK(gone == CO_E_OBJNOTCONNECTED || gone == RPC_E_DISCONNECTED);
  if (acc) acc->Release();
}

// Where the system annotates (a stand-in for its service here, which records the calls), a
// control named by a label keeps the system's own object, annotated with the label's caption
// and again when the caption changes; the annotation goes with the window.
struct Annotations final : IAccPropServices, IClassFactory {
  std::vector<std::pair<HWND, std::wstring>> calls;  // (window, name), or an empty name: cleared
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid == IID_IClassFactory || iid == IID_IUnknown) *out = static_cast<IClassFactory*>(this);
    else *out = static_cast<IAccPropServices*>(this);
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** out) override { return QueryInterface(iid, out); }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE SetHwndPropStr(HWND h, DWORD object, DWORD child, MSAAPROPID, LPCWSTR name) override {
    calls.emplace_back(h, object == DWORD(OBJID_CLIENT) && child == CHILDID_SELF ? name : L"<other object>");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE ClearHwndProps(HWND h, DWORD, DWORD, const MSAAPROPID*, int) override {
    calls.emplace_back(h, L"");
    return S_OK;
  }
#define UNUSED(method, ...) \
  HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }
  UNUSED(SetPropValue, const BYTE*, DWORD, MSAAPROPID, VARIANT)
  UNUSED(SetPropServer, const BYTE*, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope)
  UNUSED(ClearProps, const BYTE*, DWORD, const MSAAPROPID*, int)
  UNUSED(SetHwndProp, HWND, DWORD, DWORD, MSAAPROPID, VARIANT)
  UNUSED(SetHwndPropServer, HWND, DWORD, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope)
  UNUSED(ComposeHwndIdentityString, HWND, DWORD, DWORD, BYTE**, DWORD*)
  UNUSED(DecomposeHwndIdentityString, const BYTE*, DWORD, HWND*, DWORD*, DWORD*)
  UNUSED(SetHmenuProp, HMENU, DWORD, MSAAPROPID, VARIANT)
  UNUSED(SetHmenuPropStr, HMENU, DWORD, MSAAPROPID, LPCWSTR)
  UNUSED(SetHmenuPropServer, HMENU, DWORD, const MSAAPROPID*, int, IAccPropServer*, AnnoScope)
  UNUSED(ClearHmenuProps, HMENU, DWORD, const MSAAPROPID*, int)
  UNUSED(ComposeHmenuIdentityString, HMENU, DWORD, BYTE**, DWORD*)
  UNUSED(DecomposeHmenuIdentityString, const BYTE*, DWORD, HMENU*, DWORD*)
#undef UNUSED
};

void AnnotationNamesTheSystemsObject() {
  constexpr CLSID kClsidAccPropServices = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
  Annotations service;
  DWORD cookie = 0;
  CHECK(CoRegisterClassObject(kClsidAccPropServices, static_cast<IClassFactory*>(&service), CLSCTX_INPROC_SERVER,
                              REGCLS_MULTIPLEUSE, &cookie) == S_OK);
  win32::FileSystem files;
  win32::Backend backend(GetModuleHandleW(nullptr));
  rt::Application app(backend, files, L"C:", L"Annotation checks");
  TestForm form(app, Def(L"Annotated", {rt::DirList(L"Dir1", 120, 480, 3000, 1500).Tab(0).LabelledBy(L"Label1"),
                                        rt::Label(L"Label1", L"Directory", 120, 120, 3000, 240)}));
  form.Load();
  HWND list = win32::WindowOf(form[L"Dir1"]).Handle();
  CHECK(AccessibleName(list) != L"Directory");  // the system's object: its name is the annotation's business
  form[L"Label1"].SetCaption(L"Folder");
  form.Unload();
  using Call = std::pair<HWND, std::wstring>;
  CHECK((service.calls == std::vector<Call>{{list, L"Directory"}, {list, L"Folder"}, {list, L""}}));
  CoRevokeClassObject(cookie);
}

// A window whose controls take no input keeps the focus itself, not on a frame or a label.
void FocusWithoutInputStaysOnTheWindow(rt::Application& app) {
  TestForm form(app, Def(L"No input", {rt::Frame(L"Frame1", L"Copying", 120, 120, 3500, 1500).Tab(0),
                                       rt::Label(L"Label1", L"Installing To:", 120, 300, 1500, 240).In(L"Frame1").Tab(1)}));
  form.Show();
  CHECK(GetFocus() == win32::WindowOf(form).Handle());
  form.Unload();
}

}  // namespace

void ReaderChecks() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, &Hear,
                                       GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  CHECK(hook != nullptr);
  win32::FileSystem files;
  win32::Backend backend(GetModuleHandleW(nullptr));
  rt::Application app(backend, files, L"C:", L"Reader checks");
  ChangesAreTold(app);
  LabelsNameTheirControls(app);
  GaugeObjectOutlivesItsWindow(app);
  FocusWithoutInputStaysOnTheWindow(app);
  AnnotationNamesTheSystemsObject();
  if (hook) UnhookWinEvent(hook);
}
