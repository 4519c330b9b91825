// The control's registry entries (registration_table.h): written by
// DllRegisterServer (for the machine) or DllInstall "user" (for the current
// user only), removed again by the matching unregistration.
#pragma once

#include "win32/win.h"

#include "win32/registration_table.h"

namespace tallowin::win32 {

enum class RegistrationScope {
  Machine,  // HKEY_LOCAL_MACHINE\Software\Classes
  User,     // HKEY_CURRENT_USER\Software\Classes: needs no administrator
};

// This build's entries for the module at modulePath.
std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath);

HRESULT RegisterServer(RegistrationScope scope);
// Removes this build's keys. The x64 and the x86 ocx may both be registered
// on one 64-bit machine: the keys both views share (ProgIDs, the type
// library) stay while the other build's registration remains.
HRESULT UnregisterServer(RegistrationScope scope);

}  // namespace tallowin::win32
