// tallowin.ocx: the entry points COM and regsvr32 call. Nothing may escape
// them; the work is in src/win32/.
#include "win32/win.h"

#include "win32/activex_control.h"
#include "win32/frm_main.h"
#include "win32/module.h"
#include "win32/registration.h"
#include "win32/upload_binding.h"

using tallowin::win32::RegistrationScope;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) ::DisableThreadLibraryCalls(instance);
  // On FreeLibrary (not at process exit) the window class goes with the
  // code of its window procedure.
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) tallowin::win32::FrmMain::UnregisterWindowClass();
  return TRUE;
}

// The controls this factory makes run the inventory upload on Command1 and at
// their start.
STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  try {
    return tallowin::win32::GetFrmMainClassObject(clsid, riid, out, tallowin::win32::WindowUpload());
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

STDAPI DllCanUnloadNow() { return tallowin::win32::ModuleInUse() ? S_FALSE : S_OK; }

STDAPI DllRegisterServer() { return tallowin::win32::RegisterServer(RegistrationScope::Machine); }

STDAPI DllUnregisterServer() { return tallowin::win32::UnregisterServer(RegistrationScope::Machine); }

// regsvr32 /n /i:user registers for the current user only (no administrator
// needed), /u /n /i:user removes that again; without a command line it is
// the machine-wide registration.
STDAPI DllInstall(BOOL install, LPCWSTR commandLine) {
  RegistrationScope scope = RegistrationScope::Machine;
  if (commandLine && *commandLine) {
    if (::CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) != CSTR_EQUAL) return E_INVALIDARG;
    scope = RegistrationScope::User;
  }
  return install ? tallowin::win32::RegisterServer(scope) : tallowin::win32::UnregisterServer(scope);
}

}  // extern "C"
