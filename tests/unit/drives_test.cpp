// The drive list's probing: every drive is listed, and only drives that answer at once are asked
// for their volume.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/drives.h"

namespace {

using platform::DriveType;

struct ScriptedProbe : platform::DriveProbe {
  std::map<wchar_t, DriveType> types;
  std::map<wchar_t, std::wstring> labels;  // drives with a readable volume
  std::wstring asked;                      // letters whose volume was read, in order

  uint32_t Letters() override {
    uint32_t mask = 0;
    for (const auto& [letter, type] : types) mask |= 1u << (letter - L'A');
    return mask;
  }
  DriveType Type(wchar_t letter) override { return types.at(letter); }
  bool VolumeLabel(wchar_t letter, std::wstring& label) override {
    asked += letter;
    auto it = labels.find(letter);
    if (it == labels.end()) return false;
    label = it->second;
    return true;
  }
};

TEST(Drives, SlowDrivesAreListedWithoutReadingTheirVolume) {
  ScriptedProbe probe;
  probe.types = {{L'A', DriveType::Removable}, {L'C', DriveType::Fixed},  {L'D', DriveType::CdRom},
                 {L'F', DriveType::Fixed},     {L'N', DriveType::Remote}, {L'R', DriveType::RamDisk},
                 {L'Z', DriveType::Unknown}};
  probe.labels = {{L'C', L"SYSTEM"}, {L'D', L"QV99"}, {L'N', L"SHARE"}, {L'R', L""}};
  const auto drives = platform::ListDrives(probe);

  EXPECT_EQ(probe.asked, L"CFR");  // fixed and RAM disks only
  std::wstring letters, labels;
  for (const auto& d : drives) {
    letters += d.letter;
    labels += d.label + L"|";
  }
  EXPECT_EQ(letters, L"ACDFNRZ");  // every drive, ready or not, in order
  EXPECT_EQ(labels, L"|SYSTEM||||||");  // F: a fixed drive whose volume cannot be read has none
}

}  // namespace
