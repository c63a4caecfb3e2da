// libFuzzer target for the destination rules: any text typed into the folder chooser goes
// through DestinationProblem before it is used. Input bytes are read as UTF-8 (a byte that
// is not part of a valid sequence stands for itself, as in Latin-1) and made into the
// 16-bit text the installer works with, code points above U+FFFF as surrogate pairs.
//
// Checked for every input: the rules neither crash nor hang (the sanitizers and libFuzzer's
// time-out watch that), and an accepted folder makes a destination path that the copies
// can use: one trailing backslash, at most 242 characters (241 and the backslash), a drive or share
// root (whose server and share are not "." or ".."), no forbidden or control character, no reserved, empty, "." or ".." name, no name
// ending in a dot or space, and accepted again with its backslash.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "install/destination.h"

namespace {

std::wstring Decode(const uint8_t* data, size_t size) {
  std::wstring out;
  auto put = [&out](uint32_t cp) {
    if (cp > 0xFFFF) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<wchar_t>(cp);
    }
  };
  size_t i = 0;
  while (i < size) {
    const uint8_t b = data[i];
    size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    uint32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    bool ok = len != 0 && i + len <= size;
    for (size_t k = 1; ok && k < len; ++k) {
      ok = (data[i + k] & 0xC0) == 0x80;
      cp = (cp << 6) | (data[i + k] & 0x3F);
    }
    if (ok && cp <= 0x10FFFF && !(len == 2 && cp < 0x80) && !(len == 3 && cp < 0x800) && !(len == 4 && cp < 0x10000)) {
      put(cp);
      i += len;
    } else {
      put(b);
      ++i;
    }
  }
  return out;
}

[[noreturn]] void Fail(const char* what, const std::wstring& path) {
  std::fprintf(stderr, "destination invariant broken: %s\npath (%zu characters):", what, path.size());
  for (wchar_t c : path) std::fprintf(stderr, " %04X", static_cast<unsigned>(c));
  std::fprintf(stderr, "\n");
  std::abort();
}

wchar_t Up(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

// The device names, written out independently of the rules under test.
bool Reserved(const std::wstring& name) {
  std::wstring base;
  for (wchar_t c : name) {
    if (c == L'.') break;
    base += Up(c);
  }
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (const wchar_t* n : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
    if (base == n) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0)) {
    const wchar_t d = base[3];
    return (d >= L'1' && d <= L'9') || d == 0xB9 || d == 0xB2 || d == 0xB3;
  }
  return false;
}

bool Forbidden(wchar_t c) {
  return c < 32 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'/' || c == L'|' || c == L'?' ||
         c == L'*';
}

void CheckAccepted(const std::wstring& folder) {
  const std::wstring dest = install::WithTrailingBackslash(folder);
  if (dest.size() < 2 || dest.back() != L'\\' || dest[dest.size() - 2] == L'\\') {
    Fail("not exactly one trailing backslash", folder);
  }
  if (dest.size() > 242) Fail("destination path too long", folder);  // 259 with DATA\SUPPLIER.XLS

  size_t pos = 0;
  if (dest.size() >= 3 && ((dest[0] >= L'A' && dest[0] <= L'Z') || (dest[0] >= L'a' && dest[0] <= L'z')) &&
      dest[1] == L':' && dest[2] == L'\\') {
    pos = 3;
  } else if (dest.size() > 2 && dest[0] == L'\\' && dest[1] == L'\\') {
    const size_t server = dest.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2) Fail("share without a server", folder);
    const size_t share = dest.find(L'\\', server + 1);
    if (share == std::wstring::npos || share == server + 1) Fail("server without a share", folder);
    for (size_t i = 2; i < share; ++i) {
      if (i != server && Forbidden(dest[i])) Fail("forbidden character in the share root", folder);
    }
    // No machine or share is called "." or "..": such a root would be read as a step up.
    for (const std::wstring& part : {dest.substr(2, server - 2), dest.substr(server + 1, share - server - 1)}) {
      if (part == L"." || part == L"..") Fail("\".\" or \"..\" as the server or share", folder);
    }
    pos = share + 1;
  } else {
    Fail("neither a drive nor a share root", folder);
  }

  while (pos < dest.size()) {
    const size_t end = dest.find(L'\\', pos);
    const std::wstring name = dest.substr(pos, end - pos);
    if (name.empty()) Fail("empty name", folder);
    if (name == L"." || name == L"..") Fail("\".\" or \"..\" name", folder);
    if (name.back() == L'.' || name.back() == L' ') Fail("name ending in a dot or space", folder);
    if (Reserved(name)) Fail("reserved name", folder);
    for (wchar_t c : name) {
      if (Forbidden(c)) Fail("forbidden character", folder);
    }
    pos = end + 1;
  }

  if (!install::DestinationProblem(dest).empty()) Fail("refused once its backslash is added", folder);
  if (install::WithTrailingBackslash(dest) != dest) Fail("a second backslash was added", folder);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return -1;  // far beyond any path; keeps each run short
  const std::wstring folder = Decode(data, size);
  if (install::DestinationProblem(folder).empty()) CheckAccepted(folder);
  return 0;
}
