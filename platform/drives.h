// The drives that the drive list offers, and how they are found out without stalling the chooser.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files.h"

namespace platform {

enum class DriveType { Unknown, Removable, Fixed, Remote, CdRom, RamDisk };

// What the system says about drives, one question at a time.
class DriveProbe {
 public:
  virtual ~DriveProbe() = default;
  // Bit n set for each drive letter 'A' + n that exists.
  virtual uint32_t Letters() = 0;
  virtual DriveType Type(wchar_t letter) = 0;
  // The volume label; false when no volume can be read.
  virtual bool VolumeLabel(wchar_t letter, std::wstring& label) = 0;
};

// Every drive, A to Z. Reading a volume can block for seconds on a disconnected network drive or
// an optical or floppy drive without a disk, so labels are read from fixed and RAM disks only;
// the other drives are listed by letter alone, ready or not.
std::vector<DriveInfo> ListDrives(DriveProbe& probe);

}  // namespace platform
