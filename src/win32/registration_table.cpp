#include "win32/registration_table.h"

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

std::wstring clsidKey() { return std::wstring(L"CLSID\\") + kClsidText; }
std::wstring typeLibRoot() { return std::wstring(L"TypeLib\\") + kLibidText; }
std::wstring version() {
  return std::to_wstring(kTypeLibMajorVersion) + L"." + std::to_wstring(kTypeLibMinorVersion);
}

}  // namespace

std::vector<RegistryEntry> RegistrationEntries(const std::wstring& modulePath, const std::wstring& folder,
                                               ModuleBits bits) {
  const std::wstring clsid = clsidKey();
  const std::wstring typeLib = typeLibRoot() + L"\\" + version();
  const std::wstring iface = std::wstring(L"Interface\\") + kIidFrmMainText;
  std::vector<RegistryEntry> entries = {
      {clsid, true, L"", kDescription},
      {clsid + L"\\InprocServer32", true, L"", modulePath},
      {clsid + L"\\InprocServer32", true, L"ThreadingModel", L"Apartment"},
      {clsid + L"\\ProgID", true, L"", kProgIdVersioned},
      {clsid + L"\\VersionIndependentProgID", true, L"", kProgId},
      {clsid + L"\\Control", false, L"", L""},
      {clsid + L"\\MiscStatus", true, L"", L"0"},
      {clsid + L"\\MiscStatus\\1", true, L"", std::to_wstring(kMiscStatusValue)},
      {clsid + L"\\ToolboxBitmap32", true, L"", modulePath + L", " + std::to_wstring(kToolboxBitmapId)},
      {clsid + L"\\TypeLib", true, L"", kLibidText},
      {clsid + L"\\Version", true, L"", version()},
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
      {OwnTypeLibPlatformKey(bits), true, L"", modulePath},
      {typeLib + L"\\FLAGS", true, L"", L"0"},
      {TypeLibHelpDirKey(), true, L"", folder},
      {iface, true, L"", L"_frmMain"},
      {iface + L"\\ProxyStubClsid", true, L"", kOleAutomationProxy},
      {iface + L"\\ProxyStubClsid32", true, L"", kOleAutomationProxy},
      {iface + L"\\TypeLib", true, L"", kLibidText},
      {iface + L"\\TypeLib", true, L"Version", version()},
  });
  return entries;
}

std::vector<std::wstring> OwnRegistrationRoots() {
  return {clsidKey(), std::wstring(L"Interface\\") + kIidFrmMainText};
}

std::wstring TypeLibHelpDirKey() { return typeLibRoot() + L"\\" + version() + L"\\HELPDIR"; }

std::wstring TypeLibLanguageKey() { return typeLibRoot() + L"\\" + version() + L"\\0"; }

std::wstring OwnTypeLibPlatformKey(ModuleBits bits) {
  return TypeLibLanguageKey() + (bits == ModuleBits::Bits64 ? L"\\win64" : L"\\win32");
}

std::vector<std::wstring> SharedRegistrationRoots() { return {kProgId, kProgIdVersioned, typeLibRoot()}; }

std::wstring ServerKey() { return clsidKey() + L"\\InprocServer32"; }

}  // namespace tallowin::win32
