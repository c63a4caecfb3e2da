// hold.exe FILE READY [shared]: opens FILE for reading and shares it with nobody, as a program
// that has a file open exclusively does (or, with "shared", with everybody for reading, writing
// and deleting, as a virus scanner or the search indexer looks at a file), then creates the file
// READY and keeps FILE open until its standard input ends (the test closes its end of the pipe to
// let go), ten minutes at most.
// Exit codes: 0 let go, 1 bad usage, 2 FILE cannot be opened, 3 READY cannot be made, 4 the
// ten minutes passed.
#include <windows.h>

namespace {

constexpr DWORD kLongest = 10 * 60 * 1000;

// Reads standard input until it ends; run on a thread of its own so that the wait is bounded.
DWORD WINAPI DrainInput(void*) {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  char buf[256];
  DWORD got = 0;
  while (ReadFile(in, buf, sizeof buf, &got, nullptr) && got > 0) {
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 && !(argc == 4 && lstrcmpW(argv[3], L"shared") == 0)) return 1;
  const DWORD share = argc == 4 ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  HANDLE held = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) return 2;
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) return 3;
  CloseHandle(ready);
  HANDLE reader = CreateThread(nullptr, 0, DrainInput, nullptr, 0, nullptr);
  const bool letGo = reader && WaitForSingleObject(reader, kLongest) == WAIT_OBJECT_0;
  CloseHandle(held);
  return letGo ? 0 : 4;
}
