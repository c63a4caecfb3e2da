#include "copy_replacing.h"

#include <algorithm>
#include <vector>

#include "handles.h"

namespace win32 {

namespace {

constexpr DWORD kChunk = 1 << 16;
// How long holders that let go by themselves (a scanner's look) are waited for, in all.
constexpr DWORD kPatienceMs = 2000;
constexpr int kNameAttempts = 64;

// What another program that has the file open for a moment causes.
bool Passing(DWORD code) {
  switch (code) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_ACCESS_DENIED:  // also a file whose deletion is pending
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2: return true;
    default: return false;
  }
}

// Runs `step` (which returns an error code) again after short pauses while it fails in a way
// that passes, for about two seconds at most; returns its last result.
template <typename Step>
DWORD Patiently(Step&& step) {
  const DWORD start = GetTickCount();
  for (DWORD pause = 50;; pause *= 2) {
    const DWORD code = step();
    const DWORD spent = GetTickCount() - start;
    if (code == ERROR_SUCCESS || !Passing(code) || spent >= kPatienceMs) return code;
    Sleep(std::min(pause, kPatienceMs - spent));
  }
}

DWORD Check(BOOL ok) { return ok ? ERROR_SUCCESS : GetLastError(); }

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A name of the same length as the longest installed name, in the folder of `path`.
std::wstring NameBeside(const std::wstring& path, unsigned n) {
  static const wchar_t hex[] = L"0123456789ABCDEF";
  std::wstring name = L"~QV00000.TMP";
  for (int i = 7; i >= 3; --i, n >>= 4) name[static_cast<size_t>(i)] = hex[n & 15];
  const size_t slash = path.find_last_of(L'\\');
  return (slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1)) + name;
}

// A new empty file beside `path`, created by this call: a name that exists already is never
// taken. Its name goes to `name`; on failure the handle is empty and `code` says why.
UniqueFile CreateOwn(const std::wstring& path, unsigned& seed, DWORD access, std::wstring& name, DWORD& code) {
  code = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    name = NameBeside(path, seed++);
    UniqueFile f(CreateFileW(name.c_str(), access, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (f) return f;
    code = GetLastError();
    if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) break;
  }
  return UniqueFile();
}

// Whether the file goes when its last handle closes.
bool GoesOnClose(HANDLE file, bool goes) {
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = goes ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &info, sizeof info) != FALSE;
}

// The whole of `source` into `copy`, with the source's time of last change; `durable`: on the
// disk, not only in the system's cache.
DWORD Fill(HANDLE source, HANDLE copy, bool durable) {
  std::vector<char> buffer(kChunk);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source, buffer.data(), kChunk, &got, nullptr)) return GetLastError();
    if (got == 0) break;
    if (!WriteFile(copy, buffer.data(), got, &put, nullptr)) return GetLastError();
    if (put != got) return ERROR_DISK_FULL;
  }
  FILETIME changed{};
  if (GetFileTime(source, nullptr, nullptr, &changed)) SetFileTime(copy, nullptr, nullptr, &changed);
  return durable ? Check(FlushFileBuffers(copy)) : ERROR_SUCCESS;
}

// Whether an existing destination can be replaced now: no program holds it open without
// sharing deletion (what replacing it needs of it).
DWORD Openable(const std::wstring& to) {
  if (!Exists(to)) return ERROR_SUCCESS;
  UniqueFile probe(CreateFileW(to.c_str(), GENERIC_READ | DELETE | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  return probe ? ERROR_SUCCESS : GetLastError();
}

// Puts the complete new file `temp` in the place of the existing `to`. The previous file is
// moved aside to a name of our own (allowed while its holders share deletion), keeping its
// security, attributes and streams for the new one, and deleted once the new one is in place.
// On failure the previous file is put back where the step left it elsewhere, and `temp` goes.
DWORD Replace(const std::wstring& to, const std::wstring& temp, unsigned& seed) {
  // Windows' replacement carries them over itself; not every implementation of it does.
  const DWORD attributes = GetFileAttributesW(to.c_str());
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & kKept)) {
    SetFileAttributesW(temp.c_str(), (attributes & kKept) | FILE_ATTRIBUTE_ARCHIVE);
  }
  std::wstring aside;
  DWORD code = ERROR_SUCCESS;
  bool reserved = false;  // `aside` names an empty file of our own, for the previous file to take
  code = Patiently([&]() -> DWORD {
    DWORD made = ERROR_SUCCESS;
    if (!reserved && !CreateOwn(to, seed, GENERIC_WRITE, aside, made)) return made;
    reserved = true;
    if (ReplaceFileW(to.c_str(), temp.c_str(), aside.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
      return ERROR_SUCCESS;
    }
    const DWORD failed = GetLastError();
    // The replacement moved the previous file aside and stopped there: it goes back.
    const bool movedAside = failed == ERROR_UNABLE_TO_MOVE_REPLACEMENT || failed == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
    if (movedAside && !Exists(to) && MoveFileExW(aside.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) reserved = false;
    return failed;
  });
  if (code == ERROR_SUCCESS) {
    // Gone at once, or when the last program that has it open lets go.
    Patiently([&] { return Check(DeleteFileW(aside.c_str())); });
    return code;
  }
  DeleteFileW(temp.c_str());
  // Still the empty file we made, unless the previous file could not be put back from it.
  if (reserved && Exists(to)) DeleteFileW(aside.c_str());
  return code;
}

}  // namespace

CopyOutcome CopyReplacing(const std::wstring& from, const std::wstring& to, unsigned& nameSeed) {
  // A read-only destination stays as it is (the system refuses to replace it; Wine running as
  // root would not).
  const DWORD attributes = GetFileAttributesW(to.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return {ERROR_ACCESS_DENIED, true};
  if (const DWORD code = Patiently([&] { return Openable(to); })) return {code, true};
  // A file that replaces another is on the disk before it takes its name, so that a power cut
  // cannot leave the name on unwritten data with the previous file gone. A file that replaces
  // nothing puts nothing at stake, and is left to the system's cache as any copy is.
  const bool replacing = attributes != INVALID_FILE_ATTRIBUTES;

  UniqueFile source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!source) return {GetLastError(), false};
  std::wstring temp;
  DWORD code = ERROR_SUCCESS;
  UniqueFile copy = CreateOwn(to, nameSeed, GENERIC_WRITE | DELETE, temp, code);
  if (!copy) return {code, false};
  // Until it is complete, the new file goes with its handle: a failed copy, or the program ended
  // by force, leaves nothing behind.
  const bool goes = GoesOnClose(copy.get(), true);
  code = Fill(source.get(), copy.get(), replacing);
  if (code == ERROR_SUCCESS && goes && !GoesOnClose(copy.get(), false)) code = GetLastError();
  copy.reset();
  source.reset();
  if (code != ERROR_SUCCESS) {
    if (!goes) DeleteFileW(temp.c_str());
    return {code, false};
  }

  if (MoveFileExW(temp.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return {};
  code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) code = Replace(to, temp, nameSeed);
  else DeleteFileW(temp.c_str());
  return {code, code != ERROR_SUCCESS};
}

}  // namespace win32
