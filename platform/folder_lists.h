// What the drive and directory lists show: the text of a drive's line, and the lines of a folder
// (the chain of open folders from the root down to it, then its sub-folders).
#pragma once

#include <string>
#include <vector>

#include "files.h"

namespace platform {

// "c: [label]", or "c:" for a drive without a label.
std::wstring DriveLine(const DriveInfo& drive);

struct FolderLine {
  std::wstring name;   // shown text: "C:\" for the root, then a folder's own name
  std::wstring path;   // full path of that folder
  int depth;           // indentation level
  bool open;           // part of the current path
};

// The lines for `folder` ("C:\A\B" or "\\server\share\A"), whose sub-folders are `subFolders`.
// The last open line is the folder itself.
std::vector<FolderLine> FolderLines(const std::wstring& folder, const std::vector<std::wstring>& subFolders);

}  // namespace platform
