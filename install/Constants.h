// The module Constants: the install manifest, the progress routines that keep the copy window
// current, the shared paths, and the outside library call.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace rt {
class Control;
}
namespace platform {
class FileSystem;
class SetupKit;
}  // namespace platform

namespace install {

enum class Folder : uint8_t { Destination, Data };

struct ManifestRow {
  const wchar_t* source;  // 8.3 name in the installer's folder
  const wchar_t* dest;    // name of the copy
  Folder folder;
};

constexpr std::array<ManifestRow, 20> InstallManifest{{
    {L"LICENSE.TX_", L"LICENSE.TXT", Folder::Data},
    {L"README.TXT", L"README.TXT", Folder::Destination},
    {L"BLANKER.BM_", L"BLANKER.BMP", Folder::Data},
    {L"APPLAUSE.WA_", L"APPLAUSE.WAV", Folder::Data},
    {L"UHOH.WA_", L"UHOH.WAV", Folder::Data},
    {L"MSVBVM50.DLL", L"MSVBVM50.DLL", Folder::Destination},
    {L"STDOLE2.TL_", L"STDOLE2.TLB", Folder::Destination},
    {L"QV99.EX_", L"QV99.EXE", Folder::Destination},
    {L"QV99.HL_", L"QV99.HLP", Folder::Data},
    {L"CUSTOMER.XL_", L"CUSTOMER.XLS", Folder::Data},
    {L"CUSTOMER.CS_", L"CUSTOMER.CSV", Folder::Data},
    {L"INVENT.XL_", L"INVENT.XLS", Folder::Data},
    {L"INVENT.CS_", L"INVENT.CSV", Folder::Data},
    {L"SUPPLIER.XL_", L"SUPPLIER.XLS", Folder::Data},
    {L"SUPPLIER.CS_", L"SUPPLIER.CSV", Folder::Data},
    {L"COMDLG32.OC_", L"COMDLG32.OCX", Folder::Destination},
    {L"MCI32.OC_", L"MCI32.OCX", Folder::Destination},
    {L"THREED32.OC_", L"THREED32.OCX", Folder::Destination},
    {L"GRID32.OC_", L"GRID32.OCX", Folder::Destination},
    {L"TABCTL32.OC_", L"TABCTL32.OCX", Folder::Destination},
}};

// The program file that the shortcut starts (row 8).
constexpr const wchar_t* ProgramFile = L"QV99.EXE";
constexpr const wchar_t* DataFolder = L"DATA";
constexpr const wchar_t* ProductName = L"Quorvant '99";

// How the program ends, as its exit code tells a script that ran it.
enum ExitCode : int {
  ExitInstalled = 0,  // the completion message was shown
  ExitFailed = 1,     // a failure message (or the runtime's own error box) was shown
  ExitCancelled = 2,  // the user left before the copy run: nothing was written
};

// The number of bytes that counts as the whole installation on the gauge.
constexpr double GaugeTotalBytes = 4800000;

// The gauge's bar colour: dark red, colour 4 of the classic 16-colour palette.
constexpr uint8_t GaugeRed = 128;

class Constants {
 public:
  Constants(platform::FileSystem& files, platform::SetupKit& setupKit) : files_(files), setupKit_(setupKit) {}

  // The installer's folder and the destination folder, each ending in a backslash.
  std::wstring SourcePath;
  std::wstring DestPath;

  // Where a row's copy goes: DestPath, then DATA\ for the data files, then the name.
  std::wstring CopyTarget(const ManifestRow& row) const;

  // Shows the file being copied: SourcePath + source and DestPath + dest, in upper case.
  void ShowCopyStatus(rt::Control& sourceLabel, rt::Control& destLabel, const std::wstring& source,
                      const std::wstring& dest);
  // The length in bytes of a file in the current directory (the installer's folder).
  int64_t SourceFileLength(const std::wstring& name);
  // Advances the gauge by `bytes` and redraws its bar and percentage text.
  void UpdateGauge(rt::Control& gauge, int64_t bytes);
  float GaugePercent() const { return gaugePercent_; }

  // The setup library's shortcut call.
  int32_t fCreateShellLink(const std::wstring& folder, const std::wstring& name, const std::wstring& target,
                           const std::wstring& arguments);

  platform::FileSystem& Files() { return files_; }

 private:
  platform::FileSystem& files_;
  platform::SetupKit& setupKit_;
  float gaugePercent_ = 0;
};

// The percentage text: the whole number nearest to `percent` (halves to the even neighbour) and "%".
std::wstring GaugeText(float percent);

// The gauge's percentage after `bytes` more: the increment computed in double and rounded to
// single precision, added in single precision, held at 100.
float GaugeAdvance(float percent, int64_t bytes);
// The right edge of the gauge's bar for `percent` on a gauge `scaleWidth` wide: the width per
// percent in single precision, and the product rounded to single precision.
float GaugeBarRight(float percent, double scaleWidth);

}  // namespace install
