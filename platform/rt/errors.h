// Run-time errors of the windowing runtime and its file services.
//
// A failing statement throws RuntimeError. Handlers that want to survive a failure catch it; whatever
// no handler catches is reported by the runtime in its own message box and ends the program.
#pragma once

#include <exception>
#include <string>

namespace rt {

// Error numbers of the runtime, in the classic numbering users of such runtimes recognise.
enum ErrorNumber : int {
  ErrFileNotFound = 53,
  ErrFileAlreadyOpen = 55,
  ErrDiskFull = 61,
  ErrPermissionDenied = 70,
  ErrDeviceUnavailable = 68,
  ErrPathFileAccess = 75,
  ErrPathNotFound = 76,
  ErrFileNotFoundDll = 48,
  ErrDllEntryPoint = 453,
  ErrInvalidArgument = 5,
  ErrInternal = 51,
};

class RuntimeError : public std::exception {
 public:
  RuntimeError(int number, std::wstring description) : number_(number), description_(std::move(description)) {}

  const char* what() const noexcept override { return "run-time error"; }

  int Number() const { return number_; }
  const std::wstring& Description() const { return description_; }

 private:
  int number_;
  std::wstring description_;
};

// Thrown by the headless backend's end statement so that a test sees where the program ended.
// Deliberately not a std::exception: no handler's error trap may swallow the end of the program.
struct ProgramEnded {
  int exitCode;
};

}  // namespace rt
