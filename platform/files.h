// File services: the current directory, folders, copying and measuring files, drives.
//
// Every name goes to the operating system as a wide string. Failures throw rt::RuntimeError with
// the runtime's error number and a description that names the file and the reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct DriveInfo {
  wchar_t letter;        // 'A'..'Z'
  std::wstring label;    // volume label; empty when none was read (slow drives are not asked)
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Makes `folder` the current drive and directory (one process-wide current directory).
  virtual void ChangeDirectory(const std::wstring& folder) = 0;
  virtual std::wstring CurrentDirectory() = 0;
  // Creates one folder; its parent must exist.
  virtual void MakeDirectory(const std::wstring& path) = 0;
  virtual bool DirectoryExists(const std::wstring& path) = 0;
  // Copies `from` over `to`, overwriting an existing file. A failure leaves no partial copy behind.
  virtual void Copy(const std::wstring& from, const std::wstring& to) = 0;
  // Opens the file for reading, takes its length and closes it again.
  virtual uint64_t FileLength(const std::wstring& path) = 0;

  virtual std::vector<DriveInfo> Drives() = 0;
  // Sub-folders of `folder`, sorted case-insensitively. Throws when the folder cannot be listed.
  virtual std::vector<std::wstring> SubFolders(const std::wstring& folder) = 0;
};

}  // namespace platform
