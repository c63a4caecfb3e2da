// The count of checks made by platform_units.exe: each failed check prints one line.
#pragma once

#include <cstdio>

namespace checks {

inline int made = 0, failed = 0;

inline void Check(bool ok, const char* what, int line) {
  ++made;
  if (!ok) {
    ++failed;
    std::printf("FAILED line %d: %s\n", line, what);
    std::fflush(stdout);
  }
}

}  // namespace checks

#define CHECK(cond) ::checks::Check((cond), #cond, __LINE__)
