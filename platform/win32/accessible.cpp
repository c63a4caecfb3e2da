#include "accessible.h"

#include <ole2.h>
#include <oleacc.h>

namespace win32 {

namespace {

// Declared here: the import library's IID_IAccessible would tie the program to the library.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// The system's object for a control, with the name the control's label gives it. Everything
// else (role, state, value, location, navigation) is the system's.
class NamedAccessible final : public IAccessible {
 public:
  NamedAccessible(IAccessible* system, std::wstring name) : system_(system), name_(std::move(name)) {}
  NamedAccessible(const NamedAccessible&) = delete;
  NamedAccessible& operator=(const NamedAccessible&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == kIidAccessible) {
      *out = static_cast<IAccessible*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
    if (child.vt != VT_I4 || child.lVal != CHILDID_SELF) return system_->get_accName(child, name);
    if (!name) return E_POINTER;
    *name = SysAllocString(name_.c_str());
    return *name ? S_OK : E_OUTOFMEMORY;
  }

  // The rest is the system's.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return system_->GetTypeInfoCount(n); }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return system_->GetTypeInfo(i, l, t); }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID i, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
    return system_->GetIDsOfNames(i, n, c, l, d);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID i, LCID l, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                                   UINT* a) override {
    return system_->Invoke(d, i, l, f, p, r, e, a);
  }
  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override { return system_->get_accParent(p); }
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* n) override { return system_->get_accChildCount(n); }
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT c, IDispatch** p) override { return system_->get_accChild(c, p); }
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT c, BSTR* v) override { return system_->get_accValue(c, v); }
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT c, BSTR* d) override { return system_->get_accDescription(c, d); }
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT c, VARIANT* r) override { return system_->get_accRole(c, r); }
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT c, VARIANT* s) override { return system_->get_accState(c, s); }
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* h) override { return system_->get_accHelp(c, h); }
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, LONG* t) override {
    return system_->get_accHelpTopic(f, c, t);
  }
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT c, BSTR* k) override {
    return system_->get_accKeyboardShortcut(c, k);
  }
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* f) override { return system_->get_accFocus(f); }
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* s) override { return system_->get_accSelection(s); }
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT c, BSTR* a) override {
    return system_->get_accDefaultAction(c, a);
  }
  HRESULT STDMETHODCALLTYPE accSelect(LONG f, VARIANT c) override { return system_->accSelect(f, c); }
  HRESULT STDMETHODCALLTYPE accLocation(LONG* l, LONG* t, LONG* w, LONG* h, VARIANT c) override {
    return system_->accLocation(l, t, w, h, c);
  }
  HRESULT STDMETHODCALLTYPE accNavigate(LONG d, VARIANT s, VARIANT* e) override { return system_->accNavigate(d, s, e); }
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* c) override { return system_->accHitTest(x, y, c); }
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT c) override { return system_->accDoDefaultAction(c); }
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT c, BSTR n) override { return system_->put_accName(c, n); }
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT c, BSTR v) override { return system_->put_accValue(c, v); }

 private:
  ~NamedAccessible() { system_->Release(); }
  IAccessible* system_;  // owned: one reference
  std::wstring name_;
  LONG refs_ = 1;
};

}  // namespace

Accessibility::~Accessibility() {
  if (comStarted_) CoUninitialize();
}

bool Accessibility::Load() {
  if (!tried_) {
    tried_ = true;
    // The object is handed to the reader through COM, which needs an apartment on this thread;
    // one that is there already (S_FALSE) is someone else's to end.
    comStarted_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK;
    library_.reset(LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (library_) {
      createStd_ = reinterpret_cast<CreateStdFn>(
          reinterpret_cast<void*>(GetProcAddress(library_.get(), "CreateStdAccessibleObject")));
      lresult_ = reinterpret_cast<LresultFn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), "LresultFromObject")));
    }
  }
  return createStd_ && lresult_;
}

LRESULT Accessibility::NamedObject(HWND hwnd, WPARAM wp, LPARAM lp, const std::wstring& name) {
  if (static_cast<LONG>(lp) != OBJID_CLIENT || !Load()) return 0;
  IAccessible* system = nullptr;
  if (FAILED(createStd_(hwnd, OBJID_CLIENT, kIidAccessible, reinterpret_cast<void**>(&system))) || !system) return 0;
  auto* named = new NamedAccessible(system, name);
  const LRESULT answer = lresult_(kIidAccessible, wp, named);  // holds its own reference
  named->Release();
  return answer < 0 ? 0 : answer;  // a failure code: the system answers instead
}

void AnnounceNameChange(HWND hwnd, bool value) {
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
  if (value) NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace win32
