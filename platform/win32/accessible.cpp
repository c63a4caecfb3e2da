#include "accessible.h"

#include <ole2.h>

#include "accessible_object.h"

namespace win32 {

namespace {

// Declared here: the import library's identifiers would tie the program to the library.
constexpr IID kIidAccessible = {0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr GUID kLibidAccessibility = {0x1ea4dbf0, 0x3c3b, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr CLSID kClsidAccPropServices = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kIidAccPropServices = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr MSAAPROPID kPropidAccName = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};

}  // namespace

Accessibility::~Accessibility() {
  if (annotations_) annotations_->Release();
  if (typeInfo_) typeInfo_->Release();
  if (comStarted_) CoUninitialize();
}

// Objects are handed to readers through COM, which needs an apartment on this thread; one that is
// there already (S_FALSE) is someone else's to end.
void Accessibility::StartCom() {
  if (comTried_) return;
  comTried_ = true;
  comStarted_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) == S_OK;
}

bool Accessibility::Load() {
  if (!libraryTried_) {
    libraryTried_ = true;
    StartCom();
    library_.reset(LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (library_) {
      createStd_ = reinterpret_cast<CreateStdFn>(
          reinterpret_cast<void*>(GetProcAddress(library_.get(), "CreateStdAccessibleObject")));
      lresult_ = reinterpret_cast<LresultFn>(reinterpret_cast<void*>(GetProcAddress(library_.get(), "LresultFromObject")));
    }
    LoadTypeInfo();
  }
  return createStd_ && lresult_;
}

// IAccessible's description from the system's type library. A dual interface is described twice;
// calls by name go through its table of methods, the part that describes those.
void Accessibility::LoadTypeInfo() {
  ITypeLib* lib = nullptr;
  if (FAILED(LoadRegTypeLib(kLibidAccessibility, 1, 1, 0, &lib)) || !lib) return;
  ITypeInfo* info = nullptr;
  if (SUCCEEDED(lib->GetTypeInfoOfGuid(kIidAccessible, &info)) && info) {
    TYPEATTR* attr = nullptr;
    const bool dispatch = SUCCEEDED(info->GetTypeAttr(&attr)) && attr->typekind == TKIND_DISPATCH;
    if (attr) info->ReleaseTypeAttr(attr);
    HREFTYPE methods = 0;
    ITypeInfo* table = nullptr;
    if (dispatch && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &methods)) &&
        SUCCEEDED(info->GetRefTypeInfo(methods, &table)) && table) {
      info->Release();
      info = table;
    }
    typeInfo_ = info;
  }
  lib->Release();
}

IAccessible* Accessibility::SystemObject(HWND hwnd) {
  IAccessible* system = nullptr;
  if (!Load() || FAILED(createStd_(hwnd, OBJID_CLIENT, kIidAccessible, reinterpret_cast<void**>(&system)))) return nullptr;
  return system;
}

bool Accessibility::Annotate(HWND hwnd, const std::wstring& name) {
  if (!annotationTried_) {
    annotationTried_ = true;
    StartCom();
    if (FAILED(CoCreateInstance(kClsidAccPropServices, nullptr, CLSCTX_INPROC_SERVER, kIidAccPropServices,
                                reinterpret_cast<void**>(&annotations_)))) {
      annotations_ = nullptr;
    }
  }
  if (!annotations_) return false;
  if (annotations_->SetHwndPropStr(hwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kPropidAccName,
                                   name.c_str()) == S_OK) {
    return true;
  }
  // A service that cannot annotate (some systems have it answer E_NOTIMPL): the program names
  // its controls' objects itself from now on.
  annotations_->Release();
  annotations_ = nullptr;
  return false;
}

void Accessibility::ClearAnnotation(HWND hwnd) {
  MSAAPROPID name = kPropidAccName;
  if (annotations_) annotations_->ClearHwndProps(hwnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &name, 1);
}

LRESULT Accessibility::Serve(WindowAccessible* object, WPARAM wp, LPARAM lp) {
  if (static_cast<LONG>(lp) != OBJID_CLIENT || !object || !Load()) return 0;
  const LRESULT answer = lresult_(kIidAccessible, wp, static_cast<IAccessible*>(object));  // holds its own reference
  return answer < 0 ? 0 : answer;  // a failure code: the system answers instead
}

LRESULT Accessibility::NamedObject(HWND hwnd, WPARAM wp, LPARAM lp, const std::wstring& name) {
  if (static_cast<LONG>(lp) != OBJID_CLIENT) return 0;
  IAccessible* system = SystemObject(hwnd);
  if (!system) return 0;
  auto* named = new NamedAccessible(hwnd, system, typeInfo_, name);
  const LRESULT answer = Serve(named, wp, lp);
  named->Release();
  return answer;
}

GaugeAccessible* Accessibility::MakeGauge(HWND hwnd) {
  IAccessible* system = SystemObject(hwnd);
  return system ? new GaugeAccessible(hwnd, system, typeInfo_) : nullptr;
}

void AnnounceNameChange(HWND hwnd, bool value) {
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
  if (value) NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, hwnd, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace win32
