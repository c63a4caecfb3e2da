// hold.exe FILE READY: opens FILE for reading and shares it with nobody, as a program that
// has a file open exclusively does, then creates the file READY and keeps FILE open until
// it is killed (or after ten minutes at most). Exit code 2 when FILE cannot be opened.
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 1;
  HANDLE held = CreateFileW(argv[1], GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(ready);
  Sleep(10 * 60 * 1000);
  CloseHandle(held);
  return 0;
}
