#include "win32/registration.h"

#include "win32/handles.h"
#include "win32/module.h"
#include "win32/tallowin_ids.h"

namespace tallowin::win32 {

namespace {

#ifdef _WIN64
constexpr ModuleBits kThisBuild = ModuleBits::Bits64;
constexpr ModuleBits kOtherBuild = ModuleBits::Bits32;
// Where the other build's registration lives (ignored on 32-bit Windows,
// where there is one view and so no other build).
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
#else
constexpr ModuleBits kThisBuild = ModuleBits::Bits32;
constexpr ModuleBits kOtherBuild = ModuleBits::Bits64;
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
#endif

HKEY scopeRoot(RegistrationScope scope) {
  return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

const wchar_t* kClassesPath = L"Software\\Classes";

LONG deleteTree(HKEY classes, const std::wstring& path) {
  const LONG rc = ::RegDeleteTreeW(classes, path.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

void deleteIfEmpty(HKEY classes, const std::wstring& path) {
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(classes, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) return;
  UniqueKey key(raw);
  DWORD subKeys = 1, values = 1;
  const LONG rc = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values,
                                     nullptr, nullptr, nullptr, nullptr);
  key.reset();
  if (rc == ERROR_SUCCESS && subKeys == 0 && values == 0) ::RegDeleteKeyW(classes, path.c_str());
}

LONG writeEntry(HKEY classes, const RegistryEntry& e) {
  HKEY raw = nullptr;
  LONG rc = ::RegCreateKeyExW(classes, e.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &raw, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  const UniqueKey key(raw);
  if (e.hasValue)
    rc = ::RegSetValueExW(key.get(), e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(e.data.c_str()),
                          static_cast<DWORD>((e.data.size() + 1) * sizeof(wchar_t)));
  return rc;
}

// Whether the other build (x86 beside x64) is registered in this scope.
bool otherBuildRegistered(RegistrationScope scope) {
  const std::wstring path = std::wstring(kClassesPath) + L"\\" + ServerKey();
  HKEY raw = nullptr;
  if (::RegOpenKeyExW(scopeRoot(scope), path.c_str(), 0, KEY_READ | kOtherView, &raw) != ERROR_SUCCESS)
    return false;
  const UniqueKey key(raw);
  return true;
}

std::wstring folderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

// The type library's HELPDIR is one value for both builds, written by the
// last one registered: when this build goes and the other stays, it names
// the other build's folder again.
void restoreOtherHelpDir(HKEY classes) {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD size = sizeof(path) - sizeof(wchar_t);
  if (::RegGetValueW(classes, OwnTypeLibPlatformKey(kOtherBuild).c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path,
                     &size) != ERROR_SUCCESS)
    return;
  writeEntry(classes, {TypeLibHelpDirKey(), true, L"", folderOf(path)});
}

}  // namespace

std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath) {
  return RegistrationEntries(modulePath, folderOf(modulePath), kThisBuild);
}

HRESULT RegisterServer(RegistrationScope scope) {
  LONG rc = ERROR_SUCCESS;
  bool threw = false;
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    HKEY raw = nullptr;
    rc = ::RegCreateKeyExW(scopeRoot(scope), kClassesPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    const UniqueKey classes(raw);
    for (const RegistryEntry& e : RegistrationEntries(path)) {
      rc = writeEntry(classes.get(), e);
      if (rc != ERROR_SUCCESS) break;
    }
  } catch (...) {
    threw = true;
  }
  if (rc == ERROR_SUCCESS && !threw) return S_OK;
  // Half a registration is worse than none.
  UnregisterServer(scope);
  return threw ? SELFREG_E_CLASS : HRESULT_FROM_WIN32(rc);
}

HRESULT UnregisterServer(RegistrationScope scope) {
  try {
    HKEY raw = nullptr;
    LONG rc = ::RegOpenKeyExW(scopeRoot(scope), kClassesPath, 0, KEY_ALL_ACCESS, &raw);
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    const UniqueKey classes(raw);
    LONG first = ERROR_SUCCESS;
    auto remove = [&](const std::wstring& path) {
      rc = deleteTree(classes.get(), path);
      if (first == ERROR_SUCCESS) first = rc;
    };
    for (const std::wstring& root : OwnRegistrationRoots()) remove(root);
    remove(OwnTypeLibPlatformKey(kThisBuild));
    deleteIfEmpty(classes.get(), TypeLibLanguageKey());
    // Checked after this build's CLSID is gone: with one registry view (32-bit
    // Windows) the "other" view is this one.
    if (!otherBuildRegistered(scope))
      for (const std::wstring& root : SharedRegistrationRoots()) remove(root);
    else
      restoreOtherHelpDir(classes.get());
    // Registration may have made these for the current user; empty, they go.
    for (const wchar_t* container : {L"CLSID", L"Interface", L"TypeLib"}) deleteIfEmpty(classes.get(), container);
    return first == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(first);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace tallowin::win32
