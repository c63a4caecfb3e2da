#include "accessible_object.h"

#include <utility>
#include <vector>

namespace win32 {

namespace {
// Declared here: the import library's IID_IAccessible would tie the program to the library.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}  // namespace

// What the system's object answers, while the window is there.
#define SYSTEM_ANSWERS(call) return system_ ? system_->call : CO_E_OBJNOTCONNECTED

WindowAccessible::WindowAccessible(HWND hwnd, IAccessible* system, ITypeInfo* info)
    : hwnd_(hwnd), system_(system), info_(info) {
  if (info_) info_->AddRef();
}

WindowAccessible::~WindowAccessible() {
  if (system_) system_->Release();
  if (info_) info_->Release();
}

void WindowAccessible::Disconnect() {
  if (!system_) return;
  AddRef();  // the other processes' references go now; this one keeps the object until the end
  CoDisconnectObject(static_cast<IAccessible*>(this), 0);
  std::exchange(system_, nullptr)->Release();
  hwnd_ = nullptr;
  Release();
}

HRESULT WindowAccessible::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kIidAccessible) {
    *out = static_cast<IAccessible*>(this);
  } else if (iid == IID_IOleWindow) {
    *out = static_cast<IOleWindow*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG WindowAccessible::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG WindowAccessible::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT WindowAccessible::GetWindow(HWND* hwnd) {
  if (!hwnd) return E_POINTER;
  *hwnd = hwnd_;
  return hwnd_ ? S_OK : CO_E_OBJNOTCONNECTED;
}

HRESULT WindowAccessible::Text(const std::wstring& text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (text.empty()) return S_FALSE;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Late binding goes through the description of IAccessible to this object's own methods.
HRESULT WindowAccessible::GetTypeInfoCount(UINT* n) {
  if (!n) return E_POINTER;
  *n = info_ ? 1 : 0;
  return S_OK;
}

HRESULT WindowAccessible::GetTypeInfo(UINT i, LCID, ITypeInfo** t) {
  if (!t) return E_POINTER;
  *t = nullptr;
  if (i != 0 || !info_) return DISP_E_BADINDEX;
  info_->AddRef();
  *t = info_;
  return S_OK;
}

HRESULT WindowAccessible::GetIDsOfNames(REFIID, LPOLESTR* n, UINT c, LCID, DISPID* d) {
  return info_ ? DispGetIDsOfNames(info_, n, c, d) : E_NOTIMPL;
}

HRESULT WindowAccessible::Invoke(DISPID d, REFIID, LCID, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e, UINT* a) {
  return info_ ? DispInvoke(static_cast<IAccessible*>(this), info_, d, f, p, r, e, a) : E_NOTIMPL;
}

HRESULT WindowAccessible::get_accParent(IDispatch** p) { SYSTEM_ANSWERS(get_accParent(p)); }
HRESULT WindowAccessible::get_accChildCount(LONG* n) { SYSTEM_ANSWERS(get_accChildCount(n)); }
HRESULT WindowAccessible::get_accChild(VARIANT c, IDispatch** p) { SYSTEM_ANSWERS(get_accChild(c, p)); }
HRESULT WindowAccessible::get_accName(VARIANT c, BSTR* n) { SYSTEM_ANSWERS(get_accName(c, n)); }
HRESULT WindowAccessible::get_accValue(VARIANT c, BSTR* v) { SYSTEM_ANSWERS(get_accValue(c, v)); }
HRESULT WindowAccessible::get_accDescription(VARIANT c, BSTR* d) { SYSTEM_ANSWERS(get_accDescription(c, d)); }
HRESULT WindowAccessible::get_accRole(VARIANT c, VARIANT* r) { SYSTEM_ANSWERS(get_accRole(c, r)); }
HRESULT WindowAccessible::get_accState(VARIANT c, VARIANT* s) { SYSTEM_ANSWERS(get_accState(c, s)); }
HRESULT WindowAccessible::get_accHelp(VARIANT c, BSTR* h) { SYSTEM_ANSWERS(get_accHelp(c, h)); }
HRESULT WindowAccessible::get_accHelpTopic(BSTR* f, VARIANT c, LONG* t) { SYSTEM_ANSWERS(get_accHelpTopic(f, c, t)); }
HRESULT WindowAccessible::get_accKeyboardShortcut(VARIANT c, BSTR* k) { SYSTEM_ANSWERS(get_accKeyboardShortcut(c, k)); }
HRESULT WindowAccessible::get_accFocus(VARIANT* f) { SYSTEM_ANSWERS(get_accFocus(f)); }
HRESULT WindowAccessible::get_accSelection(VARIANT* s) { SYSTEM_ANSWERS(get_accSelection(s)); }
HRESULT WindowAccessible::get_accDefaultAction(VARIANT c, BSTR* a) { SYSTEM_ANSWERS(get_accDefaultAction(c, a)); }
HRESULT WindowAccessible::accSelect(LONG f, VARIANT c) { SYSTEM_ANSWERS(accSelect(f, c)); }
HRESULT WindowAccessible::accLocation(LONG* l, LONG* t, LONG* w, LONG* h, VARIANT c) {
  SYSTEM_ANSWERS(accLocation(l, t, w, h, c));
}
HRESULT WindowAccessible::accNavigate(LONG d, VARIANT s, VARIANT* e) { SYSTEM_ANSWERS(accNavigate(d, s, e)); }
HRESULT WindowAccessible::accHitTest(LONG x, LONG y, VARIANT* c) { SYSTEM_ANSWERS(accHitTest(x, y, c)); }
HRESULT WindowAccessible::accDoDefaultAction(VARIANT c) { SYSTEM_ANSWERS(accDoDefaultAction(c)); }
HRESULT WindowAccessible::put_accName(VARIANT c, BSTR n) { SYSTEM_ANSWERS(put_accName(c, n)); }
HRESULT WindowAccessible::put_accValue(VARIANT c, BSTR v) { SYSTEM_ANSWERS(put_accValue(c, v)); }

#undef SYSTEM_ANSWERS

// ---------------------------------------------------------------------------------------------

HRESULT NamedAccessible::get_accName(VARIANT c, BSTR* n) {
  if (!system_) return CO_E_OBJNOTCONNECTED;
  return Self(c) ? Text(name_, n) : system_->get_accName(c, n);
}

std::wstring GaugeAccessible::Shown() const {
  const int length = GetWindowTextLengthW(hwnd_);
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1, L'\0');
  const int got = GetWindowTextW(hwnd_, text.data(), length + 1);
  return std::wstring(text.data(), static_cast<size_t>(got > 0 ? got : 0));
}

HRESULT GaugeAccessible::get_accName(VARIANT c, BSTR* n) {
  if (!system_) return CO_E_OBJNOTCONNECTED;
  return Self(c) ? Text(Shown(), n) : system_->get_accName(c, n);
}

HRESULT GaugeAccessible::get_accValue(VARIANT c, BSTR* v) {
  if (!system_) return CO_E_OBJNOTCONNECTED;
  return Self(c) ? Text(Shown(), v) : system_->get_accValue(c, v);
}

HRESULT GaugeAccessible::get_accRole(VARIANT c, VARIANT* r) {
  if (!system_) return CO_E_OBJNOTCONNECTED;
  if (!Self(c)) return system_->get_accRole(c, r);
  if (!r) return E_POINTER;
  VariantInit(r);
  r->vt = VT_I4;
  r->lVal = ROLE_SYSTEM_PROGRESSBAR;
  return S_OK;
}

// The window's states, and read-only: the user changes nothing on a gauge.
HRESULT GaugeAccessible::get_accState(VARIANT c, VARIANT* s) {
  if (!system_) return CO_E_OBJNOTCONNECTED;
  const HRESULT hr = system_->get_accState(c, s);
  if (hr == S_OK && Self(c) && s->vt == VT_I4) s->lVal |= STATE_SYSTEM_READONLY;
  return hr;
}

}  // namespace win32
