// Checks of the file services with real files: a copy over an existing file that fails part-way
// (on a drive too small for it) leaves the previous file as it was and no temporary file; one
// that cannot replace the file copies nothing; one that succeeds replaces it.
#include <windows.h>

#include <string>

#include "checks.h"
#include "platform/rt/errors.h"
#include "platform/win32/files_win32.h"

namespace {

void Write(const std::wstring& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::string Read(const std::wstring& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "(missing)";
  std::string bytes(GetFileSize(h, nullptr), '\0');
  DWORD got = 0;
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(h);
  bytes.resize(got);
  return bytes;
}

int FilesIn(const std::wstring& folder) {
  WIN32_FIND_DATAW fd{};
  HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &fd);
  int n = 0;
  if (find == INVALID_HANDLE_VALUE) return n;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) ++n;
  } while (FindNextFileW(find, &fd));
  FindClose(find);
  return n;
}

bool CopyFails(win32::FileSystem& fs, const std::wstring& from, const std::wstring& to) {
  try {
    fs.Copy(from, to);
  } catch (const rt::RuntimeError&) {
    return true;
  }
  return false;
}

// A copy that fills the small drive `drive` ("E:") before it is complete.
void FullDriveKeepsThePreviousFile(win32::FileSystem& fs, const std::wstring& drive, const std::wstring& source) {
  const std::wstring dest = drive + L"\\EDITED.XLS";
  const std::string previous = "the previous file, as the user edited it";
  Write(dest, previous);
  CHECK(CopyFails(fs, source, dest));
  CHECK(Read(dest) == previous);
  CHECK(FilesIn(drive) == 1);
  DeleteFileW(dest.c_str());
}

}  // namespace

// `smallDrive`: a drive of 1 MB, or empty where none could be made.
void FilesChecks(const std::wstring& smallDrive) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"overwrite-checks";
  CreateDirectoryW(dir.c_str(), nullptr);
  const std::wstring source = dir + L"\\SOURCE.BIN", dest = dir + L"\\DEST.BIN";
  const std::string previous = "the previous file, as the user edited it";
  const std::string next(2 << 20, 'n');
  Write(dest, previous);
  Write(source, next);
  win32::FileSystem fs;
  if (!smallDrive.empty()) FullDriveKeepsThePreviousFile(fs, smallDrive, source);

  // A destination open in another program without sharing is refused before anything is copied.
  HANDLE holder = CreateFileW(dest.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  CHECK(CopyFails(fs, source, dest));
  CloseHandle(holder);
  CHECK(Read(dest) == previous && FilesIn(dir) == 2);

  fs.Copy(source, dest);
  CHECK(Read(dest) == next);
  CHECK(FilesIn(dir) == 2);
  CHECK(!(GetFileAttributesW(dest.c_str()) & FILE_ATTRIBUTE_READONLY));

  DeleteFileW(source.c_str());
  DeleteFileW(dest.c_str());
  RemoveDirectoryW(dir.c_str());
}
