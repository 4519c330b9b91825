#include "win32/registration.h"

#include "win32/module.h"
#include "win32/tallowin_ids.h"

namespace tallowin::win32 {

namespace {

constexpr wchar_t kDescription[] = L"Tallowin frmMain";
constexpr wchar_t kLibraryDescription[] = L"Tallowin computer inventory control";
// Component categories: control, safe for scripting, safe for initialising.
constexpr const wchar_t* kCategories[] = {
    L"{40FC6ED4-2438-11CF-A3DB-080036F12502}",
    L"{7DD95801-9882-11CF-9FA9-00AA006C42C4}",
    L"{7DD95802-9882-11CF-9FA9-00AA006C42C4}",
};
// The automation marshaller, for a dual interface described by a type library.
constexpr wchar_t kOleAutomationProxy[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr wchar_t kTypeLibPlatform[] = L"win64";
#else
constexpr wchar_t kTypeLibPlatform[] = L"win32";
#endif

HKEY scopeRoot(RegistrationScope scope) {
  return scope == RegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

const wchar_t* kClassesPath = L"Software\\Classes";

LONG deleteTree(HKEY classes, const std::wstring& path) {
  const LONG rc = ::RegDeleteTreeW(classes, path.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

void deleteIfEmpty(HKEY classes, const wchar_t* path) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(classes, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD subKeys = 1, values = 1;
  const LONG rc = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                     nullptr, nullptr, nullptr);
  ::RegCloseKey(key);
  if (rc == ERROR_SUCCESS && subKeys == 0 && values == 0) ::RegDeleteKeyW(classes, path);
}

LONG writeEntry(HKEY classes, const RegistryEntry& e) {
  HKEY key = nullptr;
  LONG rc = ::RegCreateKeyExW(classes, e.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  if (e.hasValue)
    rc = ::RegSetValueExW(key, e.name.empty() ? nullptr : e.name.c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(e.data.c_str()),
                          static_cast<DWORD>((e.data.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  return rc;
}

std::wstring folderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath) {
  const std::wstring clsid = std::wstring(L"CLSID\\") + kClsidText;
  const std::wstring version = std::to_wstring(kTypeLibMajor) + L"." + std::to_wstring(kTypeLibMinor);
  const std::wstring typeLib = std::wstring(L"TypeLib\\") + kLibidText + L"\\" + version;
  const std::wstring iface = std::wstring(L"Interface\\") + kIidFrmMainText;
  std::vector<RegistryEntry> entries = {
      {clsid, true, L"", kDescription},
      {clsid + L"\\InprocServer32", true, L"", modulePath},
      {clsid + L"\\InprocServer32", true, L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", true, L"", kProgIdVersioned},
      {clsid + L"\\VersionIndependentProgID", true, L"", kProgId},
      {clsid + L"\\Control", false, L"", L""},
      {clsid + L"\\MiscStatus", true, L"", L"0"},
      {clsid + L"\\MiscStatus\\1", true, L"", std::to_wstring(kMiscStatus)},
      {clsid + L"\\ToolboxBitmap32", true, L"", modulePath + L", " + std::to_wstring(kToolboxBitmapId)},
      {clsid + L"\\TypeLib", true, L"", kLibidText},
      {clsid + L"\\Version", true, L"", version},
  };
  for (const wchar_t* category : kCategories)
    entries.push_back({clsid + L"\\Implemented Categories\\" + category, false, L"", L""});
  entries.insert(entries.end(), {
      {kProgId, true, L"", kDescription},
      {std::wstring(kProgId) + L"\\CLSID", true, L"", kClsidText},
      {std::wstring(kProgId) + L"\\CurVer", true, L"", kProgIdVersioned},
      {kProgIdVersioned, true, L"", kDescription},
      {std::wstring(kProgIdVersioned) + L"\\CLSID", true, L"", kClsidText},
      {typeLib, true, L"", kLibraryDescription},
      {typeLib + L"\\0\\" + kTypeLibPlatform, true, L"", modulePath},
      {typeLib + L"\\FLAGS", true, L"", L"0"},
      {typeLib + L"\\HELPDIR", true, L"", folderOf(modulePath)},
      {iface, true, L"", L"_frmMain"},
      {iface + L"\\ProxyStubClsid", true, L"", kOleAutomationProxy},
      {iface + L"\\ProxyStubClsid32", true, L"", kOleAutomationProxy},
      {iface + L"\\TypeLib", true, L"", kLibidText},
      {iface + L"\\TypeLib", true, L"Version", version},
  });
  return entries;
}

std::vector<std::wstring> RegistrationRoots() {
  return {std::wstring(L"CLSID\\") + kClsidText, kProgId, kProgIdVersioned, std::wstring(L"TypeLib\\") + kLibidText,
          std::wstring(L"Interface\\") + kIidFrmMainText};
}

HRESULT RegisterServer(RegistrationScope scope) {
  try {
    const std::wstring path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    HKEY classes = nullptr;
    LONG rc = ::RegCreateKeyExW(scopeRoot(scope), kClassesPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes,
                                nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    for (const RegistryEntry& e : RegistrationEntries(path)) {
      rc = writeEntry(classes, e);
      if (rc != ERROR_SUCCESS) break;
    }
    ::RegCloseKey(classes);
    if (rc == ERROR_SUCCESS) return S_OK;
    // Half a registration is worse than none.
    UnregisterServer(scope);
    return HRESULT_FROM_WIN32(rc);
  } catch (...) {
    UnregisterServer(scope);
    return SELFREG_E_CLASS;
  }
}

HRESULT UnregisterServer(RegistrationScope scope) {
  try {
    HKEY classes = nullptr;
    LONG rc = ::RegOpenKeyExW(scopeRoot(scope), kClassesPath, 0, KEY_ALL_ACCESS, &classes);
    if (rc == ERROR_FILE_NOT_FOUND) return S_OK;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    LONG first = ERROR_SUCCESS;
    for (const std::wstring& root : RegistrationRoots()) {
      rc = deleteTree(classes, root);
      if (first == ERROR_SUCCESS) first = rc;
    }
    // Registration may have made these for the current user; empty, they go.
    for (const wchar_t* container : {L"CLSID", L"Interface", L"TypeLib"}) deleteIfEmpty(classes, container);
    ::RegCloseKey(classes);
    return first == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(first);
  } catch (...) {
    return SELFREG_E_CLASS;
  }
}

}  // namespace tallowin::win32
