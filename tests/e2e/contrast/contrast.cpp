// contrast.dll: high contrast for a program under Wine, as Windows reports it. Wine 8 answers
// SPI_GETHIGHCONTRAST with high contrast off whatever the user's settings say, and cannot turn it
// on. Loaded into a program (uia inject), this library takes the program's import of
// SystemParametersInfoW and answers SPI_GETHIGHCONTRAST with the flags that the settings hold
// where Windows keeps them (HKCU\Control Panel\Accessibility\HighContrast, "Flags"); every other
// call is the system's. It loads only where it could take the import.
#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

using SpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT);
SpiFn systemSpi = nullptr;

BOOL WINAPI Spi(UINT action, UINT param, PVOID data, UINT flags) {
  const BOOL ok = systemSpi(action, param, data, flags);
  if (ok && action == SPI_GETHIGHCONTRAST && data) {
    wchar_t text[16] = L"";
    DWORD size = sizeof text;
    if (RegGetValueW(HKEY_CURRENT_USER, L"Control Panel\\Accessibility\\HighContrast", L"Flags", RRF_RT_REG_SZ,
                     nullptr, text, &size) == ERROR_SUCCESS) {
      static_cast<HIGHCONTRASTW*>(data)->dwFlags = wcstoul(text, nullptr, 10);
    }
  }
  return ok;
}

// The program's import address table entry of user32's SystemParametersInfoW, or none.
ULONG_PTR* ImportSlot() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); imports && d->Name; ++d) {
    if (_stricmp(reinterpret_cast<char*>(base + d->Name), "user32.dll") != 0 || !d->OriginalFirstThunk) continue;
    auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; name->u1.AddressOfData; ++name, ++slot) {
      if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
      const auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "SystemParametersInfoW") == 0) {
        return reinterpret_cast<ULONG_PTR*>(&slot->u1.Function);
      }
    }
  }
  return nullptr;
}

bool TakeImport() {
  ULONG_PTR* slot = ImportSlot();
  DWORD old = 0;
  if (!slot || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return false;
  systemSpi = reinterpret_cast<SpiFn>(*slot);
  *slot = reinterpret_cast<ULONG_PTR>(&Spi);
  VirtualProtect(slot, sizeof *slot, old, &old);
  return true;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
  return reason != DLL_PROCESS_ATTACH || TakeImport();
}
