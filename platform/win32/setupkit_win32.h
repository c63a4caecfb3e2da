// Binds the setup library STKIT432.DLL by its full path in the installer's folder, only when
// the call is made.
#pragma once

#include <vector>

#include "../setupkit.h"

namespace win32 {

class SetupKit : public platform::SetupKit {
 public:
  explicit SetupKit(std::wstring installerFolder) : folder_(std::move(installerFolder)) {}
  int32_t CreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                          const std::wstring& arguments) override;

 private:
  std::wstring folder_;
};

// The text in an ANSI code page (the system's, GetACP(), for the library call); false when any
// character has no exact equivalent there.
bool ToAnsiExactly(const std::wstring& text, std::vector<char>& out, unsigned codePage);

}  // namespace win32
