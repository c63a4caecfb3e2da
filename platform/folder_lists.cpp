#include "folder_lists.h"

#include <cwctype>

#include "path_rules.h"

namespace platform {

std::wstring DriveLine(const DriveInfo& drive) {
  std::wstring line{static_cast<wchar_t>(std::towlower(drive.letter)), L':'};
  if (!drive.label.empty()) line += L" [" + drive.label + L"]";
  return line;
}

namespace {
std::wstring Join(const std::wstring& folder, const std::wstring& name) {
  if (folder.empty()) return name;
  return folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
}
}  // namespace

std::vector<FolderLine> FolderLines(const std::wstring& folder, const std::vector<std::wstring>& subFolders) {
  // The root: "X:\" or "\\server\share\".
  std::wstring root;
  if (StartsWithDriveRoot(folder)) {
    root = folder.substr(0, 3);
  } else if (folder.rfind(L"\\\\", 0) == 0) {
    const size_t server = folder.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? std::wstring::npos : folder.find(L'\\', server + 1);
    root = share == std::wstring::npos ? folder + L"\\" : folder.substr(0, share + 1);
  }
  std::vector<FolderLine> lines{FolderLine{root, root, 0, true}};
  std::wstring current = root;
  for (size_t pos = root.size(); pos < folder.size();) {
    const size_t next = folder.find(L'\\', pos);
    const std::wstring part = folder.substr(pos, next == std::wstring::npos ? std::wstring::npos : next - pos);
    pos = next == std::wstring::npos ? folder.size() : next + 1;
    if (part.empty()) continue;
    current = Join(current, part);
    lines.push_back(FolderLine{part, current, static_cast<int>(lines.size()), true});
  }
  const int depth = static_cast<int>(lines.size());
  for (const auto& sub : subFolders) lines.push_back(FolderLine{sub, Join(current, sub), depth, false});
  return lines;
}

}  // namespace platform
