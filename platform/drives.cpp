#include "drives.h"

namespace platform {

std::vector<DriveInfo> ListDrives(DriveProbe& probe) {
  std::vector<DriveInfo> drives;
  const uint32_t letters = probe.Letters();
  for (int i = 0; i < 26; ++i) {
    if (!(letters & (1u << i))) continue;
    const wchar_t letter = static_cast<wchar_t>(L'A' + i);
    const DriveType type = probe.Type(letter);
    std::wstring label;
    const bool cheap = type == DriveType::Fixed || type == DriveType::RamDisk;
    if (!cheap || !probe.VolumeLabel(letter, label)) label.clear();
    drives.push_back(DriveInfo{letter, label});
  }
  return drives;
}

}  // namespace platform
