#include "fakes.h"

#include <algorithm>
#include <cwctype>

#include "platform/rt/errors.h"

namespace {
std::string Narrow(const std::wstring& s) { return headless::Narrow(s); }
}  // namespace

FakeFileSystem::FakeFileSystem() {
  SetDrive(L'C', L"SYSTEM", true);
  AddFolder(L"C:\\");
  AddFolder(L"C:\\Program Files");
  AddFolder(L"C:\\windows");
}

std::wstring FakeFileSystem::Key(const std::wstring& full) {
  std::wstring k = full;
  for (auto& c : k) c = static_cast<wchar_t>(std::towupper(c));
  if (k.size() > 3 && k.back() == L'\\') k.pop_back();
  return k;
}

std::wstring FakeFileSystem::Full(const std::wstring& path) const {
  std::wstring p = path;
  if (p.size() == 2 && p[1] == L':') return p + L"\\";
  if (p.size() >= 2 && p[1] == L':') {
    if (p.size() >= 3 && p[2] == L'\\') return p;
    return p.substr(0, 2) + L"\\" + p.substr(2);  // "C:foo": the drive's root here
  }
  if (p.rfind(L"\\\\", 0) == 0) return p;  // \\server\share\...
  if (!p.empty() && p[0] == L'\\') return cwd_.substr(0, 2) + p;
  return cwd_ + (cwd_.back() == L'\\' ? L"" : L"\\") + p;
}

std::wstring FakeFileSystem::Parent(const std::wstring& full) const {
  std::wstring k = full;
  if (k.size() > 3 && k.back() == L'\\') k.pop_back();
  const size_t slash = k.find_last_of(L'\\');
  if (slash == std::wstring::npos) return L"";
  if (k.rfind(L"\\\\", 0) == 0 && k.find(L'\\', 2) == slash) return L"";  // a share is a root
  if (slash == 2) return k.substr(0, 3);
  return k.substr(0, slash);
}

void FakeFileSystem::SetDrive(wchar_t letter, const std::wstring& label, bool ready) {
  drives_[letter] = platform::DriveInfo{letter, label};
  if (ready) {
    notReady_.erase(letter);
    folders_.insert(Key(std::wstring{letter, L':', L'\\'}));
  } else {
    notReady_.insert(letter);
  }
}

void FakeFileSystem::AddFolder(const std::wstring& path) {
  const std::wstring full = Full(path);
  if (full.size() >= 2 && full[1] == L':' && !drives_.count(static_cast<wchar_t>(std::towupper(full[0])))) {
    SetDrive(static_cast<wchar_t>(std::towupper(full[0])), L"", true);
  }
  const std::wstring parent = Parent(full);
  if (!parent.empty() && !folders_.count(Key(parent))) AddFolder(parent);
  folders_.insert(Key(full));
  names_[Key(full)] = full;
}

void FakeFileSystem::AddFile(const std::wstring& path, uint64_t size) {
  const std::wstring full = Full(path);
  AddFolder(Parent(full));
  files_[Key(full)] = size;
  names_[Key(full)] = full;
}

bool FakeFileSystem::HasFile(const std::wstring& path) const { return files_.count(Key(Full(path))) > 0; }
bool FakeFileSystem::HasFolder(const std::wstring& path) const { return folders_.count(Key(Full(path))) > 0; }
uint64_t FakeFileSystem::SizeOf(const std::wstring& path) const { return files_.at(Key(Full(path))); }

size_t FakeFileSystem::Writes() const {
  return static_cast<size_t>(std::count_if(calls.begin(), calls.end(), [](const std::string& c) {
    return c.rfind("mkdir", 0) == 0 || c.rfind("copy", 0) == 0;
  }));
}

void FakeFileSystem::ChangeDirectory(const std::wstring& folder) {
  calls.push_back("chdir " + Narrow(folder));
  const std::wstring full = Full(folder);
  if (!folders_.count(Key(full))) throw rt::RuntimeError(rt::ErrPathNotFound, L"Path not found: " + folder);
  cwd_ = full;
  if (cwd_.size() > 3 && cwd_.back() == L'\\') cwd_.pop_back();
}

void FakeFileSystem::MakeDirectory(const std::wstring& path) {
  calls.push_back("mkdir " + Narrow(path));
  const std::wstring full = Full(path);
  const std::wstring parent = Parent(full);
  if (folders_.count(Key(full)) || files_.count(Key(full))) {
    throw rt::RuntimeError(rt::ErrPathFileAccess, L"Path/File access error: " + path);
  }
  if (parent.empty() || !folders_.count(Key(parent))) {
    throw rt::RuntimeError(rt::ErrPathNotFound, L"Path not found: " + path);
  }
  folders_.insert(Key(full));
  names_[Key(full)] = full;
}

void FakeFileSystem::Copy(const std::wstring& from, const std::wstring& to) {
  calls.push_back("copy " + Narrow(from) + " -> " + Narrow(to));
  if (duringCopy) duringCopy();
  const std::wstring src = Full(from), dst = Full(to);
  if (!files_.count(Key(src))) throw rt::RuntimeError(rt::ErrFileNotFound, L"Cannot copy " + from + L": not found");
  if (!folders_.count(Key(Parent(dst)))) throw rt::RuntimeError(rt::ErrPathNotFound, L"Cannot copy to " + to);
  if (readOnly_.count(Key(dst))) {
    throw rt::RuntimeError(rt::ErrPermissionDenied, L"Cannot copy " + from + L" to " + to + L": access denied");
  }
  if (!failCopyTo.empty() && Key(dst).size() >= failCopyTo.size() &&
      Key(dst).compare(Key(dst).size() - failCopyTo.size(), failCopyTo.size(), Key(failCopyTo)) == 0) {
    throw rt::RuntimeError(rt::ErrDiskFull, L"Cannot copy " + from + L" to " + to + L": disk full");
  }
  files_[Key(dst)] = files_[Key(src)];
  names_[Key(dst)] = dst;
}

uint64_t FakeFileSystem::FileLength(const std::wstring& path) {
  calls.push_back("len " + Narrow(path));
  if (!failOpen.empty() && Key(path) == Key(failOpen)) throw rt::RuntimeError(rt::ErrPermissionDenied, L"Locked: " + path);
  auto it = files_.find(Key(Full(path)));
  if (it == files_.end()) throw rt::RuntimeError(rt::ErrFileNotFound, L"File not found: " + path);
  return it->second;
}

std::vector<platform::DriveInfo> FakeFileSystem::Drives() {
  std::vector<platform::DriveInfo> out;
  for (auto& [letter, d] : drives_) out.push_back(d);
  return out;
}

std::vector<std::wstring> FakeFileSystem::SubFolders(const std::wstring& folder) {
  const std::wstring full = Full(folder);
  const wchar_t letter = static_cast<wchar_t>(std::towupper(full[0]));
  if (notReady_.count(letter)) {
    throw rt::RuntimeError(rt::ErrDeviceUnavailable, L"Device unavailable");
  }
  if (!folders_.count(Key(full))) throw rt::RuntimeError(rt::ErrPathNotFound, L"Path not found: " + folder);
  std::vector<std::wstring> subs;
  for (const auto& k : folders_) {
    if (k != Key(full) && Key(Parent(k)) == Key(full)) {
      const std::wstring& name = names_.count(k) ? names_.at(k) : k;
      subs.push_back(name.substr(name.find_last_of(L'\\') + 1));
    }
  }
  return subs;
}

int32_t FakeSetupKit::CreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                                      const std::wstring& arguments) {
  if (missing) throw rt::RuntimeError(rt::ErrFileNotFoundDll, L"File not found: STKIT432.DLL");
  calls.push_back(Call{folder, name, target, arguments});
  return result;
}

Installer::Installer(std::wstring folder, bool createFolder)
    : app(ui, fs, folder, L"Setup"), constants(fs, kit), program(app, constants) {
  if (createFolder) fs.AddFolder(folder);
}

void Installer::AddPayload(uint64_t eachSize) {
  for (const auto& row : install::InstallManifest) fs.AddFile(app.Path() + L"\\" + row.source, eachSize);
}

int Installer::InstallInto(const std::wstring& folder) {
  ui.WhenClick(L"Welcome", L"Command2");
  ui.When(L"Where", [this, folder](rt::Form& f) {
    f[L"Label5"].SetCaption(folder);
    ui.Click(f, L"Command2");
  });
  return Run();
}

int Installer::Run() {
  try {
    app.Run(program.SetupMain);
  } catch (const rt::ProgramEnded& e) {
    return e.exitCode;
  } catch (const headless::Stall& s) {
    stall = s.what;
  }
  return -1;
}
