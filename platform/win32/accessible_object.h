// Accessible objects that the program serves itself for one of its windows. Each stands on the
// system's own object for the window, which answers whatever the program does not (location,
// parent, navigation, focus, states), and answers late-bound calls (IDispatch) through the
// system's description of IAccessible, so that a client asking by name gets what the object's
// own methods say.
//
// An object may outlive its window: a screen reader in another process holds it as long as it
// likes. When the window goes its record disconnects the object, which from then on answers every
// call with CO_E_OBJNOTCONNECTED, and other processes' calls fail with RPC_E_DISCONNECTED.
#pragma once

#include <ole2.h>
#include <oleacc.h>

#include <string>

namespace win32 {

class WindowAccessible : public IAccessible, public IOleWindow {
 public:
  WindowAccessible(const WindowAccessible&) = delete;
  WindowAccessible& operator=(const WindowAccessible&) = delete;

  // The window has gone: the system's object is let go and no call reaches the window again.
  void Disconnect();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* hwnd) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID i, LPOLESTR* n, UINT c, LCID l, DISPID* d) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID i, LCID l, WORD f, DISPPARAMS* p, VARIANT* r, EXCEPINFO* e,
                                   UINT* a) override;

  HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override;
  HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* n) override;
  HRESULT STDMETHODCALLTYPE get_accChild(VARIANT c, IDispatch** p) override;
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT c, BSTR* n) override;
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT c, BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT c, BSTR* d) override;
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT c, VARIANT* r) override;
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT c, VARIANT* s) override;
  HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* h) override;
  HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, LONG* t) override;
  HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT c, BSTR* k) override;
  HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* f) override;
  HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* s) override;
  HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT c, BSTR* a) override;
  HRESULT STDMETHODCALLTYPE accSelect(LONG f, VARIANT c) override;
  HRESULT STDMETHODCALLTYPE accLocation(LONG* l, LONG* t, LONG* w, LONG* h, VARIANT c) override;
  HRESULT STDMETHODCALLTYPE accNavigate(LONG d, VARIANT s, VARIANT* e) override;
  HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* c) override;
  HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT c) override;
  HRESULT STDMETHODCALLTYPE put_accName(VARIANT c, BSTR n) override;
  HRESULT STDMETHODCALLTYPE put_accValue(VARIANT c, BSTR v) override;

 protected:
  // Takes over one reference to `system` and adds one to `info` (which may be null: no late
  // binding then).
  WindowAccessible(HWND hwnd, IAccessible* system, ITypeInfo* info);
  virtual ~WindowAccessible();
  static bool Self(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }
  // A text for a client: S_FALSE and none for an empty one.
  static HRESULT Text(const std::wstring& text, BSTR* out);

  HWND hwnd_;
  IAccessible* system_;  // one reference; none once disconnected

 private:
  ITypeInfo* info_;
  LONG refs_ = 1;
};

// The system's object for a control, under the name its label gives it.
class NamedAccessible final : public WindowAccessible {
 public:
  NamedAccessible(HWND hwnd, IAccessible* system, ITypeInfo* info, std::wstring name)
      : WindowAccessible(hwnd, system, info), name_(std::move(name)) {}
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT c, BSTR* n) override;

 private:
  std::wstring name_;
};

// A gauge: a progress bar whose name and value are the percentage printed on it (its window
// text).
class GaugeAccessible final : public WindowAccessible {
 public:
  GaugeAccessible(HWND hwnd, IAccessible* system, ITypeInfo* info) : WindowAccessible(hwnd, system, info) {}
  HRESULT STDMETHODCALLTYPE get_accName(VARIANT c, BSTR* n) override;
  HRESULT STDMETHODCALLTYPE get_accValue(VARIANT c, BSTR* v) override;
  HRESULT STDMETHODCALLTYPE get_accRole(VARIANT c, VARIANT* r) override;
  HRESULT STDMETHODCALLTYPE get_accState(VARIANT c, VARIANT* s) override;

 private:
  std::wstring Shown() const;
};

}  // namespace win32
