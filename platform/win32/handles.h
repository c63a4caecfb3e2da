// Owners for Win32 handles: each resource is released exactly once, by its owner's destructor.
#pragma once

#include <windows.h>

#include <utility>

namespace win32 {

template <typename H, typename Traits>
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
  explicit operator bool() const { return h_ != H{} && h_ != Traits::invalid(); }
  void reset(H h = H{}) {
    if (*this) Traits::close(h_);
    h_ = h;
  }
  H release() { return std::exchange(h_, H{}); }

 private:
  H h_{};
};

struct GdiTraits {
  static HGDIOBJ invalid() { return nullptr; }
  static void close(HGDIOBJ h) { DeleteObject(h); }
};
struct DcTraits {
  static HDC invalid() { return nullptr; }
  static void close(HDC h) { DeleteDC(h); }
};
struct FileTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct FindTraits {
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { FindClose(h); }
};
struct ModuleTraits {
  static HMODULE invalid() { return nullptr; }
  static void close(HMODULE h) { FreeLibrary(h); }
};
struct WindowTraits {
  static HWND invalid() { return nullptr; }
  static void close(HWND h) { DestroyWindow(h); }
};

template <typename T>
using UniqueGdi = Unique<T, GdiTraits>;
using UniqueFont = Unique<HGDIOBJ, GdiTraits>;
using UniqueDc = Unique<HDC, DcTraits>;
using UniqueFile = Unique<HANDLE, FileTraits>;
using UniqueFind = Unique<HANDLE, FindTraits>;
using UniqueModule = Unique<HMODULE, ModuleTraits>;
using UniqueWindow = Unique<HWND, WindowTraits>;

// Selects an object into a DC for one scope.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ obj) : dc_(dc), old_(obj ? SelectObject(dc, obj) : nullptr) {}
  ~Selected() {
    if (old_) SelectObject(dc_, old_);
  }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// A window DC for one scope.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDc() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

}  // namespace win32
