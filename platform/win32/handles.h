// Owners for Win32 handles: each resource is released exactly once, by its owner's destructor,
// with the function that releases that kind of handle.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

// `MinusOneIsNone`: the kind of handle whose "none" is INVALID_HANDLE_VALUE as well as null.
template <typename H, BOOL(WINAPI* Release)(H), bool MinusOneIsNone = false>
class Unique {
 public:
  Unique() = default;
  explicit Unique(H h) : h_(h) {}
  ~Unique() { reset(); }
  Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, H{})) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) {
      reset();
      h_ = std::exchange(o.h_, H{});
    }
    return *this;
  }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;

  H get() const { return h_; }
  explicit operator bool() const {
    return h_ != H{} && !(MinusOneIsNone && reinterpret_cast<HANDLE>(h_) == INVALID_HANDLE_VALUE);
  }
  void reset(H h = H{}) {
    if (*this) Release(h_);
    h_ = h;
  }
  H release() { return std::exchange(h_, H{}); }

 private:
  H h_{};
};

using UniqueGdiObject = Unique<HGDIOBJ, DeleteObject>;
using UniqueFont = UniqueGdiObject;
using UniqueDc = Unique<HDC, DeleteDC>;
using UniqueFile = Unique<HANDLE, CloseHandle, true>;
using UniqueFind = Unique<HANDLE, FindClose, true>;
using UniqueModule = Unique<HMODULE, FreeLibrary>;
using UniqueWindow = Unique<HWND, DestroyWindow>;

}  // namespace win32
