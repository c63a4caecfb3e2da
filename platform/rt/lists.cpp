// Drive and directory lists: what they hold, how they start, and how they move.
#include "../files.h"
#include "../folder_lists.h"
#include "../path_rules.h"
#include "runtime.h"

namespace rt {

namespace {

// "C:\" for "C:", "C:\", "c: [label]" ... ; empty when the text names no drive.
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

int Control::DriveIndex(wchar_t letter) const {
  const auto& items = List().driveItems;
  for (size_t i = 0; i < items.size(); ++i) {
    if (letter && platform::DriveLetterOf(items[i]) == letter) return static_cast<int>(i);
  }
  return -1;
}

// The list shows `folder`; when it cannot be listed, the list stays as it was.
void Control::FillDirList(const std::wstring& folder) {
  auto lines = platform::FolderLines(folder, form_.App().Files().SubFolders(folder));
  int current = 0;  // the folder itself: the last of the open lines
  while (current + 1 < static_cast<int>(lines.size()) && lines[current + 1].open) ++current;
  ListState& list = List();
  list.path = folder;
  list.dirItems = std::move(lines);
  list.index = current;
}

void Control::SetDrive(const std::wstring& drive) {
  ListState& list = List();
  if (list.driveItems.empty()) FillDriveList();
  const wchar_t letter = platform::DriveLetterOf(drive);
  if (!letter && drive.rfind(L"\\\\", 0) == 0) {
    // A network folder (\\server\share\...) is on no drive: the list shows none, as when it was
    // loaded in such a folder.
    list.index = -1;
    list.drive.clear();
    if (form_.IsLoaded() && native) backend().ControlChanged(*this);
    return;
  }
  if (!letter) throw RuntimeError(ErrDeviceUnavailable, L"Device unavailable: " + drive);
  const int found = DriveIndex(letter);
  if (found < 0) throw RuntimeError(ErrDeviceUnavailable, L"Device unavailable: " + std::wstring{letter, L':'});
  const bool changed = found != list.index;
  list.index = found;
  list.drive = list.driveItems[found];
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
  if (changed) form_.Fire(*this, Event::Change);
}

void Control::InitList() {
  if (!list_) return;
  ListState& list = *list_;
  std::wstring cur = form_.App().Files().CurrentDirectory();
  if (def_.kind == Kind::DriveList) {
    FillDriveList();
    list.index = DriveIndex(platform::DriveLetterOf(cur));
    if (list.index >= 0) list.drive = list.driveItems[list.index];
  } else {
    if (cur.size() > 3 && cur.back() == L'\\') cur.pop_back();
    FillDirList(cur);
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
  FillDirList(p);
  if (form_.IsLoaded() && native) backend().ControlChanged(*this);
  if (list.path != old) form_.Fire(*this, Event::Change);
}

}  // namespace rt
