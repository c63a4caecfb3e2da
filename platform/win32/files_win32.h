// File services over the Win32 wide-character API.
#pragma once

#include "../files.h"
#include "run_aside.h"

namespace win32 {

class FileSystem : public platform::FileSystem {
 public:
  FileSystem();
  // `nameSeed`: the number of the first temporary name a copy tries (a test's choice).
  explicit FileSystem(unsigned nameSeed) : nameSeed_(nameSeed) {}

  void ChangeDirectory(const std::wstring& folder) override;
  std::wstring CurrentDirectory() override;
  void MakeDirectory(const std::wstring& path) override;
  bool DirectoryExists(const std::wstring& path) override;
  void Copy(const std::wstring& from, const std::wstring& to) override;
  uint64_t FileLength(const std::wstring& path) override;
  std::vector<platform::DriveInfo> Drives() override;
  std::vector<std::wstring> SubFolders(const std::wstring& folder) override;

 private:
  unsigned nameSeed_;
  Aside aside_;  // copies and measures while the window thread stays responsive
};

// The system's text for an error code, without the trailing line break.
std::wstring SystemMessage(unsigned long code);

}  // namespace win32
