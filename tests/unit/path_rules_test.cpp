// The Windows path rules shared by SETUP.EXE and STKIT432.DLL: device names and drive prefixes.
#include <gtest/gtest.h>

#include <string>

#include "install/destination.h"
#include "platform/path_rules.h"
#include "tests/unit/device_names.h"

namespace {

std::string Ascii(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

TEST(DeviceNames, ReservedNamesAreRecognisedAndLookAlikesAreNot) {
  for (const wchar_t* name : device_names::kReserved) {
    EXPECT_TRUE(platform::IsReservedDeviceName(name)) << Ascii(name);
  }
  for (const wchar_t* name : device_names::kOrdinary) {
    EXPECT_FALSE(platform::IsReservedDeviceName(name)) << Ascii(name);
  }
}

TEST(DeviceNames, TheDestinationRulesRefuseEveryReservedName) {
  for (const wchar_t* name : device_names::kReserved) {
    const std::wstring problem = install::DestinationProblem(L"C:\\Apps\\" + std::wstring(name) + L"\\Q99");
    EXPECT_NE(problem.find(L"reserved"), std::wstring::npos) << Ascii(name) << ": " << Ascii(problem);
  }
  for (const wchar_t* name : device_names::kOrdinary) {
    EXPECT_EQ(install::DestinationProblem(L"C:\\Apps\\" + std::wstring(name)), L"") << Ascii(name);
  }
}

TEST(DrivePrefix, OnlyAnAsciiLetterAndAColonNameADrive) {
  EXPECT_EQ(platform::DriveLetterOf(L"c:"), L'C');
  EXPECT_EQ(platform::DriveLetterOf(L"D:\\Apps"), L'D');
  EXPECT_EQ(platform::DriveLetterOf(L"z: [DATA]"), L'Z');
  EXPECT_EQ(platform::DriveLetterOf(L"C:relative"), L'C');
  for (const wchar_t* none : {L"", L"C", L":", L"1:\\", L"\u00e9:\\", L"\uff23:\\", L"\\\\srv\\share", L"CC:\\"}) {
    EXPECT_EQ(platform::DriveLetterOf(none), 0) << Ascii(none);
  }
}

TEST(DrivePrefix, ARootNeedsTheBackslash) {
  EXPECT_TRUE(platform::StartsWithDriveRoot(L"c:\\"));
  EXPECT_TRUE(platform::StartsWithDriveRoot(L"C:\\Program Files"));
  EXPECT_FALSE(platform::StartsWithDriveRoot(L"C:"));
  EXPECT_FALSE(platform::StartsWithDriveRoot(L"C:Program Files"));
  EXPECT_FALSE(platform::StartsWithDriveRoot(L"C:/Program Files"));
  EXPECT_FALSE(platform::StartsWithDriveRoot(L"\u00e9:\\"));
}

}  // namespace
