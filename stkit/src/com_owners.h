// Owners for the COM objects that STKIT432.DLL and its tools use: one interface reference, and
// the calling thread's apartment for the length of one call.
#pragma once

#include <objbase.h>

namespace stkit {

// Owns one reference to a COM interface.
template <class T>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef() {
        if (p_) p_->Release();
    }
    T** put() { return &p_; }
    T* operator->() const { return p_; }

private:
    T* p_ = nullptr;
};

// Enters a single-threaded apartment for the duration of one call. If the thread is already in an
// apartment of another kind, the call still runs in it, but only a successful initialisation is undone.
class ComApartment {
public:
    ComApartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (SUCCEEDED(hr_)) CoUninitialize();
    }
    bool ok() const { return SUCCEEDED(hr_); }

private:
    HRESULT hr_;
};

}  // namespace stkit
