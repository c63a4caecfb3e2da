#include "destination.h"

#include "../platform/path_rules.h"
#include "../platform/rt/decimal.h"

#include <cwctype>
#include <vector>

namespace install {

namespace {

const wchar_t kForbidden[] = L"<>:\"/|?*";

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }

const wchar_t kFullPathHint[] =
    L"Please enter the full path of the destination directory, beginning with a drive letter "
    L"(for example C:\\Program Files\\Quorvant '99) or with a network share (\\\\server\\share).";

}  // namespace

std::wstring WithTrailingBackslash(const std::wstring& folder) {
  if (!folder.empty() && folder.back() == L'\\') return folder;
  return folder + L"\\";
}

std::wstring DestinationProblem(const std::wstring& folder) {
  bool blank = true;
  for (wchar_t c : folder) blank = blank && std::iswspace(c);
  if (blank) return L"Please choose a destination directory.";

  for (wchar_t c : folder) {
    if (c < 32) return L"The destination directory contains a character that cannot be used in a directory name.";
  }

  // Split off the root: "X:\" or "\\server\share\".
  size_t pos = 0;
  if (platform::StartsWithDriveRoot(folder)) {
    pos = 3;
  } else if (folder.size() > 2 && folder[0] == L'\\' && folder[1] == L'\\') {
    const size_t serverEnd = folder.find(L'\\', 2);
    if (serverEnd == std::wstring::npos || serverEnd == 2) return kFullPathHint;
    const size_t shareEnd = folder.find(L'\\', serverEnd + 1);
    const std::wstring server = folder.substr(2, serverEnd - 2);
    const std::wstring share = folder.substr(serverEnd + 1, shareEnd == std::wstring::npos ? std::wstring::npos
                                                                                          : shareEnd - serverEnd - 1);
    // "\\?\" and "\\.\" are device paths, and "." or ".." name no server or share.
    for (const std::wstring& part : {server, share}) {
      if (part.empty() || part == L"?" || part == L"." || part == L"..") return kFullPathHint;
    }
    for (const std::wstring& part : {server, share}) {
      for (wchar_t c : part) {
        if (std::wstring(kForbidden).find(c) != std::wstring::npos) return kFullPathHint;
      }
    }
    pos = shareEnd == std::wstring::npos ? folder.size() : shareEnd + 1;
  } else {
    return kFullPathHint;
  }

  while (pos < folder.size()) {
    size_t end = folder.find(L'\\', pos);
    if (end == std::wstring::npos) end = folder.size();
    const std::wstring part = folder.substr(pos, end - pos);
    if (part.empty()) return L"The destination directory " + Quoted(folder) + L" contains an empty directory name (\\\\).";
    for (wchar_t c : part) {
      if (std::wstring(kForbidden).find(c) != std::wstring::npos) {
        return L"A directory name cannot contain any of the following characters:\n< > : \" / | ? *\n\nPlease "
               L"correct " +
               Quoted(part) + L".";
      }
    }
    if (part == L"." || part == L"..") {
      return L"The destination directory must not contain \".\" or \"..\". " + std::wstring(kFullPathHint);
    }
    if (part.back() == L'.' || part.back() == L' ') {
      return L"A directory name cannot end with a dot or a space. Please correct " + Quoted(part) + L".";
    }
    if (platform::IsReservedDeviceName(part)) {
      return Quoted(part) + L" is a name reserved by Windows and cannot be used as a directory name.";
    }
    pos = end + 1;
  }

  if (WithTrailingBackslash(folder).size() > MaxDestPathLength) {
    return L"The destination directory path is too long. Please choose a path of at most " +
           rt::Decimal(static_cast<long long>(MaxDestPathLength - 1)) + L" characters.";
  }
  return {};
}

}  // namespace install
