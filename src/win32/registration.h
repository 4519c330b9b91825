// The control's registry entries: written by DllRegisterServer (for the
// machine) or DllInstall "user" (for the current user only), removed again,
// all of them, by the matching unregistration.
#pragma once

#include "win32/win.h"

#include <string>
#include <vector>

namespace tallowin::win32 {

enum class RegistrationScope {
  Machine,  // HKEY_LOCAL_MACHINE\Software\Classes
  User,     // HKEY_CURRENT_USER\Software\Classes: needs no administrator
};

// One value to write, relative to the scope's Classes key; a key of its own
// when name and data are both absent (hasValue false).
struct RegistryEntry {
  std::wstring key;
  bool hasValue = true;
  std::wstring name;  // "" is the key's default value
  std::wstring data;  // always REG_SZ
};

// Everything registration writes for the module at modulePath.
std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath);
// The trees unregistration removes.
std::vector<std::wstring> RegistrationRoots();

HRESULT RegisterServer(RegistrationScope scope);
HRESULT UnregisterServer(RegistrationScope scope);

}  // namespace tallowin::win32
