// Which typed destinations are accepted, and the destination path's trailing backslash.
#include <gtest/gtest.h>

#include <ostream>

#include "install/destination.h"

namespace {

using install::DestinationProblem;

TEST(DestinationPath, OneTrailingBackslash) {
  EXPECT_EQ(install::WithTrailingBackslash(L"C:\\Program Files\\Quorvant '99"), L"C:\\Program Files\\Quorvant '99\\");
  EXPECT_EQ(install::WithTrailingBackslash(L"D:\\"), L"D:\\");
  EXPECT_EQ(install::WithTrailingBackslash(L"\\\\srv\\share"), L"\\\\srv\\share\\");
}

struct Case {
  const wchar_t* path;
  bool accepted;
  const wchar_t* says;  // a part of the message when refused
};

void PrintTo(const Case& c, std::ostream* os) {
  for (const wchar_t* p = c.path; *p; ++p) *os << (*p < 128 ? static_cast<char>(*p) : '?');
}

class Destinations : public ::testing::TestWithParam<Case> {};

TEST_P(Destinations, AreAcceptedOrRefusedWithAReason) {
  const Case& c = GetParam();
  const std::wstring problem = DestinationProblem(c.path);
  if (c.accepted) {
    EXPECT_TRUE(problem.empty()) << std::string(problem.begin(), problem.end());
  } else {
    ASSERT_FALSE(problem.empty());
    EXPECT_NE(problem.find(c.says), std::wstring::npos) << std::string(problem.begin(), problem.end());
  }
}

const wchar_t* const kFull = L"full path";

INSTANTIATE_TEST_SUITE_P(
    Table, Destinations,
    ::testing::Values(
        Case{L"C:\\Program Files\\Quorvant '99", true, nullptr}, Case{L"D:\\", true, nullptr},
        Case{L"d:\\apps\\", true, nullptr}, Case{L"E:\\New\\Sub", true, nullptr},
        Case{L"\\\\server\\share", true, nullptr}, Case{L"\\\\server\\share\\Apps\\Q99", true, nullptr},
        Case{L"C:\\Programme\\Gr\u00f6\u00dfe \u65e5\u672c", true, nullptr}, Case{L"C:\\a.b\\c d", true, nullptr},
        Case{L"C:\\CONSOLE\\NULL", true, nullptr}, Case{L"C:\\COM10", true, nullptr},
        Case{L"", false, L"choose"}, Case{L"   ", false, L"choose"}, Case{L"Quorvant", false, kFull},
        Case{L"..\\Quorvant", false, kFull}, Case{L"C:", false, kFull}, Case{L"C:foo", false, kFull},
        Case{L"\\foo", false, kFull}, Case{L"\\\\", false, kFull}, Case{L"\\\\server", false, kFull},
        Case{L"\\\\server\\", false, kFull}, Case{L"\\\\?\\C:\\x", false, kFull},
        Case{L"\\\\.\\C:\\x", false, kFull}, Case{L"\\\\..\\share", false, kFull},
        Case{L"\\\\server\\..\\x", false, kFull}, Case{L"\\\\server\\.", false, kFull}, Case{L"1:\\x", false, kFull}, Case{L"C/x", false, kFull},
        Case{L"C:/Program Files", false, kFull}, Case{L"C:\\a/b", false, L"characters"},
        Case{L"C:\\a*b", false, L"characters"}, Case{L"C:\\a?b", false, L"characters"},
        Case{L"C:\\a|b", false, L"characters"}, Case{L"C:\\a\"b", false, L"characters"},
        Case{L"C:\\a:b", false, L"characters"}, Case{L"C:\\a\tb", false, L"character"},
        Case{L"C:\\CON", false, L"reserved"}, Case{L"C:\\x\\nul", false, L"reserved"},
        Case{L"C:\\Aux.txt", false, L"reserved"}, Case{L"C:\\com1\\x", false, L"reserved"},
        Case{L"C:\\LPT9.log", false, L"reserved"}, Case{L"C:\\prn  .x", false, L"reserved"},
        Case{L"C:\\dir.", false, L"dot or a space"}, Case{L"C:\\dir \\x", false, L"dot or a space"},
        Case{L"C:\\a\\..\\b", false, L"\"..\""}, Case{L"C:\\a\\.\\b", false, L"\"..\""},
        Case{L"C:\\a\\\\b", false, L"empty"}));

// The longest copy, DATA\\SUPPLIER.XLS, must stay within 260 characters: a folder of 241
// characters (242 with the backslash before the file names) is the longest accepted.
TEST(Destinations, TooLongForTheCopiesIsRefused) {
  const std::wstring longest = L"C:\\" + std::wstring(238, L'x');
  EXPECT_TRUE(DestinationProblem(longest).empty());
  EXPECT_EQ(DestinationProblem(longest + L'x'),
            L"The destination directory path is too long. Please choose a path of at most 241 characters.");
}

}  // namespace
