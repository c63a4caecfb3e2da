// Drive and directory lists: what they hold, how they start, and how they move.
#include <cwctype>

#include "../files.h"
#include "../folder_lists.h"
#include "../path_rules.h"
#include "runtime.h"

namespace rt {

namespace {

// "C:\" for "C:", "C:\", "c:\x" ... ; empty when the text names no drive.
std::wstring DriveRootOf(const std::wstring& s) {
  const wchar_t letter = platform::DriveLetterOf(s);
  if (!letter) return {};
  return std::wstring{letter, L':', L'\\'};
}

}  // namespace

Control::ListState& Control::List() const {
  if (!list_) throw RuntimeError(ErrInternal, std::wstring(L"Not a drive or directory list: ") + Name());
  return *list_;
}

void Control::FillDriveList() {
  ListState& list = List();
  list.driveItems.clear();
  for (const auto& d : form_.App().Files().Drives()) list.driveItems.push_back(platform::DriveLine(d));
}

void Control::FillDirList() {
  auto lines = platform::FolderLines(List().path, form_.App().Files().SubFolders(List().path));
  int current = 0;
  while (current + 1 < static_cast<int>(lines.size()) && lines[current + 1].open) ++current;
  List().dirItems = std::move(lines);
  List().index = current;  // the folder itself
}

void Control::SetDrive(const std::wstring& drive) {
  ListState& list = List();
  if (list.driveItems.empty()) FillDriveList();
  const std::wstring root = DriveRootOf(drive);
  if (root.empty() && drive.rfind(L"\\\\", 0) == 0) {
    // A network folder (\\server\share\...) is on no drive: the list shows none, as when it was
    // loaded in such a folder.
    list.index = -1;
    list.drive.clear();
    if (form_.IsLoaded() && native) backend().ControlChanged(*this);
    return;
  }
  if (root.empty()) throw RuntimeError(ErrDeviceUnavailable, L"Device unavailable: " + drive);
  int found = -1;
  for (size_t i = 0; i < list.driveItems.size(); ++i) {
    if (std::towupper(list.driveItems[i][0]) == static_cast<wint_t>(root[0])) found = static_cast<int>(i);
  }
  if (found < 0) throw RuntimeError(ErrDeviceUnavailable, L"Device unavailable: " + root.substr(0, 2));
  const bool changed = found != list.index;
  list.index = found;
  list.drive = list.driveItems[found];
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
  if (changed) form_.Fire(*this, Event::Change);
}

void Control::InitList() {
  if (!list_) return;
  ListState& list = *list_;
  const std::wstring cur = form_.App().Files().CurrentDirectory();
  if (def_.kind == Kind::DriveList) {
    FillDriveList();
    const std::wstring root = DriveRootOf(cur);
    for (size_t i = 0; i < list.driveItems.size(); ++i) {
      if (!root.empty() && std::towupper(list.driveItems[i][0]) == static_cast<wint_t>(root[0])) {
        list.index = static_cast<int>(i);
        list.drive = list.driveItems[i];
      }
    }
  } else {
    list.path = cur;
    if (list.path.size() > 3 && list.path.back() == L'\\') list.path.pop_back();
    FillDirList();
  }
  if (native) backend().ControlChanged(*this);
}

void Control::SetPath(const std::wstring& folder) {
  ListState& list = List();
  std::wstring p = folder;
  // A drive given as "c:" or as the drive list reports it ("c: [label]") means the folder the list
  // is on when it is on that drive already, and that drive's root otherwise.
  if (platform::DriveLetterOf(p) && !platform::StartsWithDriveRoot(p)) {
    const std::wstring root = DriveRootOf(p);
    p = !list.path.empty() && DriveRootOf(list.path) == root ? list.path : root;
  }
  if (p.size() > 3 && p.back() == L'\\') p.pop_back();
  if (const wchar_t letter = platform::DriveLetterOf(p)) p[0] = letter;
  const std::wstring old = list.path;
  const auto oldItems = list.dirItems;
  const int oldIndex = list.index;
  list.path = p;
  try {
    FillDirList();
  } catch (...) {
    list.path = old;
    list.dirItems = oldItems;
    list.index = oldIndex;
    throw;
  }
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
  if (list.path != old) form_.Fire(*this, Event::Change);
}

}  // namespace rt
