#include "files_win32.h"

#include <windows.h>

#include <algorithm>

#include "../drives.h"
#include "../path_rules.h"
#include "../rt/decimal.h"
#include "../rt/errors.h"
#include "copy_replacing.h"
#include "handles.h"

namespace win32 {

std::wstring SystemMessage(unsigned long code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n && buffer ? std::wstring(buffer, n) : L"error " + rt::Decimal(code);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n' || text.back() == L'.')) {
    text.pop_back();
  }
  return text;
}

namespace {

int ErrorNumberFor(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND: return rt::ErrFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY: return rt::ErrPathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return rt::ErrPermissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return rt::ErrDiskFull;
    case ERROR_NOT_READY:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_DEV_NOT_EXIST: return rt::ErrDeviceUnavailable;
    default: return rt::ErrPathFileAccess;
  }
}

[[noreturn]] void Fail(const std::wstring& what, DWORD code) {
  throw rt::RuntimeError(ErrorNumberFor(code), what + L"\n" + SystemMessage(code) + L".");
}

// "X:" alone means the root of that drive here: the process has one current directory.
std::wstring AsFolder(const std::wstring& folder) {
  if (folder.size() == 2 && platform::DriveLetterOf(folder)) return folder + L"\\";
  return folder;
}

}  // namespace

void FileSystem::ChangeDirectory(const std::wstring& folder) {
  if (!SetCurrentDirectoryW(AsFolder(folder).c_str())) Fail(L"Cannot open the folder " + folder + L".", GetLastError());
}

std::wstring FileSystem::CurrentDirectory() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  std::wstring s(n, L'\0');
  n = GetCurrentDirectoryW(n, s.data());
  s.resize(n);
  return s;
}

void FileSystem::MakeDirectory(const std::wstring& path) {
  if (!CreateDirectoryW(path.c_str(), nullptr)) Fail(L"Cannot create the folder " + path + L".", GetLastError());
}

bool FileSystem::DirectoryExists(const std::wstring& path) {
  const DWORD a = GetFileAttributesW(AsFolder(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

FileSystem::FileSystem() : FileSystem(GetCurrentProcessId() * 4099u + GetTickCount()) {}

// The copy and the measurement run off the window thread (a slow medium must not make the
// installer look hung); see run_aside.h.
void FileSystem::Copy(const std::wstring& from, const std::wstring& to) {
  CopyOutcome outcome;
  aside_.Run([&] { outcome = CopyReplacing(from, to, nameSeed_); });
  if (outcome.code == ERROR_SUCCESS) return;
  Fail(outcome.atDestination ? L"Cannot replace " + to + L"." : L"Cannot copy " + from + L" to " + to + L".",
       outcome.code);
}

uint64_t FileSystem::FileLength(const std::wstring& path) {
  DWORD code = ERROR_SUCCESS;
  LARGE_INTEGER size{};
  aside_.Run([&] {
    UniqueFile f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    code = !f ? GetLastError() : GetFileSizeEx(f.get(), &size) ? ERROR_SUCCESS : GetLastError();
  });
  if (code == ERROR_FILE_NOT_FOUND) throw rt::RuntimeError(rt::ErrFileNotFound, L"File not found: " + path);
  if (code != ERROR_SUCCESS) Fail(L"Cannot open the file " + path + L".", code);
  return static_cast<uint64_t>(size.QuadPart);
}

namespace {
class Win32DriveProbe final : public platform::DriveProbe {
 public:
  uint32_t Letters() override { return GetLogicalDrives(); }
  platform::DriveType Type(wchar_t letter) override {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    switch (GetDriveTypeW(root)) {
      case DRIVE_REMOVABLE: return platform::DriveType::Removable;
      case DRIVE_FIXED: return platform::DriveType::Fixed;
      case DRIVE_REMOTE: return platform::DriveType::Remote;
      case DRIVE_CDROM: return platform::DriveType::CdRom;
      case DRIVE_RAMDISK: return platform::DriveType::RamDisk;
      default: return platform::DriveType::Unknown;
    }
  }
  bool VolumeLabel(wchar_t letter, std::wstring& label) override {
    const wchar_t root[] = {letter, L':', L'\\', 0};
    wchar_t buf[MAX_PATH + 1] = {};
    if (!GetVolumeInformationW(root, buf, MAX_PATH + 1, nullptr, nullptr, nullptr, nullptr, 0)) return false;
    label = buf;
    return true;
  }
};
}  // namespace

std::vector<platform::DriveInfo> FileSystem::Drives() {
  Win32DriveProbe probe;
  return platform::ListDrives(probe);
}

std::vector<std::wstring> FileSystem::SubFolders(const std::wstring& folder) {
  std::wstring pattern = AsFolder(folder);
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW fd{};
  UniqueFind find(FindFirstFileExW(pattern.c_str(), FindExInfoStandard, &fd, FindExSearchLimitToDirectories, nullptr, 0));
  std::vector<std::wstring> names;
  if (!find) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) return names;
    Fail(L"Cannot list the folder " + folder + L".", code);
  }
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    if (fd.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) continue;
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    names.push_back(name);
  } while (FindNextFileW(find.get(), &fd));
  std::sort(names.begin(), names.end(),
            [](const std::wstring& a, const std::wstring& b) { return lstrcmpiW(a.c_str(), b.c_str()) < 0; });
  return names;
}

}  // namespace win32
