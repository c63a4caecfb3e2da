// The outside setup library's shell-link call, as the installer sees it.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class SetupKit {
 public:
  virtual ~SetupKit() = default;
  // Makes a shell shortcut `name` in program group `folder` ("" for the Programs folder itself)
  // to `target` with command-line `arguments`. Returns 0 exactly when no shortcut was made.
  // Throws rt::RuntimeError when the library or its entry point cannot be found.
  virtual int32_t CreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                                  const std::wstring& arguments) = 0;
};

}  // namespace platform
