// Keeps STKIT432.DLL small. The DLL is built without exceptions and RTTI; what remains of the C++
// runtime's exception machinery (the unwinder, the personality routine, the verbose terminate handler
// with its demangler and printf) would still be linked in through three doors, which this file closes:
//
//  - the library's prebuilt std::wstring, compiled with exceptions: instantiated here instead, so the
//    string code is compiled with this DLL's options;
//  - the library's throwing operator new: replaced (a standard replacement) by one on malloc;
//  - the helpers the string code calls on misuse (length or position out of range): defined here.
//
// Without exceptions every one of these failures ends the process, as an uncaught exception would.
// None can happen for the short strings this DLL handles, short of running out of memory. (SETUP.EXE
// has its own versions, which throw its run-time error instead: platform/win32/library_errors.cpp.)
//
// Together they keep about 200 KiB of the library out of a DLL of 20 KiB. They work only as long as
// the linker takes them before the library's members: the static test stkit_library_hooks
// (tests/win/check_link.py) reads the linker's map and fails when any member of the C++ library or
// of the unwinder is linked.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

template class std::basic_string<wchar_t>;

void* operator new(std::size_t size) {
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) std::abort();
    return p;
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std
