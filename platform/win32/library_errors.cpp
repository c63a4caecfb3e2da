// The standard library's own failure hooks (a container grown past its limit, an index out of
// range, memory exhausted), raised as this program's errors.
//
// libstdc++ reports these through std::__throw_* functions. Its own versions build
// std::logic_error objects on its reference-counted string, which brings a second copy of the
// whole narrow-string library into the program. Defining the hooks here keeps that out: memory
// exhaustion stays std::bad_alloc, anything else becomes a run-time error that the runtime
// reports at the event boundary like every other one.
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
