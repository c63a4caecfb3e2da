// SETUP.EXE's own versions of the hooks that the C++ library calls on a failure.
//
// - std::__throw_* (a container grown past its limit, an index out of range, memory exhausted):
//   libstdc++'s versions build std::logic_error objects on its reference-counted string, which
//   brings a second copy of the whole narrow-string library into the program (about 88 KiB of the
//   32-bit SETUP.EXE). Here memory exhaustion stays std::bad_alloc, and anything else becomes a
//   run-time error that the runtime reports at the event boundary in its error box, like every
//   other one.
// - The terminate handler: the library's default prints the demangled type of the exception,
//   which pulls in the demangler (about 75 KiB). It is never reached here, since every exception
//   is caught at an event boundary; it ends the process.
//
// This file is linked as an object, so the linker takes these definitions before it looks in the
// library. The static test setup_library_hooks (tests/win/check_link.py) reads the linker's map
// and fails when any of these hooks, the demangler or the library's string copies come from the
// library after all.
#include <cstdlib>
#include <new>
#include <string>

#include "../rt/errors.h"

namespace {

[[noreturn]] void Internal(const char* what) {
  std::wstring text = L"Internal error: ";
  for (; what && *what; ++what) text.push_back(static_cast<unsigned char>(*what));
  throw rt::RuntimeError(rt::ErrInternal, text);
}

}  // namespace

namespace std {

void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
void __throw_bad_function_call() { Internal("call of an empty function"); }
void __throw_length_error(const char* what) { Internal(what); }
void __throw_logic_error(const char* what) { Internal(what); }
void __throw_out_of_range(const char* what) { Internal(what); }
void __throw_out_of_range_fmt(const char* what, ...) { Internal(what); }
void __throw_invalid_argument(const char* what) { Internal(what); }

}  // namespace std

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
