// The lines of the drive and directory lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/folder_lists.h"

namespace {

using platform::FolderLine;

std::vector<std::wstring> Column(const std::vector<FolderLine>& lines, std::wstring FolderLine::*field) {
  std::vector<std::wstring> out;
  for (const auto& l : lines) out.push_back(l.*field);
  return out;
}

TEST(FolderLines, ChainFromTheRootThenSubFoldersOneLevelDeeper) {
  const auto lines = platform::FolderLines(L"C:\\Program Files\\Quorvant '99", {L"DATA", L"Help"});
  EXPECT_EQ(Column(lines, &FolderLine::name),
            (std::vector<std::wstring>{L"C:\\", L"Program Files", L"Quorvant '99", L"DATA", L"Help"}));
  EXPECT_EQ(Column(lines, &FolderLine::path),
            (std::vector<std::wstring>{L"C:\\", L"C:\\Program Files", L"C:\\Program Files\\Quorvant '99",
                                       L"C:\\Program Files\\Quorvant '99\\DATA",
                                       L"C:\\Program Files\\Quorvant '99\\Help"}));
  std::vector<int> depths;
  std::vector<bool> open;
  for (const auto& l : lines) {
    depths.push_back(l.depth);
    open.push_back(l.open);
  }
  EXPECT_EQ(depths, (std::vector<int>{0, 1, 2, 3, 3}));
  EXPECT_EQ(open, (std::vector<bool>{true, true, true, false, false}));
}

TEST(FolderLines, DriveRootAndNetworkShares) {
  EXPECT_EQ(Column(platform::FolderLines(L"D:\\", {L"DISK1"}), &FolderLine::path),
            (std::vector<std::wstring>{L"D:\\", L"D:\\DISK1"}));
  // \\server\share\ is the root of a network path, with or without a folder under it.
  EXPECT_EQ(Column(platform::FolderLines(L"\\\\SERVER\\SHARE\\SETUP", {}), &FolderLine::name),
            (std::vector<std::wstring>{L"\\\\SERVER\\SHARE\\", L"SETUP"}));
  EXPECT_EQ(Column(platform::FolderLines(L"\\\\SERVER\\SHARE", {L"A"}), &FolderLine::path),
            (std::vector<std::wstring>{L"\\\\SERVER\\SHARE\\", L"\\\\SERVER\\SHARE\\A"}));
  // Doubled backslashes name no empty folder.
  EXPECT_EQ(Column(platform::FolderLines(L"C:\\A\\\\B", {}), &FolderLine::path),
            (std::vector<std::wstring>{L"C:\\", L"C:\\A", L"C:\\A\\B"}));
}

TEST(DriveLine, LowerCaseLetterAndTheLabelInBrackets) {
  EXPECT_EQ(platform::DriveLine({L'C', L"SYSTEM"}), L"c: [SYSTEM]");
  EXPECT_EQ(platform::DriveLine({L'F', L""}), L"f:");
}

}  // namespace
