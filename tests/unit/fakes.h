// In-memory stand-ins for the file services and the setup library, with Windows path rules:
// backslashes, drive letters, case-insensitive names, one current directory.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "forms/forms.h"
#include "install/Constants.h"
#include "platform/files.h"
#include "platform/headless/headless_backend.h"
#include "platform/setupkit.h"

class FakeFileSystem : public platform::FileSystem {
 public:
  FakeFileSystem();

  // Set-up.
  void AddFolder(const std::wstring& path);
  void AddFile(const std::wstring& path, uint64_t size);
  void SetDrive(wchar_t letter, const std::wstring& label, bool ready);
  // Makes the next copy to a path ending in `suffix` fail.
  std::wstring failCopyTo;
  std::wstring failOpen;  // a name whose FileLength fails with a sharing violation
  void MakeReadOnly(const std::wstring& path) { readOnly_.insert(Key(Full(path))); }
  std::function<void()> duringCopy;  // runs inside every copy

  // Queries.
  bool HasFile(const std::wstring& path) const;
  bool HasFolder(const std::wstring& path) const;
  uint64_t SizeOf(const std::wstring& path) const;
  std::wstring Full(const std::wstring& path) const;
  std::vector<std::string> calls;  // "chdir X", "mkdir X", "copy A -> B", "len X"
  std::string WritesSummary() const;
  size_t Writes() const;

  // platform::FileSystem
  void ChangeDirectory(const std::wstring& folder) override;
  std::wstring CurrentDirectory() override { return cwd_; }
  void MakeDirectory(const std::wstring& path) override;
  bool DirectoryExists(const std::wstring& path) override { return HasFolder(path); }
  void Copy(const std::wstring& from, const std::wstring& to) override;
  uint64_t FileLength(const std::wstring& path) override;
  std::vector<platform::DriveInfo> Drives() override;
  std::vector<std::wstring> SubFolders(const std::wstring& folder) override;

 private:
  static std::wstring Key(const std::wstring& full);
  std::wstring Parent(const std::wstring& full) const;
  std::wstring cwd_ = L"C:\\";
  std::set<std::wstring> folders_;                  // keys
  std::map<std::wstring, std::wstring> names_;      // key -> display name
  std::map<std::wstring, uint64_t> files_;          // key -> size
  std::map<wchar_t, platform::DriveInfo> drives_;
  std::set<wchar_t> notReady_;  // drives whose folders cannot be listed
  std::set<std::wstring> readOnly_;  // keys of files that refuse to be overwritten
};

class FakeSetupKit : public platform::SetupKit {
 public:
  int32_t result = 1;
  bool missing = false;
  struct Call {
    std::wstring folder, name, target, arguments;
  };
  std::vector<Call> calls;
  int32_t CreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                          const std::wstring& arguments) override;
};

// The whole program over the headless backend: the installer lives in D:\DISK with the twenty
// payload files of `sizes` (bytes, in manifest order).
struct Installer {
  explicit Installer(std::wstring folder = L"D:\\DISK", bool createFolder = true);
  void AddPayload(uint64_t eachSize = 1000);
  // Runs the program until it ends or the script is done; returns the exit code or -1.
  int Run();
  // A whole run: Next > on the welcome page, `folder` put in the destination page's label,
  // Next > there; returns Run()'s result.
  int InstallInto(const std::wstring& folder = L"C:\\Program Files\\Quorvant '99");

  headless::Backend ui;
  FakeFileSystem fs;
  FakeSetupKit kit;
  rt::Application app;
  install::Constants constants;
  forms::Program program;
  std::wstring stall;  // what the program was waiting for when the script ran out
};
