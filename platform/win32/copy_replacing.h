// Copying one file over another on a machine where other programs look at files: a virus
// scanner opens every file that is written, the search indexer and preview handlers hold files
// open. The new file is written under a name of its own beside the destination, made durable,
// and only then takes the destination's name; the previous file is never lost, whatever fails.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

struct CopyOutcome {
  DWORD code = ERROR_SUCCESS;  // the system's error code of the step that failed
  bool atDestination = false;  // the destination could not be replaced (the copy itself could be made)
};

// Copies `from` to `to`, replacing a file there, also one that other programs hold open while
// they share deletion (it goes when the last of them lets go; they keep reading the old bytes).
// A destination that cannot be replaced (read-only, or held without delete sharing for longer
// than about two seconds) is refused before anything is written. Only files this call creates
// itself (exclusively, under names "~QVxxxxx.TMP" beside `to`, numbered from `nameSeed` on,
// which it advances) are ever cleared or deleted, and none of them is left behind: a new file
// that is not complete goes with its handle, also when the program is ended by force.
// Blocks for as long as the copy takes: run it off the window thread.
CopyOutcome CopyReplacing(const std::wstring& from, const std::wstring& to, unsigned& nameSeed);

}  // namespace win32
