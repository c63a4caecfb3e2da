// Checks of the file services with real files: a copy over an existing file that fails part-way
// (on a drive too small for it) leaves the previous file as it was and no temporary file; one
// that cannot replace the file (read-only, or held without delete sharing) writes nothing; one
// held by other programs that share deletion (a scanner, an indexer), for the whole copy or for
// a moment, is replaced; a file that is not the copy's own is never touched.
#include <windows.h>

#include <string>
#include <vector>

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

// Opens `path` for reading with the given sharing, as another program does.
HANDLE OpenShared(const std::wstring& path, DWORD share) {
  return CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr);
}

std::string ReadFrom(HANDLE h) {
  std::string bytes(64, '\0');
  DWORD got = 0;
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  return bytes;
}

// Names of the files created in a folder while it is watched.
class CreationWatch {
 public:
  explicit CreationWatch(const std::wstring& folder)
      : dir_(CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
        buffer_(16384) {
    overlapped_.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    watching_ = ReadDirectoryChangesW(dir_, buffer_.data(), static_cast<DWORD>(buffer_.size()), FALSE,
                                      FILE_NOTIFY_CHANGE_FILE_NAME, nullptr, &overlapped_, nullptr) != FALSE;
  }
  ~CreationWatch() {
    CancelIo(dir_);
    CloseHandle(overlapped_.hEvent);
    CloseHandle(dir_);
  }
  bool Watching() const { return watching_; }
  // What was created up to now (and within a moment, for the system to report it).
  std::vector<std::wstring> Created() {
    std::vector<std::wstring> names;
    DWORD got = 0;
    if (WaitForSingleObject(overlapped_.hEvent, 500) != WAIT_OBJECT_0 ||
        !GetOverlappedResult(dir_, &overlapped_, &got, FALSE)) {
      return names;
    }
    for (size_t at = 0; got;) {
      const auto* n = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(buffer_.data() + at);
      if (n->Action == FILE_ACTION_ADDED || n->Action == FILE_ACTION_RENAMED_NEW_NAME) {
        names.emplace_back(n->FileName, n->FileNameLength / sizeof(wchar_t));
      }
      if (!n->NextEntryOffset) break;
      at += n->NextEntryOffset;
    }
    return names;
  }

 private:
  HANDLE dir_;
  std::vector<char> buffer_;
  OVERLAPPED overlapped_{};
  bool watching_ = false;
};

struct Hold {
  std::wstring path;
  DWORD share;
  DWORD ms;
  HANDLE opened;
};

// Holds a file open for `ms` milliseconds on a thread of its own, as a scanner's look does.
DWORD WINAPI HoldFor(void* data) {
  auto& hold = *static_cast<Hold*>(data);
  HANDLE h = OpenShared(hold.path, hold.share);
  SetEvent(hold.opened);
  Sleep(hold.ms);
  CloseHandle(h);
  return 0;
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

// A destination that other programs hold open: for the whole copy with full sharing, for a
// moment without delete sharing, for the whole copy without delete sharing.
void HeldDestinations(win32::FileSystem& fs, const std::wstring& dir, const std::wstring& source,
                      const std::wstring& dest, const std::string& next) {
  const std::string previous = "the previous file, as the user edited it";
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

  // An indexer's handle that shares everything: the file is replaced under it, the holder still
  // reads the old bytes, and the old file goes when it lets go. Its attributes stay the file's.
  // (Where the file system cannot keep the attribute, as Wine on a tmpfs, it has none to keep.)
  Write(dest, previous);
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_HIDDEN);
  const DWORD hidden = GetFileAttributesW(dest.c_str()) & FILE_ATTRIBUTE_HIDDEN;
  HANDLE indexer = OpenShared(dest, all);
  CHECK(!CopyFails(fs, source, dest));
  CHECK(Read(dest) == next);
  CHECK(ReadFrom(indexer) == previous);
  CHECK((GetFileAttributesW(dest.c_str()) & FILE_ATTRIBUTE_HIDDEN) == hidden);
  CloseHandle(indexer);
  CHECK(FilesIn(dir) == 2);
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);

  // A scanner's look of half a second without delete sharing is waited for.
  Write(dest, previous);
  Hold look{dest, FILE_SHARE_READ, 500, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE scanner = CreateThread(nullptr, 0, &HoldFor, &look, 0, nullptr);
  WaitForSingleObject(look.opened, 10000);
  const DWORD start = GetTickCount();
  CHECK(!CopyFails(fs, source, dest));
  CHECK(GetTickCount() - start >= 400);
  CHECK(Read(dest) == next);
  WaitForSingleObject(scanner, 10000);
  CloseHandle(scanner);
  CloseHandle(look.opened);
  CHECK(FilesIn(dir) == 2);

  // A holder that stays and does not share deletion: refused before any file is made.
  Write(dest, previous);
  HANDLE stays = OpenShared(dest, FILE_SHARE_READ | FILE_SHARE_WRITE);
  {
    CreationWatch watch(dir);
    CHECK(watch.Watching());
    CHECK(CopyFails(fs, source, dest));
    CHECK(watch.Created().empty());
  }
  CloseHandle(stays);
  CHECK(Read(dest) == previous && FilesIn(dir) == 2);

  // Read-only: refused, the file left as it was.
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_READONLY);
  CHECK(CopyFails(fs, source, dest));
  CHECK(Read(dest) == previous && FilesIn(dir) == 2);
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Another program's file at the first temporary name a copy would take survives a copy that
// fails (its source missing), byte for byte and still read-only.
void OthersFilesAreNotTouched(const std::wstring& dir, const std::wstring& dest) {
  win32::FileSystem fs(0xABCDE);
  const std::wstring planted = dir + L"\\~QVABCDE.TMP";
  const std::string theirs = "another program's file";
  Write(planted, theirs);
  SetFileAttributesW(planted.c_str(), FILE_ATTRIBUTE_READONLY);
  CHECK(CopyFails(fs, dir + L"\\MISSING.BIN", dest));
  CHECK(Read(planted) == theirs);
  CHECK(GetFileAttributesW(planted.c_str()) & FILE_ATTRIBUTE_READONLY);
  SetFileAttributesW(planted.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileW(planted.c_str());
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

  HeldDestinations(fs, dir, source, dest, next);
  OthersFilesAreNotTouched(dir, dest);

  DeleteFileW(source.c_str());
  DeleteFileW(dest.c_str());
  RemoveDirectoryW(dir.c_str());
}
